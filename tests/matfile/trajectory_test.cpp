// The trajectory writer: the trajectory record's life, and the files it writes in each way of
// writing its data matrices, read back with our reader and with SciPy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "amatget.h"
#include "amatput.h"
#include "atraj.h"
#include "matfile_fixture.h"
#include "scipy_check.h"

namespace {

template <typename T>
T* HeapCopy(std::initializer_list<T> values) {
  T* data = static_cast<T*>(malloc(values.size() * sizeof(T)));
  std::copy(values.begin(), values.end(), data);
  return data;
}

char** HeapRows(std::initializer_list<const char*> rows) {
  char** data = static_cast<char**>(malloc(rows.size() * sizeof(char*)));
  size_t i = 0;
  for (const char* r : rows) data[i++] = amatCopyText(r);
  return data;
}

// Two signals, "Time" the abscissa and "x" in column 2 of data_2; data_1 holds two points of both,
// every data matrix after it (of realMatrix type) two columns and no rows. All of it on the heap,
// as atrajFree and atrajPutClose expect.
void FillSignals(AtrajObject* traj) {
  amatSetMatrix(traj->nameMatrix.name, 2, 4, charMatrix, HeapRows({"Time", "x"}), &traj->nameMatrix);
  amatSetMatrix(traj->descriptionMatrix.name, 2, 15, charMatrix, HeapRows({"Time in seconds", "position"}),
                &traj->descriptionMatrix);
  amatSetMatrix(traj->dataInfoMatrix.name, 2, 4, integerMatrix, HeapCopy<int32_t>({0, 2, 1, 2, 0, 0, -1, -1}),
                &traj->dataInfoMatrix);
  Amatrix& d1 = traj->dataMatrices[0];
  amatSetMatrix(d1.name, 2, 2, d1.type, HeapCopy<float>({0.0f, 1.0f, 5.0f, 6.0f}), &d1);
  for (int32_t i = 1; i < traj->nData; ++i) traj->dataMatrices[i].ncol = 2;
}

// A trajectory of nData realMatrix data matrices with the signals above.
AtrajObject Filled(int32_t nData) {
  AtrajObject traj;
  EXPECT_EQ(atrajInit(&traj, nData, 0), 0) << amatMessage;
  FillSignals(&traj);
  return traj;
}

// The matrices of a file as our reader sees them: "name rows x cols" each.
std::vector<std::string> Matrices(const std::string& path) {
  AmatReadFile file;
  std::vector<std::string> seen;
  EXPECT_EQ(amatGetOpen(path.c_str(), "Atrajectory", "1.1", &file), 0) << amatMessage;
  Amatrix m;
  for (;;) {
    amatInitMatrix(&m);
    int result = amatGetNext(&file, &m);
    if (result > 1) break;
    seen.push_back(std::string(m.name) + " " + std::to_string(m.nrow) + "x" + std::to_string(m.ncol));
    amatFreeMatrix(&m);
  }
  amatGetClose(&file);
  return seen;
}

TEST(TrajectoryRecord, InitNamesTheMatricesAndGivesTheDataMatricesThePrecisionType) {
  struct Case {
    int32_t nData, precision;
    AmatType type;
  } cases[] = {{2, 0, realMatrix}, {2, 3, doubleRowMatrix}, {1, 1, doubleMatrix}, {3, 2, realRowMatrix}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.precision);
    AtrajObject traj;
    ASSERT_EQ(atrajInit(&traj, c.nData, c.precision), 0) << amatMessage;
    EXPECT_EQ(traj.version, 201);
    EXPECT_EQ(traj.description, nullptr);
    EXPECT_STREQ(traj.nameMatrix.name, "name");
    EXPECT_EQ(traj.nameMatrix.type, charMatrix);
    EXPECT_STREQ(traj.descriptionMatrix.name, "description");
    EXPECT_EQ(traj.descriptionMatrix.type, charMatrix);
    EXPECT_STREQ(traj.dataInfoMatrix.name, "dataInfo");
    EXPECT_EQ(traj.dataInfoMatrix.type, integerMatrix);
    EXPECT_EQ(traj.dataInfoMatrix.ncol, 4);
    ASSERT_EQ(traj.nData, c.nData);
    for (int32_t i = 0; i < c.nData; ++i) {
      EXPECT_EQ(traj.dataMatrices[i].name, "data_" + std::to_string(i + 1));
      EXPECT_EQ(traj.dataMatrices[i].type, c.type);
      EXPECT_EQ(traj.dataMatrices[i].nrow, 0);
    }
    atrajFree(&traj);
    EXPECT_EQ(traj.nData, 0);
    EXPECT_EQ(traj.dataMatrices, nullptr);
    EXPECT_EQ(traj.nameMatrix.name, nullptr);
  }
}

