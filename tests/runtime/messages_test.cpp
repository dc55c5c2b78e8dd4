// Runtime texts to the host: formats, levels, the pending flag, caps on inserted names, the
// vector and matrix prints, and the current locale for numbers.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "guarded_call.h"
#include "messages.h"

namespace {

using Texts = std::vector<std::string>;
const std::string longName(300, 'v');
const std::string cappedName(160, 'v');

}  // namespace

TEST(RuntimeMessages, EachCallSendsOneTextWithItsFlushAndLevel) {
  struct Case {
    const char* name;
    void (*send)(void);
    std::string text;
    int flush;
    int level;
  } cases[] = {
      {"LogMessage", [] { LogMessage("plain ##text"); }, "plain ##text", 1, 0},
      {"LogWithLevel", [] { LogWithLevel(1, "careful"); }, "careful", 1, 1},
      {"LogInfo", [] { LogInfo("pending part"); }, "pending part", 0, 0},
      {"LogRealWithLevel", [] { LogRealWithLevel(2, "at time:", 0.1); }, "at time: 0.1", 1, 2},
      {"LogRealWithLevel digits", [] { LogRealWithLevel(0, "x", 1.0 / 3.0); }, "x 0.3333333333333333", 1, 0},
      {"LogRealWithLevel exponent", [] { LogRealWithLevel(0, "x", 1.25e20); }, "x 1.25E+20", 1, 0},
      {"LogMessageReal", [] { LogMessageReal("value", -2.5); }, "value -2.5", 1, 0},
      {"LogMessageTimeValue", [] { EXPECT_EQ(LogMessageTimeValue("t", 3.0), 0); }, "t 3", 1, 0},
      {"LogMessageInteger", [] { LogMessageInteger("count", -7); }, "count -7", 1, 0},
      {"LogMessageMatrixElement", [] { LogMessageMatrixElement("A", 2, 3, 0.5); }, "  A[2, 3] = 0.5", 1, 0},
      {"LogMessageReal capped", [] { LogMessageReal(longName.c_str(), 1.0); }, cappedName + " 1", 1, 0},
      {"LogMessageInteger capped", [] { LogMessageInteger(longName.c_str(), 4); }, cappedName + " 4", 1, 0},
      {"LogMessageMatrixElement capped", [] { LogMessageMatrixElement(longName.c_str(), 1, 1, 2.0); },
       "  " + cappedName + "[1, 1] = 2", 1, 0},
  };
  for (const Case& c : cases) {
    RuntimeMessageRecorder recorder;
    c.send();
    ASSERT_EQ(recorder.messages.size(), 1u) << c.name;
    EXPECT_EQ(recorder.messages[0].text, c.text) << c.name;
    EXPECT_EQ(recorder.messages[0].flush, c.flush) << c.name;
    EXPECT_EQ(recorder.messages[0].level, c.level) << c.name;
  }
}

TEST(RuntimeMessages, NumbersFollowTheProcessLocale) {
  const std::string previous = setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "tools/install-deps.sh generates de_DE.UTF-8";
  RuntimeMessageRecorder recorder;
  LogMessageReal("t", 1.5);
  LogMessageMatrixElement("A", 1, 1, 0.25);
  setlocale(LC_NUMERIC, previous.c_str());
  EXPECT_EQ(recorder.texts(), (Texts{"t 1,5", "  A[1, 1] = 0,25"}));
}

TEST(RuntimeMessages, VectorPrintsItsElementsInOneText) {
  struct Case {
    const char* name;
    std::vector<double> v;
    std::string text;
  } cases[] = {
      {"x", {1.0, -2.5, 1e20}, "x = {1, -2.5, 1E+20}"},
      {"empty", {}, "empty = {}"},
      {"one", {0.125}, "one = {0.125}"},
  };
  for (const Case& c : cases) {
    RuntimeMessageRecorder recorder;
    LogMessageVector(c.name, c.v.data(), static_cast<int>(c.v.size()));
    EXPECT_EQ(recorder.texts(), Texts{c.text}) << c.name;
  }
}

TEST(RuntimeMessages, LongVectorGoesInPiecesThatFitTheBufferAndLoseNothing) {
  std::vector<double> v(400);
  std::string expected = cappedName + " = {";
  for (size_t i = 0; i < v.size(); ++i) {
    v[i] = -1.234567e-100 * static_cast<double>(i + 1);
    char element[32];
    snprintf(element, sizeof element, "%G", v[i]);
    expected += (i ? ", " : "") + std::string(element);
  }
  expected += "}";
  RuntimeMessageRecorder recorder;
  LogMessageVector(longName.c_str(), v.data(), static_cast<int>(v.size()));
  ASSERT_GT(recorder.messages.size(), 1u);
  std::string joined;
  for (const std::string& piece : recorder.texts()) {
    EXPECT_LT(piece.size(), 2000u);
    joined += piece;
  }
  EXPECT_EQ(joined, expected);
}

TEST(RuntimeMessages, MatrixPrintsRowByRowInColumnMajorOrder) {
  struct Case {
    const char* name;
    std::vector<double> v;
    int rows, cols, lda;
    Texts texts;
  } cases[] = {
      {"A", {1, 3, 2, 4}, 2, 2, 2, {"A = {", "", "{1, 2}, ", "{3, 4}", "", "};"}},
      // Leading dimension beyond the rows: the extra elements of each column are skipped.
      {"B", {1, 4, 99, 2, 5, 99, 3, 6, 99}, 2, 3, 3, {"B = {", "", "{1, 2, 3}, ", "{4, 5, 6}", "", "};"}},
      {"C", {}, 0, 0, 1, {"C = {", "", "", "};"}},
  };
  for (const Case& c : cases) {
    RuntimeMessageRecorder recorder;
    PrintRealMatrix(c.name, c.v.data(), c.rows, c.cols, c.lda);
    EXPECT_EQ(recorder.texts(), c.texts) << c.name;
    for (const RecordedMessage& m : recorder.messages) EXPECT_EQ(m.level, 0);
  }
}

TEST(RuntimeMessages, MatrixWithALongNameAndWideRowsStaysWithinItsBuffer) {
  const int cols = 60;
  std::vector<double> v(cols, -1.23456e-200);
  RuntimeMessageRecorder recorder;
  PrintRealMatrix(longName.c_str(), v.data(), 1, cols, 1);
  Texts texts = recorder.texts();
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts.front(), cappedName + " = {");
  std::string row;
  for (size_t i = 2; i + 2 < texts.size(); ++i) {
    EXPECT_LE(texts[i].size(), 216u) << "a piece is sent once it holds more than 200 characters";
    row += texts[i];
  }
  std::string expected = "{";
  for (int j = 0; j < cols; ++j) expected += (j ? ", " : "") + std::string("-1.23456E-200");
  EXPECT_EQ(row, expected + "}");
  EXPECT_GT(texts.size(), 5u) << "the row went in pieces";
}
