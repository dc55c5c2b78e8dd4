// Directional derivatives by differences: against central differences of the model's equations
// taken through the getters, with the seed variables left as they were.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "case_names.h"
#include "state_fixture.h"

namespace {

const std::vector<fmi2ValueReference> unknowns = {model::derFilterY, model::derLimitedFilterY, model::y};

class Directional : public StateTest {
 protected:
  // A Model Exchange instance in continuous-time mode at t = 0.5 with states (0.3, 0.6) and u =
  // 0.4, filter time constants 0.5 and 2, and filter.y as output.
  fmi2Component prepared() {
    if (!unit.fmi2NewDiscreteStates) return nullptr;
    fmi2Component c = continuousTime(0.5, 0.3, 0.6);
    EXPECT_EQ(set(c, model::u, 0.4), fmi2OK);
    EXPECT_EQ(set(c, model::filterT, 0.5), fmi2OK);
    EXPECT_EQ(set(c, model::limitedFilterT, 2.0), fmi2OK);
    EXPECT_EQ(set(c, model::outputSelector, 3.0), fmi2OK);
    host.clear();
    return c;
  }

  std::vector<double> read(fmi2Component c, const std::vector<fmi2ValueReference>& vr) {
    std::vector<double> values(vr.size(), NAN);
    EXPECT_EQ(unit.fmi2GetReal(c, vr.data(), vr.size(), values.data()), fmi2OK);
    return values;
  }

  void write(fmi2Component c, const std::vector<fmi2ValueReference>& vr, const std::vector<double>& values) {
    EXPECT_EQ(unit.fmi2SetReal(c, vr.data(), vr.size(), values.data()), fmi2OK);
  }

  // Central differences of the unknowns along the seeds, taken by the test itself.
  std::vector<double> reference(fmi2Component c, const std::vector<fmi2ValueReference>& known,
                                const std::vector<double>& seeds) {
    const double eps = 1e-6;
    std::vector<double> base = read(c, known), plus = base, minus = base;
    for (size_t j = 0; j < known.size(); ++j) {
      plus[j] += eps * seeds[j];
      minus[j] -= eps * seeds[j];
    }
    write(c, known, plus);
    std::vector<double> zPlus = read(c, unknowns);
    write(c, known, minus);
    std::vector<double> zMinus = read(c, unknowns), result(unknowns.size());
    write(c, known, base);
    for (size_t i = 0; i < unknowns.size(); ++i) result[i] = (zPlus[i] - zMinus[i]) / (2 * eps);
    return result;
  }

  fmi2Status derivative(fmi2Component c, const std::vector<fmi2ValueReference>& known,
                        const std::vector<double>& seeds, std::vector<double>* result) {
    result->assign(unknowns.size(), NAN);
    return unit.fmi2GetDirectionalDerivative(c, unknowns.data(), unknowns.size(), known.data(), known.size(),
                                             seeds.data(), result->data());
  }
};

struct SeedCase {
  const char* what;
  std::vector<fmi2ValueReference> known;
  std::vector<double> seeds;
};

void PrintTo(const SeedCase& c, std::ostream* os) { *os << c.what; }

class Seeds : public Directional, public ::testing::WithParamInterface<SeedCase> {};

TEST_P(Seeds, AgreeWithCentralDifferencesAndLeaveTheSeedVariablesAsTheyWere) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  const SeedCase& k = GetParam();
  std::vector<double> expected = reference(c, k.known, k.seeds);
  std::vector<double> before = read(c, k.known);
  host.clear();
  std::vector<double> result;
  ASSERT_EQ(derivative(c, k.known, k.seeds, &result), fmi2OK);
  ASSERT_GE(host.log.size(), 2u);
  EXPECT_EQ(host.log[0].text, "fmi2GetDirectionalDerivative");
  EXPECT_EQ(host.log[1].text, "fmi2GetDirectionalDerivative");
  for (size_t i = 0; i < unknowns.size(); ++i)
    EXPECT_NEAR(result[i], expected[i], 1e-6 * (1 + std::fabs(expected[i]))) << "unknown " << i;
  std::vector<double> after = read(c, k.known);
  for (size_t j = 0; j < k.known.size(); ++j) EXPECT_EQ(after[j], before[j]) << "known " << j;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Seeds,
    ::testing::Values(SeedCase{"filter.y", {model::filterY}, {1.0}},
                      SeedCase{"limitedFilter.y", {model::limitedFilterY}, {1.0}},
                      SeedCase{"u", {model::u}, {1.0}},
                      SeedCase{"both states and u", {model::filterY, model::limitedFilterY, model::u}, {2.0, -1.0, 0.5}},
                      SeedCase{"a zero seed beside u", {model::filterY, model::u}, {0.0, 3.0}}),
    quenzel_test::CaseNameFrom<&SeedCase::what>{});

