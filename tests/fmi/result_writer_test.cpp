// The result-file writer on its own: its requests, the file they make, and the requests that
// fail, which report on the standard error stream and leave the writer to request 9.
#include "resultwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "case_names.h"
#include "result_fixture.h"
#include "scipy_check.h"

namespace {

int Request(int32_t code, ResultWriter* w, double time = 0.0, double secondTime = 0.0) {
  static const double values[32] = {};
  return resultFileRequest(code, w, time, secondTime, values, values, values, values, values, values);
}

class ResultWriterTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Request 9 releases what any earlier request left, once; LeakSanitizer sees the rest.
    Request(resultRequestClose, &writer);
    Request(resultRequestClose, &writer);
  }
  int start(double time) {
    std::vector<double> p(modelParameters + 1), x(modelStates + 1);
    return resultFileStart(&writer, time, 1e-9, p.data(), x.data(), nullptr, nullptr, nullptr, nullptr);
  }

  ScratchWorkingFolder folder;
  ResultWriter writer{};
  char name[16] = "w.mat";
};

TEST_F(ResultWriterTest, RequestsWriteTheTrajectoryRowByRow) {
  ASSERT_EQ(resultFileSetup(&writer), 0);
  EXPECT_STREQ(writer.fileName, "dsres.mat");
  EXPECT_EQ(writer.signalCount, 1);
  EXPECT_EQ(writer.matricesAllocated, 1);
  writer.fileName = name;
  ASSERT_EQ(start(0.5), 0);
  EXPECT_EQ(writer.fileOpen, 1);
  EXPECT_EQ(writer.declaredCount, 1);
  EXPECT_STREQ(writer.nameTable[0], "Time");
  EXPECT_STREQ(writer.descriptionTable[0], "Time in seconds");
  EXPECT_EQ(writer.currentRow, nullptr);
  for (double t : {0.5, 0.75, 1.0}) {
    ASSERT_EQ(Request(resultRequestSampleRow, &writer, t, 1e-9), 0);
    EXPECT_EQ(writer.currentRow, writer.data2Row);
    EXPECT_NE(writer.boundValueArrays[resultStates], nullptr);
    ASSERT_EQ(Request(resultRequestWriteRow, &writer), 0);
    EXPECT_EQ(writer.boundValueArrays[resultStates], nullptr);
  }
  ASSERT_EQ(Request(resultRequestClose, &writer), 0);
  EXPECT_EQ(writer.fileOpen, 0);
  EXPECT_EQ(writer.matricesAllocated, 0);
  EXPECT_EQ(writer.lastRequest, resultRequestNone);
  EXPECT_EQ(ResultTimes(folder.file(name)), Floats({0.5, 0.75, 1.0}));
  // The file of a model with only "Time": 254 bytes of class, signal matrices and data_1, and
  // 4 bytes per row.
  EXPECT_EQ(ReadBytes(folder.file(name)).size(), 254u + 3 * 4);
  std::string loaded = ScipyLoaded(folder.file(name));
  EXPECT_EQ(std::count(loaded.begin(), loaded.end(), '\n'), 6);
  EXPECT_NE(loaded.find("data_2 f4 1 3 0.5 0.75 1.0\n"), std::string::npos) << loaded;
}

TEST_F(ResultWriterTest, TheRowCounterGoesRoundAfterTen) {
  ASSERT_EQ(resultFileSetup(&writer), 0);
  writer.fileName = name;
  ASSERT_EQ(start(0.0), 0);
  std::vector<int> counters;
  for (int i = 1; i <= 12; ++i) {
    ASSERT_EQ(Request(resultRequestSampleRow, &writer, i, 1e-9), 0);
    ASSERT_EQ(Request(resultRequestWriteRow, &writer), 0);
    counters.push_back(writer.rowCounter);
  }
  EXPECT_EQ(counters, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1}));
}

TEST_F(ResultWriterTest, OtherCodesAndAMissingWriterDoNothing) {
  ASSERT_EQ(resultFileSetup(&writer), 0);
  ResultWriter before;
  memcpy(&before, &writer, sizeof before);
  for (int32_t code : {0, 10, -1, 12, 1000}) {
    EXPECT_EQ(Request(code, &writer), 0);
    EXPECT_EQ(writer.lastRequest, code);
    writer.lastRequest = before.lastRequest;
    EXPECT_EQ(memcmp(&writer, &before, sizeof writer), 0) << code;
  }
  for (int32_t code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) EXPECT_EQ(Request(code, nullptr), 0);
}

struct FailureCase {
  const char* name;
  std::function<int(ResultWriter*, char*)> run;  // the failing request's result
  const char* text;                              // on the standard error stream, no newline
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ResultWriterFailure : public ResultWriterTest, public ::testing::WithParamInterface<FailureCase> {};

// The fatal conditions of the writer fail the request with their text and leave it to request 9.
TEST_P(ResultWriterFailure, ReportsAndLeavesTheWriterToClose) {
  ::testing::internal::CaptureStderr();
  int result = GetParam().run(&writer, name);
  std::string text = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(text, GetParam().text);
  EXPECT_EQ(writer.fileOpen, 0);
  EXPECT_EQ(folder.files(), std::vector<std::string>{});
}

int SetUpAndStart(ResultWriter* w, const char* fileName) {
  if (resultFileSetup(w)) return -1;
  w->fileName = const_cast<char*>(fileName);
  std::vector<double> p(modelParameters + 1), x(modelStates + 1);
  return resultFileStart(w, 0.0, 1e-9, p.data(), x.data(), nullptr, nullptr, nullptr, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Fatal, ResultWriterFailure,
    ::testing::Values(
        FailureCase{"NoFileName", [](ResultWriter* w, char*) { return SetUpAndStart(w, nullptr); },
                    "Result file path is NULL"},
        FailureCase{"FileNotCreated", [](ResultWriter* w, char*) { return SetUpAndStart(w, "missing/r.mat"); },
                    "Failed to open result missing/r.mat"},
        FailureCase{"SignalCountedButNotDeclared",
                    [](ResultWriter* w, char* name) {
                      Request(resultRequestAllocate, w);
                      Request(resultRequestDefaults, w);
                      w->data2SignalCount = 1;  // counted, but this model's routine declares nothing
                      Request(resultRequestDeclare, w);
                      w->fileName = name;
                      Request(resultRequestTime, w);
                      return Request(resultRequestCheck, w);
                    },
                    "Internal error"},
        FailureCase{"NegativeCount",
                    [](ResultWriter* w, char*) {
                      Request(resultRequestAllocate, w);
                      Request(resultRequestDefaults, w);
                      w->aliasSignalCount = -5;
                      return Request(resultRequestDeclare, w);
                    },
                    "Internal error"},
        FailureCase{"TooManySignals",
                    [](ResultWriter* w, char*) {
                      Request(resultRequestAllocate, w);
                      Request(resultRequestDefaults, w);
                      w->data2SignalCount = INT32_MAX - 1;
                      return Request(resultRequestDeclare, w);
                    },
                    "Out of memory"},
        FailureCase{"RowBeforeTheFileIsOpen",
                    [](ResultWriter* w, char*) {
                      resultFileSetup(w);
                      return Request(resultRequestWriteRow, w);
                    },
                    "Internal error"}),
    quenzel_test::CaseName{});

}  // namespace