TEST(TrajectoryRecord, InitAndResizeRefuseBadArgumentsWithTheirMessages) {
  AtrajObject traj;
  EXPECT_EQ(atrajInit(&traj, -1, 0), 1);
  EXPECT_STREQ(amatMessage, "Input argument nData=-1 of function atrajInit must be >= 0.\n");
  EXPECT_EQ(traj.nData, 0);

  EXPECT_EQ(atrajInit(&traj, 2, 4), 1);
  EXPECT_STREQ(amatMessage,
               "Input argument precision=4 of function atrajResize must be 0 (realMatrix), 1 (doubleMatrix), 2 "
               "(realRowMatrix) or 3 (doubleRowMatrix).\n");
  EXPECT_EQ(traj.nData, 0);
  EXPECT_EQ(traj.nameMatrix.name, nullptr);  // released again

  EXPECT_EQ(atrajResize(nullptr, 1, 0), 1);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
  EXPECT_EQ(atrajInit(nullptr, 1, 0), 0);

  ASSERT_EQ(atrajInit(&traj, 2, 0), 0);
  Amatrix* before = traj.dataMatrices;
  EXPECT_EQ(atrajResize(&traj, 3, 1), 1);
  EXPECT_STREQ(amatMessage, "traj->nData (=2) of function atrajResize must be zero.\n");
  EXPECT_EQ(atrajResize(&traj, -2, 1), 1);
  EXPECT_STREQ(amatMessage, "Input argument nDataNew=-2 of function atrajResize must be >= 0.\n");
  EXPECT_EQ(atrajResize(&traj, 0, 1), 0);  // nothing to add
  EXPECT_EQ(traj.nData, 2);
  EXPECT_EQ(traj.dataMatrices, before);
  EXPECT_EQ(traj.dataMatrices[1].type, realMatrix);
  atrajFree(&traj);

  // An empty trajectory takes its data matrices later.
  ASSERT_EQ(atrajInit(&traj, 0, 0), 0);
  EXPECT_EQ(traj.dataMatrices, nullptr);
  ASSERT_EQ(atrajResize(&traj, 1, 3), 0);
  EXPECT_STREQ(traj.dataMatrices[0].name, "data_1");
  EXPECT_EQ(traj.dataMatrices[0].type, doubleRowMatrix);
  atrajFree(&traj);
  atrajFree(nullptr);
}

TEST(TrajectoryRecord, FreeReleasesDescriptionAndEvaluationBuffers) {
  AtrajObject traj = Filled(1);
  traj.description = amatCopyText("a run");
  traj.evaluation = static_cast<AtrajEvaluation*>(malloc(sizeof(AtrajEvaluation)));
  traj.evaluation->buffer1 = malloc(16);
  traj.evaluation->buffer2 = malloc(8);
  atrajFree(&traj);  // the leak checker of the sanitizer build sees anything left behind
  EXPECT_EQ(traj.description, nullptr);
  EXPECT_EQ(traj.evaluation, nullptr);
}