// der(filter.y) = (k u - filter.y) / T: the slope along the first state is -1/T.
TEST_F(Directional, FirstStateGivesMinusOneOverTheTimeConstant) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  std::vector<double> result;
  ASSERT_EQ(derivative(c, {model::filterY}, {1.0}, &result), fmi2OK);
  EXPECT_NEAR(result[0], -2.0, 1e-9);
  EXPECT_NEAR(result[2], 1.0, 1e-9);  // y = filter.y
}

TEST_F(Directional, ZeroSeedsGiveZero) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  std::vector<double> result;
  ASSERT_EQ(derivative(c, {model::filterY, model::u}, {0.0, 0.0}, &result), fmi2OK);
  EXPECT_EQ(result, std::vector<double>(unknowns.size(), 0.0));
}

TEST_F(Directional, ASmallerRequestReusesTheWorkVectors) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  std::vector<double> result;
  ASSERT_EQ(derivative(c, {model::filterY, model::limitedFilterY, model::u}, {1.0, 1.0, 1.0}, &result), fmi2OK);
  long allocations = hostAllocator().allocations;
  ASSERT_EQ(derivative(c, {model::u}, {1.0}, &result), fmi2OK);
  EXPECT_EQ(hostAllocator().allocations, allocations);
}

TEST_F(Directional, WorkVectorsThatCannotBeMadeEndTheInstance) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  hostAllocator().failAt = hostAllocator().calls + 2;
  std::vector<double> result;
  EXPECT_EQ(derivative(c, {model::u}, {1.0}, &result), fmi2Error);
  hostAllocator().failAt = 0;
  EXPECT_EQ(textsAt(fmi2Error), std::vector<std::string>{"fmi2GetDirectionalDerivative: memory allocation failed"});
  EXPECT_EQ(probeMode(c), 7);  // terminated
}

// Both perturbed evaluations fail (each side breaks one limiter's limits, the unperturbed
// values sit exactly on them): the call reports the failure and still sets the seeds back.
TEST_F(Directional, SeedsAreSetBackWhenBothPerturbedReadsFail) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  constexpr fmi2ValueReference limiterUMax = model::parameter(4), limiter1UMax = model::parameter(6);
  write(c, {limiterUMax, model::limiterUMin, limiter1UMax, model::limiter1UMin}, {1.0, 1.0, 1.0, 1.0});
  ASSERT_EQ(get(c, model::y), get(c, model::y));
  const std::vector<fmi2ValueReference> known = {model::limiterUMin, model::limiter1UMin};
  std::vector<double> result;
  EXPECT_EQ(derivative(c, known, {1.0, -1.0}, &result), fmi2Discard);
  EXPECT_EQ(read(c, known), (std::vector<double>{1.0, 1.0}));
}

// One side of the perturbation makes limiter1's limits inconsistent (they start equal, with u
// below them, so limiter1.y is its uMin and der(limitedFilter.y) depends on it): that side's read
// fails with fmi2Discard and the result is the difference on the other side alone, over the step
// the call takes, h = 1e-5 (|v| + 1) / |dv|. The call succeeds and sets the seed back.
struct OneSidedCase {
  const char* name;
  double seed;     // on limiter1.uMin
  bool plusFails;  // the seed raises uMin above uMax on the plus side
};

void PrintTo(const OneSidedCase& c, std::ostream* os) { *os << c.name; }

class OneSided : public Directional, public ::testing::WithParamInterface<OneSidedCase> {};

