// Checks on the report of a failed AssertCondition: its condition text comes first, then the
// time-stamped header, then the message.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "guarded_call.h"

inline void ExpectFailedCheck(const GuardedCallResult& result, const std::string& conditionText,
                              const std::string& message) {
  ASSERT_TRUE(result.armed);
  ASSERT_TRUE(result.jumped) << "the check did not fail: " << conditionText;
  std::vector<std::string> texts = result.texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[0], conditionText);
  EXPECT_EQ(texts[2], message);
}

inline void ExpectNoFailure(const GuardedCallResult& result) {
  ASSERT_TRUE(result.armed);
  EXPECT_FALSE(result.jumped) << (result.messages.empty() ? "" : result.messages[0].text);
}
