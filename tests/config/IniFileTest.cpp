#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "config/IniFile.h"
#include "support/TempDir.h"

namespace meridane {
namespace {

using namespace test;

TEST(TIniFile, ReadRules) {
  struct Case {
    const char *Content, *Section, *Key, *Expected;
  };
  const Case cases[] = {
      {"[S]\r\nK=v\r\n", "S", "K", "v"},
      {"[S]\r\nK=v\r\n", "T", "K", "dflt"},
      {"[S]\r\nK=v\r\n", "S", "L", "dflt"},
      {"[S]\r\nK=\r\n", "S", "K", ""},
      {"[S]\r\nK=  \t\r\n", "S", "K", ""},
      {"[iniParas]\r\ndefaultPATH=v\r\n", "IniParas", "DefaultPath", "v"},
      {"[S]\r\nK=first\r\nK=second\r\n", "S", "K", "first"},
      {"[S]\r\nK=first\r\n[s]\r\nK=second\r\n", "S", "K", "first"},
      {"[S]\r\nA=1\r\n[s]\r\nK=second\r\n", "S", "K", "dflt"},
      {"K=outside\r\n[A]\r\nK=a\r\n[S]\r\nK=s\r\n", "S", "K", "s"},
      {" [ S ] \r\n \t K \t=  a b \t\r\n", "S", "K", "a b"},
      {"[S]\nK=lf\n", "S", "K", "lf"},
      {"[S]\r\nK=no newline", "S", "K", "no newline"},
      {"[S]\r\n;K=comment\r\nK=real\r\n", "S", "K", "real"},
      {"[S]\r\nU=http://h/kh/v=91&s=Ga\r\n", "S", "U", "http://h/kh/v=91&s=Ga"},
      {"\xEF\xBB\xBF[S]\r\nK=bom\r\n", "S", "K", "bom"},
  };
  TTempDir dir;
  const auto path = dir / "a.ini";
  EXPECT_EQ(TIniFile(path).ReadString("S", "K", "dflt"), "dflt");
  EXPECT_EQ(TIniFile(path).ReadInteger("S", "K", 7), 7);
  for (const Case& c : cases) {
    WriteAll(path, c.Content);
    EXPECT_EQ(TIniFile(path).ReadString(c.Section, c.Key, "dflt"), c.Expected) << c.Content;
  }
}

TEST(TIniFile, ReadInteger) {
  struct Case {
    const char* Value;
    int Expected;
  };
  const Case cases[] = {
      {"12", 12},  {"-3", -3},    {" 12 ", 12}, {"+5", 5},           {"2147483647", 2147483647}, {"abc", 42},
      {"", 42},    {"12abc", 42}, {"1.5", 42},  {"99999999999", 42}, {"2147483648", 42},         {"-", 42},
      {"++3", 42}, {"+-3", 42},   {"0x10", 42}, {"1 2", 42},
  };
  TTempDir dir;
  for (const Case& c : cases) {
    WriteAll(dir / "a.ini", std::string("[S]\r\nK=") + c.Value + "\r\n");
    EXPECT_EQ(TIniFile(dir / "a.ini").ReadInteger("S", "K", 42), c.Expected) << '"' << c.Value << '"';
  }
}

// Each case writes K=new; nullptr stands for a missing file.
TEST(TIniFile, WriteKeepsEveryOtherByte) {
  struct Case {
    const char *Before, *Section, *After;
  };
  const Case cases[] = {
      {"; top\r\n[S]\r\nA=1\r\nK=old\r\nB=2\r\n\r\n[T]\r\nK=t\r\n", "S",
       "; top\r\n[S]\r\nA=1\r\nK=new\r\nB=2\r\n\r\n[T]\r\nK=t\r\n"},
      {"[S]\n;K=comment\nK=old\n\n[T]\n", "s", "[S]\n;K=comment\nK=new\n\n[T]\n"},
      {"[S]\r\nK=a\r\nK=b\r\n[S]\r\nK=c\r\n", "S", "[S]\r\nK=new\r\nK=b\r\n[S]\r\nK=c\r\n"},
      {"[S]\r\nA=1\r\n; note\r\n\r\n[T]\r\nK=t\r\n", "S", "[S]\r\nA=1\r\n; note\r\nK=new\r\n\r\n[T]\r\nK=t\r\n"},
      {"[T]\r\nX=1\r\n[S]\r\nA=1\r\n", "S", "[T]\r\nX=1\r\n[S]\r\nA=1\r\nK=new\r\n"},
      {"[S]\r\nA=1", "S", "[S]\r\nA=1\r\nK=new\r\n"},
      {"[T]\r\nX=1\r\n", "S", "[T]\r\nX=1\r\n\r\n[S]\r\nK=new\r\n"},
      {"[T]\r\nX=1\r\n\r\n", "S", "[T]\r\nX=1\r\n\r\n[S]\r\nK=new\r\n"},
      {"[T]\r\nX=1", "S", "[T]\r\nX=1\r\n\r\n[S]\r\nK=new\r\n"},
      // A file cut between CR and LF: X keeps its value.
      {"[T]\r\nX=1\r", "S", "[T]\r\nX=1\r\n\r\n[S]\r\nK=new\r\n"},
      {"[S]\r\nA=1\r", "S", "[S]\r\nA=1\r\nK=new\r\n"},
      {"", "S", "[S]\r\nK=new\r\n"},
      {nullptr, "S", "[S]\r\nK=new\r\n"},
  };
  TTempDir dir;
  const auto path = dir / "a.ini";
  for (const Case& c : cases) {
    std::filesystem::remove(path);
    if (c.Before) WriteAll(path, c.Before);
    TIniFile(path).WriteString(c.Section, "K", "new");
    EXPECT_EQ(ReadAll(path), c.After) << (c.Before ? c.Before : "(no file)");
    EXPECT_EQ(EntryCount(dir.Path()), 1);
  }
}

// Several keys in one replacement give the file that writing them one by one gives.
TEST(TIniFile, WriteStringsEqualsOneByOne) {
  TTempDir dir;
  for (const char* before : {"", "[S]\r\nT1X=5\r\nT1Y=\r\n[T]\r\n", "[T]\r\nT1X=1\r\n"}) {
    WriteAll(dir / "one.ini", before);
    WriteAll(dir / "all.ini", before);
    const std::vector<std::pair<std::string, std::string>> keys = {{"T1X", "7"}, {"T1Y", "8"}, {"T2X", "9"}};
    for (const auto& [key, value] : keys) TIniFile(dir / "one.ini").WriteString("S", key, value);
    TIniFile(dir / "all.ini").WriteStrings("S", keys);
    EXPECT_EQ(ReadAll(dir / "all.ini"), ReadAll(dir / "one.ini")) << before;
  }
}

TEST(TIniFile, WriteIntoMissingFolderThrows) {
  TTempDir dir;
  const auto path = dir / "missing" / "a.ini";
  try {
    TIniFile(path).WriteString("S", "K", "V");
    ADD_FAILURE() << "no error";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path.string());
  }
}

TEST(TIniFile, LineBreakInValueCannotForgeKeys) {
  TTempDir dir;
  const TIniFile ini(dir / "a.ini");
  for (const char* value : {"x\r\nEvil=1", "x\nEvil=1\n[T]\nEvil=1", "x\rEvil=1"}) {
    ini.WriteString("S", "K", value);
    EXPECT_EQ(ini.ReadString("S", "Evil", "none") + ini.ReadString("T", "Evil", "none"), "nonenone") << value;
    EXPECT_EQ(ini.ReadString("S", "K", "").substr(0, 1), "x") << value;
  }
}

}  // namespace
}  // namespace meridane
