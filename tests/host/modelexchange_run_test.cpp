// Whole Model Exchange runs through the test host with quenzel-host's integrator: the filters
// against their analytic solution, the ramp's time event announced through nextEventTime and the
// threshold's state event found through the event indicators.
#include <cmath>
#include <string>
#include <vector>

#include "case_names.h"
#include "fmi2_api.h"
#include "fmu_archive.h"
#include "model_description.h"
#include "simulate.h"
#include "unit_fixture.h"

namespace {

struct Recording {
  std::vector<std::string> columns;
  std::vector<std::vector<double>> rows;
  std::vector<SimulationEvent> events;

  size_t column(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i)
      if (columns[i] == name) return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
};

void recordHeader(void* r, const std::vector<std::string>& columns) { static_cast<Recording*>(r)->columns = columns; }
void recordRow(void* r, const std::vector<double>& values) { static_cast<Recording*>(r)->rows.push_back(values); }
void recordEvent(void* r, const SimulationEvent& e) { static_cast<Recording*>(r)->events.push_back(e); }

class ModelExchangeRun : public UnitTest {
 protected:
  void SetUp() override {
    UnitTest::SetUp();
    std::string folder, error;
    ASSERT_TRUE(unpackFmu(QUENZEL_FMU_PATH, &folder, &error)) << error;
    ASSERT_TRUE(readModelDescription((folder + "/modelDescription.xml").c_str(), &description, &error)) << error;
    removeUnpackedFmu(folder);
    resolveFmi2Api(unit.handle(), &api);
  }

  bool run(const SimulationOptions& options, Recording* recording, std::string* error) {
    SimulationOutput output;
    output.context = recording;
    output.header = recordHeader;
    output.row = recordRow;
    output.event = recordEvent;
    return simulateModelExchange(api, description, host.functions(), options, output, error);
  }

  ModelDescription description;
  Fmi2Api api{};
};

// First-order filter y' = (k u - y) / T from y0: k u + (y0 - k u) e^(-t/T).
double filterSolution(double k, double u, double T, double y0, double t) {
  return k * u + (y0 - k * u) * std::exp(-t / T);
}

// The global error of explicit Euler on that filter with steps of at most h: each step multiplies
// the deviation by 1 - h/T instead of e^(-h/T), which adds up to at most
// |y0 - k u| t h / (2 T^2) e^(-(t-h)/T).
double eulerBound(double k, double u, double T, double y0, double t, double h) {
  return std::fabs(y0 - k * u) * t * h / (2 * T * T) * std::exp(-(t - h) / T) + 1e-12;
}

TEST_F(ModelExchangeRun, FiltersFollowTheirSolutionThroughBothEvents) {
  SimulationOptions options;
  options.startTime = 0;
  options.stopTime = 4;
  options.stepSize = 1e-3;
  options.loggingOn = true;
  const double u = 3.0, k0 = 2.0, T0 = 0.5, y00 = 0.25;   // filter
  const double k1 = 1.5, T1 = 2.0, y01 = 4.0, uMax1 = 1;  // limitedFilter, fed by limiter1.y = 1
  options.settings = {{"limiter.uMin", "-1"},     {"limiter1.uMin", "-1"},      {"timeSource.startTime", "2"},
                      {"outputSelector", "2"},    {"u", "3"},                   {"filter.k", "2"},
                      {"filter.T", "0.5"},        {"filter.yStart", "0.25"},    {"limitedFilter.k", "1.5"},
                      {"limitedFilter.T", "2"},   {"limitedFilter.yStart", "4"}};
  Recording r;
  std::string error;
  ASSERT_TRUE(run(options, &r, &error)) << error;

  ASSERT_EQ(r.columns, (std::vector<std::string>{"time", "u", "y", "filter.y", "limitedFilter.y"}));
  size_t cy = r.column("y"), cx0 = r.column("filter.y"), cx1 = r.column("limitedFilter.y");
  ASSERT_GT(r.rows.size(), 4000u);
  double previous = -1;
  for (const std::vector<double>& row : r.rows) {
    double t = row[0];
    ASSERT_GE(t, previous);
    previous = t;
    EXPECT_NEAR(row[cx0], filterSolution(k0, u, T0, y00, t), eulerBound(k0, u, T0, y00, t, options.stepSize))
        << "t = " << t;
    EXPECT_NEAR(row[cx1], filterSolution(k1, uMax1, T1, y01, t), eulerBound(k1, uMax1, T1, y01, t, options.stepSize))
        << "t = " << t;
  }
  EXPECT_EQ(r.rows.back()[0], 4.0);
  // The bound is tight enough to see the integrator: the deviation is not zero.
  EXPECT_GT(std::fabs(r.rows.back()[cx0] - filterSolution(k0, u, T0, y00, 4.0)) +
                std::fabs(r.rows.back()[cx1] - filterSolution(k1, uMax1, T1, y01, 4.0)),
            0.0);

  // The initialisation announces the ramp's start; the step ends there for the time event; the
  // threshold's pair of indicators locates the crossing at 3, where y becomes u.
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[0].reasons, eventInitial);
  EXPECT_TRUE(r.events[0].nextEventTimeDefined);
  EXPECT_EQ(r.events[0].nextEventTime, 2.0);
  EXPECT_EQ(r.events[1].reasons, eventTime);
  EXPECT_EQ(r.events[1].time, 2.0);
  EXPECT_FALSE(r.events[1].nextEventTimeDefined);
  EXPECT_EQ(r.events[2].reasons, eventState);
  EXPECT_NEAR(r.events[2].time, 3.0, 1e-9);
  EXPECT_EQ(r.events[2].indicators, (std::vector<unsigned>{8, 9}));
  for (const SimulationEvent& e : r.events) EXPECT_FALSE(e.terminateSimulation);

