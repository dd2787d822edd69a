#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "geo/Convert.h"

namespace meridane {
namespace {

TEST(ConvertDegrees, Results) {
  struct Case {
    const char *D, *M, *S, *Result;
  };
  const Case cases[] = {
      {"116", "23", "24", "116.389999389648"},
      {"39", "54", "0", "39.9000015258789"},
      {"0", "0", "36", "0.00999999977648258"},
      {"10", "30", "", "10.5"},
      {"10", "30", "12abc", "10.5033330917358"},
      // Negative degrees (a typed "-0" too) make the whole angle negative;
      // the signs of minutes and seconds then do not count.
      {"-10", "30", "0", "-10.5"},
      {"-0", "30", "0", "-0.5"},
      {"-10", "-30", "0", "-10.5"},
      {"-10", "30", "-36", "-10.5100002288818"},
      {"-116", "23", "24", "-116.389999389648"},
      {"10", "-30", "0", "9.5"},  // degrees of 0 or more: the three added
      {"0", "-30", "-36", "-0.509999990463257"},
      {"0", "0", "0.18", "5.00000023748726E-5"},
      {"0", "75", "0", "1.25"},
      {"+5", "0", "  1.8e1x", "5.00500011444092"},  // "1.8e1" read, "x" ignored
      {"1", "0", "e5", "1"},                        // no digits before the exponent: no number
      {"1", "0", "36e", "1.00999999046326"},        // an exponent without digits is not taken
  };
  for (const Case& c : cases) {
    const auto text = ConvertDegreesText(c.D, c.M, c.S);
    ASSERT_TRUE(text) << c.D << " " << c.M << " " << c.S;
    EXPECT_EQ(*text, c.Result) << c.D << " " << c.M << " " << c.S;
  }
}

TEST(ConvertDegrees, InputErrors) {
  const char* bad[][2] = {{"10.5", "0"}, {"", "0"},  {"0", ""},           {"1a", "0"},
                          {"0", "1 "},   {"-", "0"}, {"2147483648", "0"}, {"0", "0x10"}};
  for (const auto& c : bad) EXPECT_FALSE(ConvertDegreesText(c[0], c[1], "0")) << c[0] << " " << c[1];
  EXPECT_TRUE(ConvertDegreesText("-2147483648", "2147483647", "0"));
}

TEST(ConvertDegrees, SecondsReaderNeverFails) {
  EXPECT_EQ(ReadLeadingReal("abc"), 0.0f);
  EXPECT_EQ(ReadLeadingReal("."), 0.0f);
  EXPECT_EQ(ReadLeadingReal(" -.5"), -0.5f);
  EXPECT_EQ(ReadLeadingReal("1e99"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ReadLeadingReal("1e-99"), 0.0f);
  // Beyond a double too: the size is where the first digit stands, not the exponent's sign.
  EXPECT_EQ(ReadLeadingReal("0." + std::string(400, '0') + "1e10"), 0.0f);
  EXPECT_EQ(ReadLeadingReal("1" + std::string(400, '0') + "e-10"), std::numeric_limits<float>::infinity());
}

}  // namespace
}  // namespace meridane
