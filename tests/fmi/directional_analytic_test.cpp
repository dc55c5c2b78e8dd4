// The analytic method of the directional derivatives: dz = (dz/dv) dv from the Jacobian blocks
// A, B, C and D that a generated model fills itself. This model does not fill them and leaves
// the method switched off, so each test here switches it on for a real Co-Simulation instance
// and writes the block values it needs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "case_names.h"
#include "cosim_instance.h"
#include "directional.h"
#include "fmustate.h"
#include "model.h"
#include "modeldata.h"

namespace {

constexpr fmi2ValueReference reference(VariableCategory category, unsigned index) {
  return (static_cast<fmi2ValueReference>(category) << 24) | index;
}

constexpr fmi2ValueReference state0 = reference(categoryState, stateFilterY);
constexpr fmi2ValueReference state1 = reference(categoryState, stateLimitedFilterY);
constexpr fmi2ValueReference input0 = reference(categoryInput, inputU);
constexpr fmi2ValueReference derivative0 = reference(categoryDerivative, stateFilterY);
constexpr fmi2ValueReference derivative1 = reference(categoryDerivative, stateLimitedFilterY);
constexpr fmi2ValueReference output0 = reference(categoryOutput, outputY);
constexpr fmi2ValueReference parameter2 = reference(categoryParameter, parFilterT);
constexpr fmi2ValueReference auxiliary3 = reference(categoryAuxiliary, auxLimiterY);

// Element counts of A (nx x nx), B (nx x nu), C (ny x nx) and D (ny x nu) for this model.
constexpr int blockCounts[4] = {modelStates * modelStates, modelStates * modelInputs, modelOutputs * modelStates,
                                modelOutputs * modelInputs};
static_assert(blockCounts[0] == 4 && blockCounts[1] == 2 && blockCounts[2] == 2 && blockCounts[3] == 1);

// What the model's record held in its Jacobian hand-over when a message reached the host.
struct HandOver {
  double* blocks[4];
  int nx, nu, ny;
};

struct Message {
  fmi2Status status;
  std::string text;
  HandOver handOver;
};

class AnalyticDirectional : public CoSimInstanceTest {
 protected:
  // The instance's logger is replaced by one that also notes the hand-over at each message; the
  // allocator stays the counting one of the test host.
  void SetUp() override {
    CoSimInstanceTest::SetUp();
    if (HasFatalFailure()) return;
    const fmi2CallbackFunctions* host = instance->functions;
    callbacks.emplace(fmi2CallbackFunctions{record, host->allocateMemory, host->freeMemory, host->stepFinished, this});
    instance->functions = &*callbacks;
    analyticJacobian = 1;
  }

  void TearDown() override {
    analyticJacobian = 0;
    CoSimInstanceTest::TearDown();
  }

  static void record(fmi2ComponentEnvironment environment, fmi2String, fmi2Status status, fmi2String,
                     fmi2String message, ...) {
    auto* self = static_cast<AnalyticDirectional*>(environment);
    char text[8192] = "";
    va_list arguments;
    va_start(arguments, message);
    vsnprintf(text, sizeof text, message, arguments);
    va_end(arguments);
    const ModelData* m = self->instance->modelData;
    self->messages.push_back(
        {status, text, {{m->jacobianA, m->jacobianB, m->jacobianC, m->jacobianD}, m->jacobianNx, m->jacobianNu, m->jacobianNy}});
  }

  std::vector<std::string> errors() const {
    std::vector<std::string> texts;
    for (const Message& m : messages)
      if (m.status == fmi2Error) texts.push_back(m.text);
    return texts;
  }

  double** block(int k) {
    double** blocks[4] = {&instance->jacobianA, &instance->jacobianB, &instance->jacobianC, &instance->jacobianD};
    return blocks[k];
  }

  // One call of the analytic method with results preset to NaN. Something else sits in the
  // model's hand-over before the call; whatever the outcome, the call leaves it empty.
  fmi2Status derivative(const std::vector<fmi2ValueReference>& unknown, const std::vector<fmi2ValueReference>& known,
                        const std::vector<double>& seeds, std::vector<double>* result) {
    result->assign(unknown.size(), NAN);
    setModelJacobian(instance->modelData, stranger, stranger, stranger, stranger, 7, 7, 7, 0, 0, 0, 0);
    fmi2Status status = fmiGetDirectionalDerivative(instance, unknown.data(), unknown.size(), known.data(),
                                                    known.size(), seeds.data(), result->data());
    const ModelData* m = instance->modelData;
    EXPECT_EQ(m->jacobianA, nullptr);
    EXPECT_EQ(m->jacobianB, nullptr);
    EXPECT_EQ(m->jacobianC, nullptr);
    EXPECT_EQ(m->jacobianD, nullptr);
    EXPECT_EQ(m->jacobianNx, 0);
    EXPECT_EQ(m->jacobianNu, 0);
    EXPECT_EQ(m->jacobianNy, 0);
    return status;
  }

