// The default hooks: reports to the standard error stream, and fatal errors that end the
// process whatever the fatal hook does.
#include <gtest/gtest.h>

#include <string>

#include "tpl.h"

namespace {

void returningFatal(const char*, ...) {}

TEST(TplHooks, DefaultReportWritesToStandardError) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(tpl_default_report("invalid index %d to tpl_pack\n", 7), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "invalid index 7 to tpl_pack\n");
}

TEST(TplHooks, OutOfMemoryEndsTheProcess) {
  EXPECT_EXIT(
      {
        tpl_hooks.malloc = [](size_t) -> void* { return nullptr; };
        int32_t i = 0;
        tpl_map("i", &i);
      },
      testing::ExitedWithCode(255), "out of memory\n");
}

TEST(TplHooks, DefaultFatalKeepsTheFirst99Characters) {
  std::string longText(150, 'x');
  EXPECT_EXIT(tpl_default_fatal("%s|", longText.c_str()), testing::ExitedWithCode(255),
              "^" + std::string(99, 'x') + "$");
}

TEST(TplHooks, AFatalHookThatReturnsStillEndsTheProcess) {
  EXPECT_EXIT(
      {
        tpl_hooks.fatal = returningFatal;
        int32_t i = 0;
        tpl_map("i#", &i, 0);
      },
      testing::ExitedWithCode(255), "");
}

}  // namespace