  for (size_t i = 0; i < r.rows.size(); ++i) {
    double t = r.rows[i][0];
    bool after = t > r.events[2].time || (t == r.events[2].time && i + 1 < r.rows.size() && r.rows[i + 1][0] > t);
    EXPECT_EQ(r.rows[i][cy], after ? u : 1500.0) << "t = " << t;
  }

  // Nothing went wrong on the way, the run's calls went through the host's callbacks, and the
  // instance gave back everything it took.
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
  EXPECT_TRUE(textsAt(fmi2Error).empty());
  EXPECT_TRUE(host.contains("fmi2NewDiscreteStates completed"));
  EXPECT_EQ(host.texts().back(), "fmiFreeModelInstance");
  EXPECT_GT(hostAllocator().allocations, 0);
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
}

// The integrator's error shrinks with the step as Euler's does: halving the step halves it.
TEST_F(ModelExchangeRun, EulerErrorHalvesWithTheStep) {
  double deviation[2];
  for (int i = 0; i < 2; ++i) {
    SimulationOptions options;
    options.stopTime = 1;
    options.stepSize = i == 0 ? 0.01 : 0.005;
    options.settings = {{"limiter.uMin", "-1"}, {"limiter1.uMin", "-1"}, {"filter.yStart", "0"}};
    Recording r;
    std::string error;
    ASSERT_TRUE(run(options, &r, &error)) << error;
    deviation[i] = r.rows.back()[r.column("filter.y")] - filterSolution(1, 1, 1, 0, 1);
  }
  EXPECT_NEAR(deviation[0] / deviation[1], 2.0, 0.05);
}

// A failure of the model ends the run with the failing call named and the instance freed.
TEST_F(ModelExchangeRun, InconsistentDefaultLimitsEndTheRunAtInitialisation) {
  Recording r;
  std::string error;
  EXPECT_FALSE(run(SimulationOptions{}, &r, &error));
  EXPECT_EQ(error, "fmi2EnterInitializationMode returned fmi2Error");
  EXPECT_TRUE(host.contains("Limiter: Limits must be consistent. However, uMax (=1) < uMin (=10000)"));
  EXPECT_TRUE(r.rows.empty());
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
}

struct BadSetting {
  const char* name;
  VariableSetting setting;
  const char* error;
};

void PrintTo(const BadSetting& c, std::ostream* os) { *os << c.name; }

class ModelExchangeRunSetting : public ModelExchangeRun, public ::testing::WithParamInterface<BadSetting> {};

TEST_P(ModelExchangeRunSetting, UnusableSettingsAreRefusedBeforeInitialisation) {
  SimulationOptions options;
  options.settings = {GetParam().setting};
  Recording r;
  std::string error;
  EXPECT_FALSE(run(options, &r, &error));
  EXPECT_EQ(error, GetParam().error);
  EXPECT_FALSE(host.contains("fmi2EnterInitializationMode"));
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelExchangeRunSetting,
    ::testing::Values(BadSetting{"NoSuchVariable", {"nothing", "1"}, "--set nothing: no such variable"},
                      BadSetting{"Output", {"y", "1"}, "--set y: not a parameter or input (causality output)"},
                      BadSetting{"Local", {"filter.y", "1"},
                                 "--set filter.y: not a parameter or input (causality local)"},
                      BadSetting{"DecimalComma", {"u", "1,5"}, "--set u: invalid value \"1,5\""},
                      BadSetting{"EmptyValue", {"u", ""}, "--set u: invalid value \"\""}),
    quenzel_test::CaseName{});

}  // namespace