  // A first call allocates the blocks and evaluates; afterwards they count as current.
  void prime() {
    std::vector<double> result;
    ASSERT_EQ(derivative({derivative0}, {state0}, {1.0}, &result), fmi2OK);
    ASSERT_GE(instance->levelReached, demandDerivatives);
    ASSERT_EQ(instance->jacobianStale, 0);
    messages.clear();
  }

  // A = [1 3; 2 4], B = [5; 6], C = [7 8], D = [9], column by column.
  void writeBlocks() {
    const std::vector<double> values[4] = {{1, 2, 3, 4}, {5, 6}, {7, 8}, {9}};
    for (int k = 0; k < 4; ++k)
      for (size_t e = 0; e < values[k].size(); ++e) (*block(k))[e] = values[k][e];
  }

  std::optional<fmi2CallbackFunctions> callbacks;  // the record's members are const
  std::vector<Message> messages;
  double stranger[8] = {};
};

// ---- The blocks --------------------------------------------------------------------------

TEST_F(AnalyticDirectional, FirstCallAllocatesEachBlockWithOneSpareElement) {
  for (int k = 0; k < 4; ++k) ASSERT_EQ(*block(k), nullptr);
  size_t before = hostAllocator().requests.size();
  std::vector<double> result;
  ASSERT_EQ(derivative({derivative0, derivative1, output0}, {state0, state1, input0}, {1.0, 1.0, 1.0}, &result),
            fmi2OK);
  const std::vector<std::pair<size_t, size_t>> requests(hostAllocator().requests.begin() + before,
                                                        hostAllocator().requests.end());
  EXPECT_EQ(requests, (std::vector<std::pair<size_t, size_t>>{{5, sizeof(double)},
                                                              {3, sizeof(double)},
                                                              {3, sizeof(double)},
                                                              {2, sizeof(double)}}));
  for (int k = 0; k < 4; ++k) {
    EXPECT_NE(*block(k), nullptr) << "block " << k;
    EXPECT_EQ(instance->jacobianSizes[k], blockCounts[k]) << "block " << k;
  }
  // The host's blocks arrive poisoned and this model fills nothing: only zeroed blocks give 0.
  EXPECT_EQ(result, (std::vector<double>{0.0, 0.0, 0.0}));
  EXPECT_TRUE(errors().empty());
}

TEST_F(AnalyticDirectional, LaterCallsReuseTheBlocks) {
  prime();
  double* kept[4] = {instance->jacobianA, instance->jacobianB, instance->jacobianC, instance->jacobianD};
  long calls = hostAllocator().calls, frees = hostAllocator().frees;
  std::vector<double> result;
  instance->jacobianStale = 1;  // an evaluation does not renew them either
  ASSERT_EQ(derivative({derivative0, output0}, {state0, input0}, {1.0, 1.0}, &result), fmi2OK);
  ASSERT_EQ(derivative({derivative1}, {input0}, {2.0}, &result), fmi2OK);
  EXPECT_EQ(hostAllocator().calls, calls);
  EXPECT_EQ(hostAllocator().frees, frees);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(*block(k), kept[k]) << "block " << k;
}

// A block that is missing, or whose recorded count is below what the model needs, is made
// anew with count + 1 doubles; the others stay.
struct RenewCase {
  const char* what;
  int block;
  bool absent;  // released and null; otherwise present with too small a recorded count
};

void PrintTo(const RenewCase& c, std::ostream* os) { *os << c.what; }

class AnalyticRenewedBlocks : public AnalyticDirectional, public ::testing::WithParamInterface<RenewCase> {};

TEST_P(AnalyticRenewedBlocks, OnlyTheInsufficientBlockIsMadeAnew) {
  const RenewCase& c = GetParam();
  prime();
  writeBlocks();
  if (c.absent) {
    instance->functions->freeMemory(*block(c.block));
    *block(c.block) = nullptr;
  } else {
    instance->jacobianSizes[c.block] = blockCounts[c.block] - 1;
  }
  double* kept[4] = {instance->jacobianA, instance->jacobianB, instance->jacobianC, instance->jacobianD};
  size_t before = hostAllocator().requests.size();
  long frees = hostAllocator().frees;
  std::vector<double> result;
  ASSERT_EQ(derivative({derivative0}, {state0}, {1.0}, &result), fmi2OK);
  const std::vector<std::pair<size_t, size_t>> requests(hostAllocator().requests.begin() + before,
                                                        hostAllocator().requests.end());
  EXPECT_EQ(requests, (std::vector<std::pair<size_t, size_t>>{
                          {static_cast<size_t>(blockCounts[c.block]) + 1, sizeof(double)}}));
  EXPECT_EQ(hostAllocator().frees, frees + (c.absent ? 0 : 1));
  EXPECT_EQ(instance->jacobianSizes[c.block], blockCounts[c.block]);
  for (int k = 0; k < 4; ++k) {
    if (k == c.block) continue;
    EXPECT_EQ(*block(k), kept[k]) << "block " << k;
  }
  // The kept block A still holds what was written; a renewed A starts from zero.
  EXPECT_EQ(result[0], c.block == 0 ? 0.0 : 1.0);
}

INSTANTIATE_TEST_SUITE_P(Blocks, AnalyticRenewedBlocks,
                         ::testing::Values(RenewCase{"A too small", 0, false}, RenewCase{"B too small", 1, false},
                                           RenewCase{"C too small", 2, false}, RenewCase{"D too small", 3, false},
                                           RenewCase{"A absent", 0, true}, RenewCase{"B absent", 1, true},
                                           RenewCase{"C absent", 2, true}, RenewCase{"D absent", 3, true}),
                         quenzel_test::CaseNameFrom<&RenewCase::what>{});

// Whichever of the four allocations fails, the call fails before anything is evaluated and the
// instance ends; the blocks that were made are released with the instance (the fixture checks
// that nothing is left with the host).
class AnalyticFailedBlock : public AnalyticDirectional, public ::testing::WithParamInterface<int> {};

TEST_P(AnalyticFailedBlock, EndsTheInstance) {
  hostAllocator().failAt = hostAllocator().calls + GetParam();
  instance->jacobianStale = 1;
  instance->valuesChanged = 1;
  std::vector<double> result;
  EXPECT_EQ(derivative({derivative0}, {state0}, {1.0}, &result), fmi2Error);
  hostAllocator().failAt = 0;
  EXPECT_EQ(errors(), std::vector<std::string>{"fmi2GetDirectionalDerivative: memory allocation failed"});
  EXPECT_EQ(instance->mode, modeTerminated);
  EXPECT_EQ(instance->valuesChanged, 1) << "nothing may be evaluated";
  EXPECT_EQ(instance->jacobianStale, 1);
}

INSTANTIATE_TEST_SUITE_P(Allocations, AnalyticFailedBlock, ::testing::Values(1, 2, 3, 4),
                         quenzel_test::AllocationName{});

// ---- The products ------------------------------------------------------------------------

struct ProductCase {
  const char* what;
  std::vector<fmi2ValueReference> unknown;
  std::vector<fmi2ValueReference> known;
  std::vector<double> seeds;
  std::vector<double> expected;
};

void PrintTo(const ProductCase& c, std::ostream* os) { *os << c.what; }

class AnalyticProducts : public AnalyticDirectional, public ::testing::WithParamInterface<ProductCase> {};

TEST_P(AnalyticProducts, AreBlockColumnsTimesSeeds) {
  const ProductCase& c = GetParam();
  prime();
  writeBlocks();
  std::vector<double> result;
  ASSERT_EQ(derivative(c.unknown, c.known, c.seeds, &result), fmi2OK);
  EXPECT_EQ(result, c.expected);
  EXPECT_TRUE(errors().empty());
}

const std::vector<fmi2ValueReference> allResults = {derivative0, derivative1, output0};

INSTANTIATE_TEST_SUITE_P(
    Seeds, AnalyticProducts,
    ::testing::Values(
        ProductCase{"first state: first columns of A and C", allResults, {state0}, {1.0}, {1, 2, 7}},
        ProductCase{"second state, seed 2", allResults, {state1}, {2.0}, {6, 8, 16}},
        ProductCase{"input: B and D", allResults, {input0}, {-1.0}, {-5, -6, -9}},
        ProductCase{"three seeds add up", allResults, {state0, state1, input0}, {1.0, 10.0, 100.0}, {531, 642, 987}},
        ProductCase{"results in another order", {output0, derivative1, derivative0}, {state1}, {1.0}, {8, 4, 3}},
        ProductCase{"the same seed variable twice adds twice", allResults, {input0, input0}, {1.0, 1.0}, {10, 12, 18}},
        ProductCase{"a zero seed is skipped, even on a parameter", allResults, {parameter2, state1}, {0.0, 1.0},
                    {3, 4, 8}},
        ProductCase{"zero seeds only: results 0, even for an auxiliary", {derivative0, auxiliary3}, {state0, input0},
                    {0.0, 0.0}, {0, 0}}),
    quenzel_test::CaseNameFrom<&ProductCase::what>{});

// ---- When the model is evaluated ---------------------------------------------------------

// The blocks count as current only at derivative level or above and while nothing changed
// since; otherwise the call first evaluates (which clears valuesChanged and the stale mark).
struct EvaluationCase {
  const char* what;
  int stale;
  int level;
  bool evaluates;
};

void PrintTo(const EvaluationCase& c, std::ostream* os) { *os << c.what; }

class AnalyticEvaluation : public AnalyticDirectional, public ::testing::WithParamInterface<EvaluationCase> {};

TEST_P(AnalyticEvaluation, HappensOnlyWhenTheBlocksAreNotCurrent) {
  const EvaluationCase& c = GetParam();
  prime();
  writeBlocks();
  // A state changed behind the instance's back: only an evaluation from below the derivative
  // level shows it in the derivatives.
  const double x = instance->states[stateFilterY] + 0.25;
  instance->states[stateFilterY] = x;
  const double derivativeBefore = instance->derivatives[stateFilterY];
  instance->jacobianStale = c.stale;
  instance->levelReached = c.level;
  instance->valuesChanged = 1;
  std::vector<double> result;
  ASSERT_EQ(derivative({derivative0, output0}, {state1}, {1.0}, &result), fmi2OK);
  EXPECT_EQ(result, (std::vector<double>{3, 8})) << "the evaluation kept the blocks";
  if (c.evaluates) {
    EXPECT_EQ(instance->valuesChanged, 0);
    EXPECT_EQ(instance->jacobianStale, 0);
    EXPECT_GE(instance->levelReached, demandDerivatives);
  } else {
    EXPECT_EQ(instance->valuesChanged, 1);
    EXPECT_EQ(instance->levelReached, c.level);
  }
  const double* p = instance->parameters;
  if (c.evaluates && c.level < demandDerivatives)
    EXPECT_DOUBLE_EQ(instance->derivatives[stateFilterY], (p[parFilterK] * instance->inputs[inputU] - x) / p[parFilterT]);
  else
    EXPECT_EQ(instance->derivatives[stateFilterY], derivativeBefore);
}

INSTANTIATE_TEST_SUITE_P(Marks, AnalyticEvaluation,
                         ::testing::Values(EvaluationCase{"current at level 2", 0, 2, false},
                                           EvaluationCase{"current at level 3", 0, 3, false},
                                           EvaluationCase{"stale at level 2", 1, 2, true},
                                           EvaluationCase{"level 1", 0, 1, true},
                                           EvaluationCase{"level 0 and stale", 1, 0, true}),
                         quenzel_test::CaseNameFrom<&EvaluationCase::what>{});

// The blocks are the model's while it runs: a failing evaluation (division by filter.T = 0)
// reports while they are handed over, with the model's dimensions. A failure the value getters
// would report as discardable is an error here, and ends the instance.
TEST_F(AnalyticDirectional, FailingEvaluationSeesTheBlocksAndEndsTheInstance) {
  prime();
  instance->parameters[parFilterT] = 0;
  instance->levelReached = 0;
  instance->jacobianStale = 1;
  std::vector<double> result;
  EXPECT_EQ(derivative({derivative0}, {state0}, {1.0}, &result), fmi2Error);
  ASSERT_FALSE(errors().empty());
  EXPECT_EQ(errors().back(), "fmi2GetDirectionalDerivative: dsblock_ failed, QiErr = 1");
  // The model's own report comes from inside the evaluation, the failure right after it.
  for (const Message& m : messages) {
    for (int k = 0; k < 4; ++k) EXPECT_EQ(m.handOver.blocks[k], *block(k)) << m.text << ": block " << k;
    EXPECT_EQ(m.handOver.nx, modelStates) << m.text;
    EXPECT_EQ(m.handOver.nu, modelInputs) << m.text;
    EXPECT_EQ(m.handOver.ny, modelOutputs) << m.text;
  }
  EXPECT_EQ(instance->jacobianStale, 1);
  EXPECT_EQ(instance->mode, modeTerminated);
}

// ---- References of the wrong kind ----------------------------------------------------------

struct ReferenceCase {
  const char* what;
  fmi2ValueReference bad;
};

void PrintTo(const ReferenceCase& c, std::ostream* os) { *os << c.what; }

class AnalyticBadSeedVariable : public AnalyticDirectional, public ::testing::WithParamInterface<ReferenceCase> {};

// The message names the seed's own index; the zero-seeded bad reference before it is passed over.
TEST_P(AnalyticBadSeedVariable, IsAnErrorNamingItsIndex) {
  prime();
  std::vector<double> result;
  const fmi2ValueReference bad = GetParam().bad;
  EXPECT_EQ(derivative(allResults, {bad, state0, bad}, {0.0, 1.0, 1.0}, &result), fmi2Error);
  EXPECT_EQ(errors(),
            std::vector<std::string>{"fmi2GetDirectionalDerivative: v_ref[2] refers neither to state nor input"});
  EXPECT_EQ(instance->mode, modeTerminated);
}

INSTANTIATE_TEST_SUITE_P(
    References, AnalyticBadSeedVariable,
    ::testing::Values(ReferenceCase{"parameter", parameter2}, ReferenceCase{"output", output0},
                      ReferenceCase{"state derivative", derivative0}, ReferenceCase{"auxiliary", auxiliary3},
                      ReferenceCase{"state beyond the states", reference(categoryState, modelStates)},
                      ReferenceCase{"input beyond the inputs", reference(categoryInput, modelInputs)}),
    quenzel_test::CaseNameFrom<&ReferenceCase::what>{});

class AnalyticBadResultVariable : public AnalyticDirectional, public ::testing::WithParamInterface<ReferenceCase> {};

TEST_P(AnalyticBadResultVariable, IsAnErrorNamingItsIndex) {
  prime();
  std::vector<double> result;
  EXPECT_EQ(derivative({derivative0, output0, GetParam().bad}, {input0}, {1.0}, &result), fmi2Error);
  EXPECT_EQ(errors(), std::vector<std::string>{
                          "fmi2GetDirectionalDerivative: z_ref[2] refers neither to state derivative nor output"});
  EXPECT_EQ(instance->mode, modeTerminated);
}

INSTANTIATE_TEST_SUITE_P(
    References, AnalyticBadResultVariable,
    ::testing::Values(ReferenceCase{"state", state0}, ReferenceCase{"input", input0},
                      ReferenceCase{"parameter", parameter2}, ReferenceCase{"auxiliary", auxiliary3},
                      ReferenceCase{"derivative beyond the states", reference(categoryDerivative, modelStates)},
                      ReferenceCase{"output beyond the outputs", reference(categoryOutput, modelOutputs)}),
    quenzel_test::CaseNameFrom<&ReferenceCase::what>{});

// ---- State snapshots -----------------------------------------------------------------------

// A model that works on state snapshots always takes differences: no blocks, no hand-over, and
// the slope of der(filter.y) along filter.y is -1/filter.T instead of the (zero) block value.
TEST_F(AnalyticDirectional, StateSnapshotsTakeDifferencesInstead) {
  instance->useStateSnapshots = 1;
  const fmi2ValueReference unknown = derivative0, known = state0;
  const double seed = 1.0;
  double result = NAN;
  EXPECT_EQ(fmiGetDirectionalDerivative(instance, &unknown, 1, &known, 1, &seed, &result), fmi2OK);
  EXPECT_NE(instance->derivativeSnapshot, nullptr);
  EXPECT_NEAR(result, -1.0 / instance->parameters[parFilterT], 1e-6);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(*block(k), nullptr) << "block " << k;
  EXPECT_EQ(instance->modelData->jacobianA, nullptr);
  EXPECT_TRUE(errors().empty());
  instance->useStateSnapshots = 0;
  // The snapshot stays with the instance and goes when it is freed.
}

}  // namespace
