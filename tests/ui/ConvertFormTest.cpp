#include <gtest/gtest.h>

#include "ui/ConvertForm.h"
#include "ui/HeadlessToolkit.h"

namespace meridane {
namespace {

using TLines = std::vector<std::string>;

TEST(ConvertForm, Button1Click) {
  const struct {
    const char *Degrees, *Minutes, *Seconds;
    const char* Result;  // null: "Input Error." and the result field as it was
  } cases[] = {
      // The number forms are tested with the conversion; here each field's part.
      {"116", "23", "24", "116.389999389648"},
      {"10", "30", "12abc", "10.5033330917358"},
      {"-10", "30", "", "-10.5"},
      {"0", "0", "0.18", "5.00000023748726E-5"},
      {"10.5", "0", "0", nullptr},
      {"", "0", "0", nullptr},
      {"1", "1.5", "0", nullptr},
      {"2147483648", "0", "0", nullptr},
      {"1", "x", "0", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Degrees) + " " + c.Minutes + " " + c.Seconds);
    THeadlessToolkit toolkit;
    TfrmConvert form(toolkit);
    form.Edit1.Text = c.Degrees, form.Edit2.Text = c.Minutes, form.Edit3.Text = c.Seconds;
    form.Edit4.Text = "earlier";
    form.Button1Click();
    EXPECT_EQ(form.Edit4.Text, c.Result ? c.Result : "earlier");
    EXPECT_EQ(toolkit.Messages, c.Result ? TLines{} : TLines{"Input Error."});
    EXPECT_TRUE(toolkit.Errors.empty());
  }
}

}  // namespace
}  // namespace meridane
