#include "fmu_host.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "exported_functions.h"

namespace {

HostAllocator allocatorState;
std::mutex allocatorMutex;

// Each block carries its size in front so that live bytes can be counted at free.
struct BlockHeader {
  size_t bytes;
  size_t magic;
};
constexpr size_t kMagic = 0x51756e7a656cULL;

extern "C" void* hostAllocate(size_t nobj, size_t size) {
  std::lock_guard<std::mutex> guard(allocatorMutex);
  HostAllocator& a = allocatorState;
  ++a.calls;
  a.requests.emplace_back(nobj, size);
  if (a.failAt != 0 && a.calls == a.failAt) return nullptr;
  if (size != 0 && nobj > (static_cast<size_t>(-1) - sizeof(BlockHeader)) / size) return nullptr;
  size_t bytes = nobj * size;
  auto* header = static_cast<BlockHeader*>(malloc(sizeof(BlockHeader) + (bytes ? bytes : 1)));
  if (!header) return nullptr;
  header->bytes = bytes;
  header->magic = kMagic;
  void* block = header + 1;
  memset(block, a.poison ? 0xAB : 0, bytes);
  ++a.allocations;
  ++a.liveBlocks;
  a.liveBytes += static_cast<long long>(bytes);
  return block;
}

extern "C" void hostFree(void* block) {
  if (!block) return;
  std::lock_guard<std::mutex> guard(allocatorMutex);
  auto* header = static_cast<BlockHeader*>(block) - 1;
  if (header->magic != kMagic) {
    fprintf(stderr, "test host: freeMemory of a block it did not allocate\n");
    abort();
  }
  header->magic = 0;
  HostAllocator& a = allocatorState;
  ++a.frees;
  --a.liveBlocks;
  a.liveBytes -= static_cast<long long>(header->bytes);
  free(header);
}

extern "C" void hostLogger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                           fmi2String category, fmi2String message, ...) {
  auto* callbacks = static_cast<HostCallbacks*>(env);
  if (!callbacks) return;
  va_list args;
  va_start(args, message);
  callbacks->record(instanceName, status, category, message, args);
  va_end(args);
}

extern "C" void hostStepFinished(fmi2ComponentEnvironment env, fmi2Status) {
  if (env) ++static_cast<HostCallbacks*>(env)->stepFinishedCalls;
}

}  // namespace

HostAllocator& hostAllocator() { return allocatorState; }

void resetHostAllocator() {
  std::lock_guard<std::mutex> guard(allocatorMutex);
  allocatorState = HostAllocator{};
}

HostCallbacks::HostCallbacks()
    : functions_{hostLogger, hostAllocate, hostFree, nullptr, this},
      withStepFinished_{hostLogger, hostAllocate, hostFree, hostStepFinished, this} {}

void HostCallbacks::record(fmi2String instanceName, fmi2Status status, fmi2String category, fmi2String message,
                           va_list args) {
  char text[16384];
  text[0] = '\0';
  if (message) vsnprintf(text, sizeof text, message, args);
  log.push_back(LogRecord{status, category ? category : "<null>", instanceName ? instanceName : "<null>", text});
}

std::vector<std::string> HostCallbacks::texts() const {
  std::vector<std::string> result;
  for (const LogRecord& r : log) result.push_back(r.text);
  return result;
}

bool HostCallbacks::contains(const std::string& part) const {
  for (const LogRecord& r : log)
    if (r.text.find(part) != std::string::npos) return true;
  return false;
}

FmuLibrary::FmuLibrary(const char* path) {
  handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* e = dlerror();
    error_ = e ? e : "dlopen failed";
    return;
  }
#define FMU_HOST_RESOLVE(name, ret, params) name = reinterpret_cast<name##TYPE>(dlsym(handle_, #name));
  FMI2_FUNCTIONS(FMU_HOST_RESOLVE)
#undef FMU_HOST_RESOLVE
}

FmuLibrary::~FmuLibrary() {
  if (handle_) dlclose(handle_);
}

const std::vector<std::string>& allFmi2FunctionNames() {
  static const std::vector<std::string> names = {
#define FMU_HOST_NAME(name, ret, params) #name,
      FMI2_FUNCTIONS(FMU_HOST_NAME)
#undef FMU_HOST_NAME
  };
  return names;
}

const std::vector<std::string>& builtFmi2FunctionNames() {
  static const std::vector<std::string> names = {QUENZEL_BUILT_FUNCTIONS};
  return names;
}

namespace {

// The whole file, or nothing when it is no 64-bit ELF object whose section table lies inside it.
std::vector<char> readElf(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (image.size() < sizeof(Elf64_Ehdr)) return {};
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  if (memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 || header->e_ident[EI_CLASS] != ELFCLASS64) return {};
  if (header->e_shoff + static_cast<size_t>(header->e_shnum) * sizeof(Elf64_Shdr) > image.size()) return {};
  return image;
}

template <typename Visit>
void forEachSection(const std::vector<char>& image, Elf64_Word type, Visit&& visit) {
  if (image.empty()) return;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
  for (int i = 0; i < header->e_shnum; ++i)
    if (sections[i].sh_type == type) visit(sections[i], sections[sections[i].sh_link]);
}

// Names of the symbols a table of the given type defines; only global and weak ones when asked.
std::vector<std::string> definedSymbols(const char* path, Elf64_Word type, bool globalOnly) {
  std::vector<std::string> names;
  std::vector<char> image = readElf(path);
  forEachSection(image, type, [&](const Elf64_Shdr& table, const Elf64_Shdr& strings) {
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + table.sh_offset);
    size_t count = table.sh_size / sizeof(Elf64_Sym);
    for (size_t k = 0; k < count; ++k) {
      const Elf64_Sym& s = symbols[k];
      if (s.st_shndx == SHN_UNDEF || s.st_name == 0) continue;
      int binding = ELF64_ST_BIND(s.st_info);
      if (globalOnly && binding != STB_GLOBAL && binding != STB_WEAK) continue;
      names.emplace_back(image.data() + strings.sh_offset + s.st_name);
    }
  });
  return names;
}

}  // namespace

std::vector<std::string> definedDynamicSymbols(const char* path) { return definedSymbols(path, SHT_DYNSYM, true); }

std::vector<std::string> definedFunctionNames(const char* path) {
  std::vector<std::string> names;
  for (const std::string& symbol : definedSymbols(path, SHT_SYMTAB, false)) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : symbol;
    free(demangled);
    names.push_back(name.substr(0, name.find('(')));
  }
  return names;
}

std::vector<std::string> neededLibraries(const char* path) {
  std::vector<std::string> needed;
  std::vector<char> image = readElf(path);
  forEachSection(image, SHT_DYNAMIC, [&](const Elf64_Shdr& table, const Elf64_Shdr& strings) {
    const auto* entries = reinterpret_cast<const Elf64_Dyn*>(image.data() + table.sh_offset);
    size_t count = table.sh_size / sizeof(Elf64_Dyn);
    for (size_t k = 0; k < count && entries[k].d_tag != DT_NULL; ++k)
      if (entries[k].d_tag == DT_NEEDED) needed.emplace_back(image.data() + strings.sh_offset + entries[k].d_un.d_val);
  });
  return needed;
}
