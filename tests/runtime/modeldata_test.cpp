// The model interface record and the homotopy operator.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "modeldata.h"

TEST(ModelDataRecord, HasTheFixedSizeAndStartsWithTheSolverBlocks) {
  EXPECT_EQ(sizeof(ModelData), 881920u);
  EXPECT_EQ(offsetof(ModelData, solverReals), 0u);
  EXPECT_EQ(offsetof(ModelData, solverInts), sizeof(void*));
  // Pointer fields must stay aligned inside a block that is copied and serialised whole.
  EXPECT_EQ(offsetof(ModelData, stringTable) % alignof(char*), 0u);
  EXPECT_EQ(offsetof(ModelData, jacobianA) % alignof(double*), 0u);
}

TEST(ModelDataRecord, QiErrSuccessBand) {
  struct Case {
    int qiErr;
    bool success;
  } cases[] = {{0, true},      {-990, true},  {-995, true}, {-993, true}, {-989, false},
               {-996, false},  {1, false},    {-999, false}, {-998, false}, {4, false}};
  for (const Case& c : cases) EXPECT_EQ(QiErrIsSuccess(c.qiErr), c.success) << c.qiErr;
}

TEST(Homotopy, BlendsSimplifiedAndActualByLambdaAndMarksUse) {
  struct Case {
    double lambda, actual, simplified, expected;
  } cases[] = {
      {0.0, 5.0, -2.0, -2.0},
      {1.0, 5.0, -2.0, 5.0},
      // Evaluated as simplified*(1-lambda) + actual*lambda, in that order.
      {0.3, 5.0, -2.0, -2.0 * (1.0 - 0.3) + 5.0 * 0.3},
      {0.3, 0.1, 0.7, 0.7 * (1.0 - 0.3) + 0.1 * 0.3},
  };
  static ModelData record;
  for (const Case& c : cases) {
    memset(&record, 0, sizeof record);
    record.lambda = c.lambda;
    double result = Homotopy(c.actual, c.simplified, &record);
    EXPECT_EQ(result, c.expected) << "lambda " << c.lambda;  // bit-exact: the order is fixed
    EXPECT_EQ(record.homotopyUsed, 1);
  }
}
