// The resources folder of a library loaded from an unpacked unit's tree.
#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "temp_tree.h"

using LoadedResources = TempTree;

TEST_F(LoadedResources, FolderBesideTheBinariesOfTheLoadedLibrary) {
  const std::filesystem::path binaries = root / "fmu" / "binaries" / "linux64";
  std::filesystem::create_directories(binaries);
  std::filesystem::copy_file(QUENZEL_RESOURCES_PROBE, binaries / "Quenzel.so");
  void* library = dlopen((binaries / "Quenzel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto probe = reinterpret_cast<const char* (*)(void)>(dlsym(library, "ProbeResourcesPath"));
  ASSERT_NE(probe, nullptr);
  const std::string expected = std::filesystem::canonical(root).string() + "/fmu/resources/";
  EXPECT_EQ(std::string(probe()), expected);
  EXPECT_EQ(std::string(probe()), expected);  // computed once, the same text after
  dlclose(library);
}