TEST(TrajectoryFile, StreamsOneDataMatrixRowByRowAndReleasesTheWrittenData) {
  std::string path = TestFilePath(".mat");
  AtrajObject traj = Filled(2);
  AmatWriteFile file;
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 0) << amatMessage;
  float rows[3][2] = {{0, 5}, {0.5f, 5.5f}, {1, 6}};
  for (auto& row : rows) ASSERT_EQ(atrajPutRow(&file, row), 0) << amatMessage;
  // The file is complete after every row.
  EXPECT_EQ(Matrices(path), (std::vector<std::string>{"name 2x4", "description 2x15", "dataInfo 2x4", "data_1 2x2",
                                                      "data_2 3x2"}));
  ASSERT_EQ(atrajPutClose(&file, &traj, 1), 0) << amatMessage;
  EXPECT_EQ(file.stream, nullptr);
  for (int i = 0; i < 2; ++i) {
    const Amatrix& m = traj.dataMatrices[i];
    EXPECT_EQ(m.name, "data_" + std::to_string(i + 1));
    EXPECT_EQ(m.data, nullptr);
    EXPECT_EQ(m.nrow, 0);
    EXPECT_EQ(m.ncol, 0);
    EXPECT_EQ(m.type, voidMatrix);
  }
  atrajFree(&traj);
  // Other readers see the transposed matrices of a binTrans file: a signal per row.
  EXPECT_EQ(ScipyLoaded(path),
            "Aclass U4 4 11 65 116 114 97 106 101 99 116 111 114 121 49 46 49 0 32 32 32 32 32 32 32 32 0 32 32 32 "
            "32 32 32 32 32 32 98 105 110 84 114 97 110 115 0 32 32\n"
            "dataInfo i4 4 2 0.0 2.0 1.0 2.0 0.0 0.0 -1.0 -1.0\n"
            "data_1 f4 2 2 0.0 1.0 5.0 6.0\n"
            "data_2 f4 2 3 0.0 0.5 1.0 5.0 5.5 6.0\n"
            "description U4 15 2 84 112 105 111 109 115 101 105 32 116 105 105 110 111 32 110 115 32 101 32 99 32 "
            "111 32 110 32 100 32 115 32\n"
            "name U4 4 2 84 120 105 32 109 32 101 32\n");
}

// Without a streamed matrix every data matrix is written by the opening call, which closes the
// file: binTrans for a row index at or past nData, binNormal for a negative one.
TEST(TrajectoryFile, WritesEveryDataMatrixAndClosesWithoutAStreamedMatrix) {
  struct Case {
    int32_t rowIndex;
    const char* storage;
    const char* data2;  // data_2 as scipy reads it
  } cases[] = {{2, "binTrans", "data_2 f4 2 0"}, {7, "binTrans", "data_2 f4 2 0"}, {-1, "binNormal", "data_2 f4 0 2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rowIndex);
    std::string path = TestFilePath(("_" + std::to_string(c.rowIndex) + ".mat").c_str());
    AtrajObject traj = Filled(2);
    traj.description = amatCopyText("run 1");
    AmatWriteFile file;
    ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, c.rowIndex, 1, &file), 0) << amatMessage;
    EXPECT_EQ(file.stream, nullptr);
    EXPECT_NE(traj.dataMatrices[0].data, nullptr);  // only atrajPutClose releases data
    atrajFree(&traj);
    EXPECT_EQ(Matrices(path), (std::vector<std::string>{"name 2x4", "description 2x15", "dataInfo 2x4",
                                                        "data_1 2x2", "data_2 0x0"}));
    std::string loaded = ScipyLoaded(path);
    EXPECT_NE(loaded.find(std::string("\n") + c.data2 + " \n"), std::string::npos) << loaded;
    std::vector<unsigned char> bytes = FileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    // The class rows are stored interleaved column by column: the fourth row's letters at every
    // fourth byte.
    std::string fourth;
    for (size_t i = 20 + 7 + 3; i < 20 + 7 + 44; i += 4) fourth += text[i];
    EXPECT_EQ(fourth.substr(0, strlen(c.storage)), c.storage);
    EXPECT_NE(text.find("r\0u\0n\0 \0001"), std::string::npos);
  }
}