TEST_P(OneSided, FallsBackToTheSideThatCouldBeRead) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  const OneSidedCase& k = GetParam();
  constexpr fmi2ValueReference limiter1UMax = model::parameter(6);
  write(c, {limiter1UMax, model::limiter1UMin}, {1.0, 1.0});
  const std::vector<fmi2ValueReference> known = {model::limiter1UMin};

  // The expected result, taken through the getters on the side that can be evaluated.
  const std::vector<double> zBase = read(c, unknowns);
  const double v = read(c, known)[0];
  const double h = 1e-5 * (std::fabs(v) + 1) / std::fabs(k.seed);
  write(c, known, {k.plusFails ? v - h * k.seed : v + h * k.seed});
  const std::vector<double> zSide = read(c, unknowns);
  write(c, known, {v});
  std::vector<double> expected(unknowns.size());
  for (size_t i = 0; i < unknowns.size(); ++i)
    expected[i] = k.plusFails ? (zBase[i] - zSide[i]) / h : (zSide[i] - zBase[i]) / h;
  ASSERT_NE(expected[1], 0.0) << "der(limitedFilter.y) depends on limiter1.uMin";

  host.clear();
  std::vector<double> result;
  EXPECT_EQ(derivative(c, known, {k.seed}, &result), fmi2OK);
  EXPECT_TRUE(host.contains("Limiter: Limits must be consistent")) << "one side was refused";
  for (size_t i = 0; i < unknowns.size(); ++i) EXPECT_DOUBLE_EQ(result[i], expected[i]) << "unknown " << i;
  EXPECT_EQ(read(c, {limiter1UMax, model::limiter1UMin}), (std::vector<double>{1.0, 1.0}));
  EXPECT_EQ(read(c, unknowns), zBase);
}

INSTANTIATE_TEST_SUITE_P(Sides, OneSided,
                         ::testing::Values(OneSidedCase{"PlusFails", 1.0, true},
                                           OneSidedCase{"PlusFailsWithAHalfSeed", 0.5, true},
                                           OneSidedCase{"MinusFails", -2.0, false}),
                         quenzel_test::CaseName{});

// An image may switch state snapshots on for the instance it is restored into. The derivative
// then restores a snapshot instead of the seeds; the snapshot is the instance's and is released
// with it (the fixture finds no block left with the host).
TEST_F(Directional, SnapshotsSwitchedOnByARestoredImageAgreeAndGoWithTheInstance) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  const std::vector<fmi2ValueReference> known = {model::filterY, model::u};
  const std::vector<double> seeds = {1.0, 0.5};
  std::vector<double> expected = reference(c, known, seeds);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  std::vector<char> image = serialize(c, state);
  ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  stateImage::put<int32_t>(image, stateImage::flagsOffset, 1);  // useStateSnapshots
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);

  std::vector<double> before = read(c, known), result;
  for (int call = 0; call < 2; ++call) {
    ASSERT_EQ(derivative(c, known, seeds, &result), fmi2OK);
    for (size_t i = 0; i < unknowns.size(); ++i)
      EXPECT_NEAR(result[i], expected[i], 1e-6 * (1 + std::fabs(expected[i]))) << "unknown " << i;
    EXPECT_EQ(read(c, known), before);
  }
}

TEST_F(Directional, NullArraysWithEntriesAreRefused) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  fmi2Component c = prepared();
  fmi2ValueReference vr = model::u;
  double seed = 1.0, out = 7.0;
  EXPECT_EQ(unit.fmi2GetDirectionalDerivative(c, &vr, 1, &vr, 1, nullptr, &out), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetDirectionalDerivative(c, &vr, 1, nullptr, 1, &seed, &out), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetDirectionalDerivative(c, &vr, 1, &vr, 1, &seed, nullptr), fmi2Warning);
  EXPECT_EQ(out, 7.0);
  EXPECT_EQ(textsAt(fmi2Warning), (std::vector<std::string>{"fmi2GetDirectionalDerivative: dvKnown == NULL",
                                                            "fmi2GetDirectionalDerivative: vKnown_ref == NULL",
                                                            "fmi2GetDirectionalDerivative: dvUnknown == NULL"}));
}

}  // namespace
