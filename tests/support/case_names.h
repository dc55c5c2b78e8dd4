// Names of the cases of parameterised tests, so that the test list, ctest and every failure say
// which case ran. A case table gives each case a short label; the name generator turns it into a
// test name:
//
//   INSTANTIATE_TEST_SUITE_P(Cases, Suite, ::testing::ValuesIn(cases), quenzel_test::CaseName{});
//   INSTANTIATE_TEST_SUITE_P(Cases, Suite, ::testing::ValuesIn(cases),
//                            quenzel_test::CaseNameFrom<&Case::label>{});
//   INSTANTIATE_TEST_SUITE_P(Formats, Suite, ::testing::Values(0, 1),
//                            quenzel_test::CaseNameFrom<formatName>{});
//
// and the table's PrintTo prints the same label where a failure shows GetParam().
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

namespace quenzel_test {

// A test name from a label: letters, digits and '_' stay as they are, every run of other
// characters becomes one '_', and none is left at either end ("A too small" gives A_too_small,
// "filter.y" gives filter_y). GoogleTest itself refuses an empty or a repeated name in a suite.
inline std::string testName(std::string_view label) {
  std::string name;
  bool gap = false;
  for (char ch : label) {
    bool kept = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_';
    if (!kept) {
      gap = true;
      continue;
    }
    if (gap && !name.empty()) name += '_';
    gap = false;
    name += ch;
  }
  return name;
}

// The name generator of a table whose cases carry their label in `name`.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return testName(info.param.name);
  }
};

// The name generator of a table whose cases carry their label in another member (&Case::label),
// or of values that a function of the file labels (a format, a kind).
template <auto label>
struct CaseNameFrom {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return testName(std::invoke(label, info.param));
  }
};

}  // namespace quenzel_test
