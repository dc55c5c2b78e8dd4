// Files for the matrix-file tests: a fresh path per test, the bytes of a file, and writing or
// reading one matrix with the format layers directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "amat.h"
#include "amatformat.h"
#include "amatget.h"
#include "test_files.h"

inline std::vector<unsigned char> FileBytes(const std::string& path) {
  std::vector<unsigned char> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
  fclose(f);
  return bytes;
}

inline std::string FileText(const std::string& path) {
  std::vector<unsigned char> bytes = FileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<unsigned char>(text.begin(), text.end()));
}

// Little-endian bytes of values.
template <typename T>
void Append(std::vector<unsigned char>& bytes, std::initializer_list<T> values) {
  for (T v : values) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof v);
  }
}
inline void AppendText(std::vector<unsigned char>& bytes, const char* text, size_t size) {
  bytes.insert(bytes.end(), text, text + size);
}

// A binary header with its name and its NUL.
inline std::vector<unsigned char> BinHeader(int32_t code, int32_t mrows, int32_t ncols, const char* name) {
  std::vector<unsigned char> bytes;
  Append<int32_t>(bytes, {code, mrows, ncols, 0, static_cast<int32_t>(strlen(name) + 1)});
  AppendText(bytes, name, strlen(name) + 1);
  return bytes;
}

// A write record on a file of its own, closed by its destructor.
struct WriteRecord {
  AmatWriteFile file{};
  std::string path;
  WriteRecord(const std::string& p, int format, int bstruct) : path(p) {
    file.stream = fopen(path.c_str(), "wb");
    file.path = const_cast<char*>(path.c_str());
    file.format = format;
    file.bstruct = bstruct;
  }
  ~WriteRecord() {
    if (file.stream) fclose(file.stream);
  }
};

// A read record on a file, positioned after the "#1" of a text file.
struct ReadRecord {
  AmatReadFile file{};
  std::string path;
  ReadRecord(const std::string& p, int format, int transposed) : path(p) {
    file.stream = fopen(path.c_str(), "rb");
    file.path = const_cast<char*>(path.c_str());
    file.format = format;
    file.transposed = transposed;
    if (format == 0 && file.stream) {
      fgetc(file.stream);
      fgetc(file.stream);
    }
  }
  ~ReadRecord() {
    if (file.stream) fclose(file.stream);
  }
  // The next matrix in the delivered type (voidMatrix: the stored one): header, storage, data.
  int read(Amatrix* m, AmatType type, int trim = 1, const char* preset = nullptr) {
    amatInitMatrix(m);
    int result = file.format ? amatGetBinHeader(&file, m, preset) : amatGetTextHeader(&file, m, preset);
    if (result != 0) return result;
    AmatType stored = m->type;
    if (type != voidMatrix) m->type = type;
    if (m->nrow < 0 || m->ncol < 0 || static_cast<int64_t>(m->nrow) * m->ncol == 0) return 1;
    result = amatPrepareStorage(&file, m, stored);
    if (result == 0) {
      if (file.format)
        result = amatGetBinData(&file, m, stored, trim);
      else
        result = m->type == charMatrix ? amatGetTextChar(&file, m) : amatGetTextNumeric(&file, m);
    }
    if (preset) m->name = nullptr;
    if (result != 0) amatFreeMatrix(m);
    return result;
  }
};

inline std::string Hex(const std::vector<unsigned char>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) text += {digits[b >> 4], digits[b & 15]};
  return text;
}

// An expected message with "%s" standing for the file's path.
inline std::string WithPath(const char* message, const std::string& path) {
  std::string text = message;
  text.replace(text.find("%s"), 2, path);
  return text;
}

// A malformed file of the format read through the format layers (unless only amatGetMatrix's
// header check refuses it) and through amatGetMatrix: the same refusal each way, and nothing
// delivered.
inline void ExpectRefusedEachWay(const std::string& path, int format, bool headerCheck, int result,
                                 const char* message) {
  for (bool layers : {true, false}) {
    if (layers && headerCheck) continue;
    SCOPED_TRACE(layers ? "format layers" : "amatGetMatrix");
    ReadRecord r(path, format, 0);
    Amatrix m{};
    EXPECT_EQ(layers ? r.read(&m, voidMatrix) : amatGetMatrix(&r.file, &m, 0, nullptr, 1), result);
    EXPECT_EQ(std::string(amatMessage), WithPath(message, path));
    EXPECT_EQ(m.data, nullptr);
    EXPECT_EQ(m.name, nullptr);
  }
}

// Small matrices of every type, written by several tests.
namespace sample {
inline int32_t ints[] = {1, -3, 2, 4};  // [[1, 2], [-3, 4]] column by column
inline float reals[] = {1.5f, -2.0f, 0.25f};
inline double doubles[] = {1, 3, 2, 4};  // [[1, 2], [3, 4]]
inline float realRow0[] = {1, 2}, realRow1[] = {3, 4};
inline float* realRows[] = {realRow0, realRow1};
inline double doubleRow0[] = {1, 2, 3}, doubleRow1[] = {4, 5, 6};
inline double* doubleRows[] = {doubleRow0, doubleRow1};
inline char rowAb[] = "ab", rowAbcd[] = "abcd";
inline char* charRows[] = {rowAb, rowAbcd};
}  // namespace sample

inline std::vector<std::string> RowTexts(const Amatrix& m) {
  std::vector<std::string> rows;
  char** data = static_cast<char**>(m.data);
  for (int i = 0; i < m.nrow; ++i) rows.push_back(data[i] ? data[i] : "<null>");
  return rows;
}
