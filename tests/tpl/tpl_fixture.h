// A test fixture that routes the serialiser's hooks through recorders: reports are collected
// as text, and every block from the allocation hooks is counted so that a test can see what is
// still held. A test may dump on one thread while it loads on another, so the counts are atomic
// and reports are appended one at a time.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "tpl.h"

class TplTest : public ::testing::Test {
 public:
  static inline std::string reports;
  static inline std::atomic<long> liveBlocks{0};
  static inline std::atomic<long> allocations{0};
  static inline std::mutex reportsLock;

  static int recordReport(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(reportsLock);
    reports += text;
    return 0;
  }
  static void* countingMalloc(size_t size) {
    void* block = malloc(size);
    if (block != nullptr) ++liveBlocks, ++allocations;
    return block;
  }
  static void* countingRealloc(void* block, size_t size) {
    void* grown = realloc(block, size);
    if (block == nullptr && grown != nullptr) ++liveBlocks, ++allocations;
    return grown;
  }
  static void countingFree(void* block) {
    if (block != nullptr) --liveBlocks;
    free(block);
  }

 protected:
  void SetUp() override {
    saved_ = tpl_hooks;
    tpl_hooks.report = recordReport;
    tpl_hooks.malloc = countingMalloc;
    tpl_hooks.realloc = countingRealloc;
    tpl_hooks.free = countingFree;
    reports.clear();
    liveBlocks = 0;
    allocations = 0;
  }
  void TearDown() override {
    EXPECT_EQ(liveBlocks.load(), 0) << "blocks from the allocation hooks still held";
    tpl_hooks = saved_;
  }

 public:
  // The whole image of what is packed, through the memory mode.
  static std::vector<uint8_t> dumpImage(tpl_map_node* map) {
    void* buffer = nullptr;
    size_t size = 0;
    EXPECT_EQ(tpl_dump(map, TPL_MODE_MEMORY, &buffer, &size), 0);
    std::vector<uint8_t> image(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
    tpl_hooks.free(buffer);
    return image;
  }

  // Loads a copy of the bytes held in a block of exactly their size (so that a read past the
  // end is caught by the address sanitizer); the copy is the map's on success.
  static int loadCopy(tpl_map_node* map, const std::vector<uint8_t>& image, int extraMode = 0) {
    void* copy = tpl_hooks.malloc(image.empty() ? 1 : image.size());
    if (!image.empty()) memcpy(copy, image.data(), image.size());
    int result = tpl_load(map, TPL_MODE_MEMORY | TPL_MODE_FREE_BUFFER | extraMode, copy, image.size());
    if (result != 0) tpl_hooks.free(copy);
    return result;
  }

 private:
  tpl_hook_table saved_{};

};
