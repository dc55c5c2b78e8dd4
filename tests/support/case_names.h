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

// A test name from a label: letters, digits and '_' stay as they are, a minus sign before a
// number becomes "minus", every run of other characters becomes one '_', and none is left at
// either end ("A too small" gives A_too_small, "filter.y" filter_y, "mode -1" mode_minus1).
// GoogleTest itself refuses an empty or a repeated name in a suite.
inline std::string testName(std::string_view label) {
  auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
  auto isKept = [&](char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || isDigit(ch) || ch == '_';
  };
  std::string name;
  bool gap = false;
  for (size_t i = 0; i < label.size(); ++i) {
    const char ch = label[i];
    const bool minusSign =
        ch == '-' && i + 1 < label.size() && isDigit(label[i + 1]) && (i == 0 || !isKept(label[i - 1]));
    if (!isKept(ch) && !minusSign) {
      gap = true;
      continue;
    }
    if (gap && !name.empty()) name += '_';
    gap = false;
    if (minusSign)
      name += "minus";
    else
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

// The name generator of a suite whose parameter is the count of the allocation made to fail (1 for
// the first): Allocation1, Allocation2, ...
struct AllocationName {
  template <class Count>
  std::string operator()(const ::testing::TestParamInfo<Count>& info) const {
    return "Allocation" + std::to_string(info.param);
  }
};

}  // namespace quenzel_test