TEST(TrajectoryFile, TextFileCommentsDataInfoAndNamesItsRows) {
  std::string path = TestFilePath(".txt");
  AtrajObject traj = Filled(1);
  AmatWriteFile file;
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, -1, 0, &file), 0) << amatMessage;
  atrajFree(&traj);
  std::string text = FileText(path);
  ASSERT_EQ(text.substr(0, 3), "#1\n");
  size_t comment = text.find("\n\n# Matrix with 4 columns defining the data of the signals:\n#\n");
  size_t declaration = text.find("int dataInfo(2,4)\n");
  ASSERT_NE(comment, std::string::npos) << text;
  ASSERT_NE(declaration, std::string::npos) << text;
  // The fixed comment (its leading newline included) and the newline the writer adds.
  std::string block = text.substr(comment + 1, declaration - comment - 1);
  EXPECT_EQ(block.size(), 1201u + 1u);
  int lines = 0;
  for (size_t at = 1; at < block.size(); at = block.find('\n', at) + 1) {
    EXPECT_EQ(block[at], '#') << block.substr(at, 40);
    ++lines;
  }
  EXPECT_EQ(lines, 23);
  for (const char* quoted : {"# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n",
                             "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n",
                             "# dataInfo(i,3)=    0: Linear interpolation of the column data\n",
                             "#              = 1..4: Piecewise convex hermite spline interpolation\n",
                             "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n",
                             "#              =    0: Keep first/last value outside of time range\n",
                             "#              =    1: Linear interpolation through first/last two points outside\n"})
    EXPECT_NE(block.find(quoted), std::string::npos) << quoted;
  EXPECT_NE(text.find("int dataInfo(2,4)\n  0  1  0 -1   # Time\n  2  2  0 -1   # x\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(Matrices(path), (std::vector<std::string>{"name 2x4", "description 2x15", "dataInfo 2x4", "data_1 2x2"}));
}

TEST(TrajectoryFile, FailuresLeaveNoOpenFile) {
  std::string path = TestFilePath(".mat");
  AtrajObject traj = Filled(2);
  AmatWriteFile file;

  EXPECT_EQ(atrajPutOpen(path.c_str(), nullptr, 1, 1, &file), 1);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
  std::string missing = TestFilePath("_missing/dir/x.mat");
  EXPECT_EQ(atrajPutOpen(missing.c_str(), &traj, 1, 1, &file), 1);
  EXPECT_EQ(std::string(amatMessage).rfind("Error opening file \"" + missing + "\": ", 0), 0u) << amatMessage;

  // A data matrix that claims rows but has no data fails after the file was opened.
  traj.dataMatrices[0].nrow = 3;
  void* data = traj.dataMatrices[0].data;
  traj.dataMatrices[0].data = nullptr;
  EXPECT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 1);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
  EXPECT_EQ(file.stream, nullptr);
  traj.dataMatrices[0].data = data;
  traj.dataMatrices[0].nrow = 2;

  // Streaming into a binNormal file is refused by the row writer.
  traj.dataMatrices[1].type = integerMatrix;
  EXPECT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 1);
  EXPECT_NE(std::string(amatMessage).find("Wrong argument \"type\" (= 1) in function amatPutRinit"), std::string::npos);
  EXPECT_EQ(file.stream, nullptr);
  traj.dataMatrices[1].type = realMatrix;

  // Closing with a row index that started no row-wise matrix, or with no trajectory.
  for (int32_t rowIndex : {-1, 2}) {
    ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 0) << amatMessage;
    EXPECT_EQ(atrajPutClose(&file, &traj, rowIndex), 1);
    EXPECT_EQ(std::string(amatMessage),
              "Input argument rowIndex=" + std::to_string(rowIndex) +
                  " of function atrajPutClose must be >= 0 and < traj->nData (=2).\n");
    EXPECT_EQ(file.stream, nullptr);
  }
  ASSERT_EQ(atrajPutOpen(path.c_str(), &traj, 1, 1, &file), 0) << amatMessage;
  EXPECT_EQ(atrajPutClose(&file, nullptr, 1), 1);
  EXPECT_STREQ(amatMessage, "Unexpected null-pointer");
  EXPECT_EQ(file.stream, nullptr);
  EXPECT_NE(traj.dataMatrices[0].data, nullptr);  // a failed close releases nothing
  atrajFree(&traj);
}

}  // namespace
