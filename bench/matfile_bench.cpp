// Matrix files beside plain stdio: a 10,000 x 50 matrix of doubles written whole and row by row
// and read back, each beside fwrite or fread of the same bytes into a file of the same place.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "amatget.h"
#include "amatput.h"
#include "ratio_main.h"

namespace {

constexpr int kRows = 10000, kCols = 50;
constexpr size_t kBytes = static_cast<size_t>(kRows) * kCols * sizeof(double);

std::string Path(const char* name) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir && dir[0] ? dir : "/tmp") + "/quenzel_bench_" + name;
}

std::vector<double>& Values() {
  static std::vector<double> values = [] {
    std::vector<double> v(static_cast<size_t>(kRows) * kCols);
    for (size_t k = 0; k < v.size(); ++k) v[k] = 0.25 * static_cast<double>(k);
    return v;
  }();
  return values;
}

void WriteWhole(benchmark::State& s) {
  std::string path = Path("whole.mat");
  Amatrix m;
  amatSetMatrix(const_cast<char*>("data"), kRows, kCols, doubleMatrix, Values().data(), &m);
  for (auto _ : s)
    if (amatPutMatrixFile(path.c_str(), 1, m) != 0) s.SkipWithError(amatMessage);
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kBytes));
}

void FwriteWhole(benchmark::State& s) {
  std::string path = Path("fwrite.bin");
  for (auto _ : s) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(Values().data(), 1, kBytes, f);
    fclose(f);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kBytes));
}

void WriteRows(benchmark::State& s) {
  std::string path = Path("rows.mat");
  std::vector<float> row(kCols, 1.5f);
  for (auto _ : s) {
    AmatWriteFile f;
    if (amatPutOpen(path.c_str(), 1, 1, nullptr, nullptr, nullptr, &f) != 0 ||
        amatPutRinit(&f, "data", kCols, doubleMatrix) != 0) {
      s.SkipWithError(amatMessage);
      break;
    }
    for (int i = 0; i < kRows; ++i) amatPutRrow(&f, row.data());
    amatPutRclose(&f);
    amatPutClose(&f);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kBytes));
}

void FwriteRows(benchmark::State& s) {
  std::string path = Path("fwrite-rows.bin");
  const double* v = Values().data();
  for (auto _ : s) {
    FILE* f = fopen(path.c_str(), "wb");
    for (int i = 0; i < kRows; ++i) fwrite(v + static_cast<size_t>(i) * kCols, sizeof(double), kCols, f);
    fclose(f);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kBytes));
}

void ReadWhole(benchmark::State& s) {
  std::string path = Path("read.mat");
  Amatrix m;
  amatSetMatrix(const_cast<char*>("data"), kRows, kCols, doubleMatrix, Values().data(), &m);
  amatPutMatrixFile(path.c_str(), 1, m);
  for (auto _ : s) {
    AmatReadFile f;
    Amatrix read{};
    if (amatGetOpen(path.c_str(), "NoClass", nullptr, &f) != 0 || amatGetNext(&f, &read) != 0) {
      s.SkipWithError(amatMessage);
      break;
    }
    benchmark::DoNotOptimize(read.data);
    amatFreeMatrix(&read);
    amatGetClose(&f);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kBytes));
}

void FreadWhole(benchmark::State& s) {
  std::string path = Path("fread.bin");
  FILE* out = fopen(path.c_str(), "wb");
  fwrite(Values().data(), 1, kBytes, out);
  fclose(out);
  for (auto _ : s) {
    FILE* f = fopen(path.c_str(), "rb");
    double* data = static_cast<double*>(malloc(kBytes));
    if (fread(data, 1, kBytes, f) != kBytes) s.SkipWithError("short read");
    benchmark::DoNotOptimize(data);
    free(data);
    fclose(f);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * kBytes));
}

}  // namespace

BENCHMARK(WriteWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(FwriteWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteRows)->Unit(benchmark::kMillisecond);
BENCHMARK(FwriteRows)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(FreadWhole)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  return runWithRatios(argc, argv,
                       {{"WriteWhole", "FwriteWhole"}, {"WriteRows", "FwriteRows"}, {"ReadWhole", "FreadWhole"}});
}
