// A temporary directory tree for the file and directory tests, removed with its contents.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "quenzel-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root); }

  // Writes content (bytes as given) to root/relative, creating folders on the way.
  std::string Write(const std::string& relative, const std::string& content) {
    std::filesystem::path path = root / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  std::string Folder(const std::string& relative) {
    std::filesystem::path path = root / relative;
    std::filesystem::create_directories(path);
    return path.string();
  }

  std::filesystem::path root;
};
