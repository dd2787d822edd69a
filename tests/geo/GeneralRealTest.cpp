#include <gtest/gtest.h>

#include <clocale>
#include <locale>

#include "geo/GeneralReal.h"
#include "support/ProcessState.h"

namespace meridane {
namespace {

TEST(GeneralReal, Forms) {
  struct Case {
    double Value;
    const char* Text;
  };
  const Case cases[] = {
      {116.39, "116.39"},
      {-180, "-180"},
      {0, "0"},
      {-0.0, "0"},
      {0.0001, "0.0001"},
      {0.00005, "5E-5"},
      {-0.00005, "-5E-5"},
      {5.00000023748726e-5, "5.00000023748726E-5"},
      {116.38999938964844, "116.389999389648"},
      {0.1 + 0.2, "0.3"},
      {39.9, "39.9"},
      {116.3671875, "116.3671875"},
      {39.36827914916013, "39.3682791491601"},
      {999999999999999, "999999999999999"},
      {1e15, "1E15"},
      {123456789012345678.0, "1.23456789012346E17"},
      {1234.5, "1234.5"},
      {0.00123, "0.00123"},
      {100, "100"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatGeneralReal(c.Value), c.Text);
}

TEST(GeneralReal, PointEvenUnderADecimalCommaLocale) {
  const test::TLocaleGuard locale;
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not generated on this machine";
  std::locale::global(std::locale("de_DE.UTF-8"));
  EXPECT_EQ(FormatGeneralReal(116.39), "116.39");
  EXPECT_EQ(FormatGeneralReal(0.00005), "5E-5");
}

}  // namespace
}  // namespace meridane
