// Builds tpl images byte by byte, as the image layout describes them, independently of the
// serialiser: tests compare the serialiser's images with these, and the fuzz target seeds its
// corpus with them.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

struct ImageBuilder {
  std::vector<uint8_t> bytes;
  bool big_endian = false;

  // Magic, flag byte, a length word to be set by finish(), the format and the fixed lengths.
  ImageBuilder& header(const char* format, uint8_t flags, std::initializer_list<uint32_t> lengths) {
    raw("tpl", 3);
    bytes.push_back(flags);
    u32(0);
    raw(format, strlen(format) + 1);
    for (uint32_t length : lengths) u32(length);
    return *this;
  }
  ImageBuilder& raw(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    return *this;
  }
  template <typename T>
  ImageBuilder& value(T v) {
    uint8_t b[sizeof(T)];
    memcpy(b, &v, sizeof(T));
    if (big_endian)
      for (size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    return raw(b, sizeof(T));
  }
  ImageBuilder& u32(uint32_t v) { return value(v); }
  template <typename T>
  ImageBuilder& values(std::initializer_list<T> vs) {
    for (T v : vs) value(v);
    return *this;
  }
  // A null string is the word 0; any other is strlen + 1, then its characters.
  ImageBuilder& str(const char* text) {
    if (text == nullptr) return u32(0);
    u32(static_cast<uint32_t>(strlen(text) + 1));
    return raw(text, strlen(text));
  }
  ImageBuilder& blob(const void* data, uint32_t length) {
    u32(length);
    return raw(data, length);
  }
  // Stores the total length at offset 4.
  std::vector<uint8_t> finish() {
    ImageBuilder word;
    word.big_endian = big_endian;
    word.u32(static_cast<uint32_t>(bytes.size()));
    memcpy(bytes.data() + 4, word.bytes.data(), 4);
    return bytes;
  }
};
