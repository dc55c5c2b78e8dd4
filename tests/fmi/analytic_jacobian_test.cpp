// Directional derivatives from the model's Jacobian blocks. The generated model does not fill
// them, so the method is switched on here and the blocks are given known contents after the
// first call has made them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directional.h"
#include "fmu_host.h"
#include "initialize.h"
#include "instantiate.h"
#include "values.h"

namespace {

constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";
constexpr fmi2ValueReference state0 = 0x02000000, state1 = 0x02000001, input = 0x05000000;
constexpr fmi2ValueReference der0 = 0x23000000, der1 = 0x23000001, output = 0x14000000;
constexpr fmi2ValueReference parameter2 = 0x01000002;

class AnalyticJacobian : public ::testing::Test {
 protected:
  void SetUp() override {
    resetHostAllocator();
    analyticJacobian = 1;
    instance = fmiInstantiate("inst", fmi2ModelExchange, guid, "", host.functions(), fmi2False, fmi2True);
    ASSERT_NE(instance, nullptr);
    const fmi2ValueReference vr[] = {0x01000005, 0x01000007};
    const double values[] = {-1.0, -1.0};
    ASSERT_EQ(fmiSetReal(instance, vr, 2, values), fmi2OK);
    ASSERT_EQ(fmiEnterInitializationMode(instance), fmi2OK);
    ASSERT_EQ(fmiExitInitializationMode(instance), fmi2OK);
    host.clear();
  }
  void TearDown() override {
    analyticJacobian = 0;
    fmiFreeInstance(instance);
    EXPECT_EQ(hostAllocator().liveBlocks, 0);
  }

  fmi2Status call(const std::vector<fmi2ValueReference>& z, const std::vector<fmi2ValueReference>& v,
                  const std::vector<double>& dv, std::vector<double>* dz) {
    dz->assign(z.size(), -1.0);
    return fmiGetDirectionalDerivative(instance, z.data(), z.size(), v.data(), v.size(), dv.data(), dz->data());
  }

  HostCallbacks host;
  ModelInstance* instance = nullptr;
};

// Blocks filled with element = 10 * (row + 1) + (column + 1), column-major, then products
// along the seeds: dz_i = sum over j of element(i, column of j) * dv_j.
TEST_F(AnalyticJacobian, ProductsReadTheBlocksColumnByColumn) {
  std::vector<double> dz;
  ASSERT_EQ(call({der0}, {state0}, {1.0}, &dz), fmi2OK);
  ASSERT_NE(instance->jacobianA, nullptr);
  ASSERT_NE(instance->jacobianD, nullptr);
  EXPECT_EQ(instance->jacobianSizes[0], 4);
  EXPECT_EQ(instance->jacobianSizes[1], 2);
  auto fill = [](double* block, int rows, int columns) {
    for (int col = 0; col < columns; ++col)
      for (int row = 0; row < rows; ++row) block[col * rows + row] = 10 * (row + 1) + (col + 1);
  };
  fill(instance->jacobianA, 2, 2);
  fill(instance->jacobianB, 2, 1);
  fill(instance->jacobianC, 1, 2);
  fill(instance->jacobianD, 1, 1);
  // The blocks are up to date: no evaluation overwrites them.
  ASSERT_EQ(call({der0, der1, output}, {state1, input, state0}, {2.0, 3.0, 0.0}, &dz), fmi2OK);
  EXPECT_EQ(dz, (std::vector<double>{12 * 2.0 + 11 * 3.0, 22 * 2.0 + 21 * 3.0, 12 * 2.0 + 11 * 3.0}));
}

struct CategoryCase {
  std::vector<fmi2ValueReference> z, v;
  std::string message;
};

class WrongCategory : public AnalyticJacobian, public ::testing::WithParamInterface<CategoryCase> {};

TEST_P(WrongCategory, IsAnErrorNamingTheReferenceAndEndsTheInstance) {
  const CategoryCase& k = GetParam();
  std::vector<double> dz;
  EXPECT_EQ(call(k.z, k.v, std::vector<double>(k.v.size(), 1.0), &dz), fmi2Error);
  ASSERT_FALSE(host.log.empty());
  bool found = false;
  for (const LogRecord& r : host.log) found = found || (r.status == fmi2Error && r.text == k.message);
  EXPECT_TRUE(found) << k.message;
  EXPECT_EQ(instance->mode, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrongCategory,
    ::testing::Values(
        CategoryCase{{der0}, {state0, output}, "fmi2GetDirectionalDerivative: v_ref[1] refers neither to state nor input"},
        CategoryCase{{der0}, {0x02000002}, "fmi2GetDirectionalDerivative: v_ref[0] refers neither to state nor input"},
        CategoryCase{{der0, parameter2}, {input},
                     "fmi2GetDirectionalDerivative: z_ref[1] refers neither to state derivative nor output"},
        CategoryCase{{0x14000001}, {input},
                     "fmi2GetDirectionalDerivative: z_ref[0] refers neither to state derivative nor output"}));

}  // namespace
