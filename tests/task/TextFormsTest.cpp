#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

#include "support/ProcessState.h"
#include "task/TextFile.h"
#include "task/TextForms.h"

namespace meridane {
namespace {

TEST(Fixed20, Forms) {
  struct Case {
    double Value;
    const char* Text;
  };
  const Case cases[] = {
      {116.3671875, "  116.36718750000000"}, {-180, " -180.00000000000000"},
      {180, "  180.00000000000000"},         {39.63953756436669, "   39.63953756436669"},
      {0, "    0.00000000000000"},           {-0.5, "   -0.50000000000000"},
      {1e-15, "    0.00000000000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFixed20(c.Value), c.Text);
}

TEST(DateTime, FollowsTheTimeLocale) {
  const test::TLocaleGuard locale;
  const test::TEnvironmentGuard tz("TZ");
  tz.Set("UTC");
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(FormatDateTime(86400 * 365), "01/01/71 00:00:00");
}

TEST(TextFile, SplitAndJoin) {
  struct Case {
    const char* Text;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\r\rb\r\n\r\n", {"a", "", "b", ""}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitLines(c.Text), c.Lines) << c.Text;
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(JoinLines({}), "");
}

}  // namespace
}  // namespace meridane
