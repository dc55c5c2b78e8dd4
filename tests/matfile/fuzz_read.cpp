// Fuzz target of the binary matrix reader: arbitrary bytes are read as a MAT-file with
// amatGetMatrix, matrix after matrix until a read fails, in both orientations and into each
// requested type; everything read is released. Built by tools/fuzz.sh; with QUENZEL_FUZZ_SEEDS it is instead a program that writes
// valid files as the seed corpus into the directory it is given.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "amat.h"
#include "amatformat.h"
#include "amatget.h"
#include "amatput.h"

#ifndef QUENZEL_FUZZ_SEEDS

namespace {

// One matrix in the requested type through the reading interface: 0 or 1 go on to the next.
int ReadOne(AmatReadFile* file, AmatType type, int trim) {
  Amatrix m{nullptr, 0, 0, type, nullptr, 0, 0};
  int result = amatGetMatrix(file, &m, type == voidMatrix ? doubleMatrix : 0, nullptr, trim);
  amatFreeMatrix(&m);
  return result <= 1 ? 0 : result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const AmatType types[] = {voidMatrix, integerMatrix, realMatrix, doubleMatrix, charMatrix, realRowMatrix,
                            doubleRowMatrix};
  for (int transposed = 0; transposed < 2; ++transposed)
    for (AmatType type : types) {
      FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
      if (!stream) return 0;
      AmatReadFile file{};
      file.stream = stream;
      file.format = 1;
      file.transposed = transposed;
      while (ReadOne(&file, type, type == charMatrix) == 0) {
      }
      fclose(stream);
    }
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
    return 2;
  }
  int32_t ints[] = {1, -3, 2, 4};
  float reals[] = {1.5f, -2.0f, 0.25f, 8};
  double doubles[] = {1, 3, 2, 4};
  char ab[] = "ab", abcd[] = "abcd";
  char* rows[] = {ab, abcd};
  bool ok = true;
  for (int bstruct = 0; bstruct < 2; ++bstruct) {
    std::string path = std::string(argv[1]) + (bstruct ? "/transposed.mat" : "/normal.mat");
    AmatWriteFile file{};
    file.stream = fopen(path.c_str(), "wb");
    if (!file.stream) return 1;
    file.format = 1;
    file.bstruct = bstruct;
    ok &= amatPutBinInteger(&file, "I", 2, 2, ints) == 0;
    ok &= amatPutBinReal(&file, "R", 2, 2, reals) == 0;
    ok &= amatPutBinDouble(&file, "D", 2, 2, doubles) == 0;
    ok &= amatPutBinChar(&file, "S", 2, 0, rows, 'x') == 0;
    ok &= fclose(file.stream) == 0;
  }
  return ok ? 0 : 1;
}

#endif
