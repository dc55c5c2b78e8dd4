// Loading and unloading a model's external libraries: two tiny test libraries report every load
// and unload to this program.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "extlibs.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {
std::map<std::string, int> loads;
std::map<std::string, int> unloads;
}  // namespace

extern "C" __attribute__((visibility("default"))) void QuenzelTestLibraryEvent(const char* name,
                                                                               int loaded) {
  ++(loaded ? loads : unloads)[name];
}

namespace {
const fs::path kLibraryA = QUENZEL_TESTLIB_A;
const fs::path kLibraryB = QUENZEL_TESTLIB_B;

// Which test library a handle holds, or "" for none.
std::string NameOf(void* handle) {
  if (!handle) return "";
  auto name = reinterpret_cast<const char* (*)(void)>(
      PlatformLibrarySymbol(handle, "QuenzelTestLibraryName"));
  return name ? name() : "?";
}

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    loads.clear();
    unloads.clear();
  }
  void TearDown() override {
    if (list) LoadExternalLibraries(list, &handles, 0, nullptr);
    free(handles);
    std::error_code ignored;
    if (!scratch.empty()) fs::remove_all(scratch, ignored);
  }
  // A fresh folder of this test's own.
  fs::path Scratch() {
    std::random_device random;
    scratch = fs::temp_directory_path() /
              ("quenzel_extlibs_" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(scratch);
    return scratch;
  }
  // The model's list: null-terminated, alive until TearDown unloads it.
  void SetList(std::vector<std::string> paths) {
    entries = std::move(paths);
    pointers.clear();
    for (const std::string& entry : entries) pointers.push_back(entry.c_str());
    pointers.push_back(nullptr);
    list = pointers.data();
  }
  std::vector<std::string> entries;
  std::vector<const char*> pointers;
  const char** list = nullptr;
  void** handles = nullptr;
  fs::path scratch;
};

TEST_F(Loader, LoadsEachLibraryOnceUntilItIsUnloaded) {
  SetList({kLibraryA, kLibraryB});
  EXPECT_EQ(LoadExternalLibraries(list, &handles, 1, nullptr), list);
  ASSERT_NE(handles, nullptr);
  EXPECT_EQ(NameOf(handles[0]), "a");
  EXPECT_EQ(NameOf(handles[1]), "b");
  void** table = handles;
  void* first = handles[0];

  LoadExternalLibraries(list, &handles, 1, nullptr);
  EXPECT_EQ(handles, table);
  EXPECT_EQ(handles[0], first);
  EXPECT_EQ(loads["a"], 1);
  EXPECT_EQ(loads["b"], 1);

  LoadExternalLibraries(list, &handles, 0, nullptr);
  EXPECT_EQ(handles, table);  // emptied, not released
  EXPECT_EQ(handles[0], nullptr);
  EXPECT_EQ(handles[1], nullptr);
  EXPECT_EQ(unloads["a"], 1);
  EXPECT_EQ(unloads["b"], 1);

  LoadExternalLibraries(list, &handles, 1, nullptr);
  EXPECT_EQ(loads["a"], 2);
  EXPECT_EQ(loads["b"], 2);
  EXPECT_EQ(NameOf(handles[1]), "b");
}

TEST_F(Loader, AFailedLoadIsSilentAndTriedAgainAtTheNextLoad) {
  fs::path folder = Scratch();
  std::string missing = folder / "libnot_there_yet.so";
  SetList({missing, kLibraryA});
  LoadExternalLibraries(list, &handles, 1, nullptr);
  ASSERT_NE(handles, nullptr);
  EXPECT_EQ(handles[0], nullptr);
  EXPECT_EQ(NameOf(handles[1]), "a");

  fs::copy_file(kLibraryB, missing);
  LoadExternalLibraries(list, &handles, 1, nullptr);
  EXPECT_EQ(NameOf(handles[0]), "b");
  EXPECT_EQ(loads["a"], 1);  // the loaded one is not loaded again
}

TEST_F(Loader, EntriesRelativeToTheUnitAreFoundInItsFolder) {
  const std::string folder = kLibraryA.parent_path();
  SetList({"./" + kLibraryA.filename().string(), ".\\" + kLibraryB.filename().string()});
  const std::string unit = folder + "/Quenzel.so";
  LoadExternalLibraries(list, &handles, 1, unit.c_str());
  ASSERT_NE(handles, nullptr);
  EXPECT_EQ(NameOf(handles[0]), "a");
  EXPECT_EQ(NameOf(handles[1]), "b");
}

TEST_F(Loader, WithoutTheUnitsPathRelativeEntriesAreFoundInTheCurrentFolder) {
  const fs::path folder = kLibraryA.parent_path();
  SetList({"./" + kLibraryA.filename().string(), ".\\" + kLibraryB.filename().string()});
  const fs::path previous = fs::current_path();
  fs::current_path(Scratch());
  for (const char* ownPath : {static_cast<const char*>(nullptr), "", "Quenzel.so"}) {
    LoadExternalLibraries(list, &handles, 1, ownPath);
    ASSERT_NE(handles, nullptr);
    EXPECT_EQ(handles[0], nullptr) << "found outside the current folder";
    EXPECT_EQ(handles[1], nullptr);
  }
  fs::current_path(folder);
  LoadExternalLibraries(list, &handles, 1, "");
  fs::current_path(previous);
  EXPECT_EQ(NameOf(handles[0]), "a");
  EXPECT_EQ(NameOf(handles[1]), "b");
}

TEST_F(Loader, AnEntryWhosePathIsTooLongIsSkipped) {
  const std::string unit = "/" + std::string(5000, 'x') + "/Quenzel.so";
  SetList({"./" + kLibraryA.filename().string(), kLibraryB});
  LoadExternalLibraries(list, &handles, 1, unit.c_str());
  ASSERT_NE(handles, nullptr);
  EXPECT_EQ(handles[0], nullptr);
  EXPECT_EQ(NameOf(handles[1]), "b");
}

TEST_F(Loader, NothingToLoadAllocatesNothing) {
  const char* empty[] = {nullptr};
  std::string a = kLibraryA;
  const char* one[] = {a.c_str(), nullptr};
  struct Case {
    const char* name;
    const char** list;
    int load;
  } cases[] = {
      {"null list, load", nullptr, 1},
      {"null list, unload", nullptr, 0},
      {"empty list, load", empty, 1},
      {"unload before any load", one, 0},
  };
  for (const Case& c : cases) {
    void** table = nullptr;
    EXPECT_EQ(LoadExternalLibraries(c.list, &table, c.load, nullptr), c.list) << c.name;
    EXPECT_EQ(table, nullptr) << c.name;
  }
  EXPECT_EQ(LoadExternalLibraries(one, nullptr, 1, nullptr), one);
  EXPECT_TRUE(loads.empty());
}
}  // namespace
