#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/AtomicFile.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "ui/Memo.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TTempDir;
using test::WriteAll;

std::vector<std::string> Lines(const TMemo& memo) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < memo.Count(); ++i) lines.emplace_back(memo.Line(i));
  return lines;
}

// Overwrites the first bytes in place, keeping the size and the timestamp.
void Tamper(const fs::path& path, const std::string& bytes) {
  const auto modified = fs::last_write_time(path);
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  fs::last_write_time(path, modified);
}

TEST(Memo, LinesAndText) {
  TMemo memo("first");
  memo.Add("");
  memo.Add("b c");
  EXPECT_EQ(memo.Count(), 3u);
  EXPECT_EQ(Lines(memo), (std::vector<std::string>{"first", "", "b c"}));
  EXPECT_EQ(memo.Text(), "first\r\n\r\nb c\r\n");
  memo.Clear();
  EXPECT_EQ(memo.Count(), 0u);
  EXPECT_EQ(memo.Text(), "");
}

// Whatever the line ends of the file loaded, saving writes the memo's text.
TEST(Memo, LoadThenSaveWritesText) {
  const struct {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Lines;
  } cases[] = {
      {"CR LF", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"LF", "a\n\nb\n", {"a", "", "b"}},
      {"lone CR", "a\r\rb\r", {"a", "", "b"}},
      {"last line without ending", "a\r\nb", {"a", "b"}},  // rewritten whole on save
      {"mixed", "a\n\rb\r\n", {"a", "", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const fs::path path = dir / "log.txt";
    WriteAll(path, c.Bytes);
    TMemo memo("old");
    memo.LoadFromFile(path);
    EXPECT_EQ(Lines(memo), c.Lines);
    memo.SaveToFile(path);
    EXPECT_EQ(ReadAll(path), memo.Text());
    memo.Add("new");
    memo.SaveToFile(path);
    EXPECT_EQ(ReadAll(path), memo.Text());
  }
}

TEST(Memo, SaveAgainAppendsOnlyNewLines) {
  TTempDir dir;
  const fs::path path = dir / "log.txt";
  TMemo memo("line1");
  memo.Add("line2");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "line1\r\nline2\r\n");
  Tamper(path, "XX");  // a rewrite would undo this
  memo.Add("line3");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "XXne1\r\nline2\r\nline3\r\n");
  // After a load the file is the memo's too.
  TMemo loaded;
  loaded.LoadFromFile(path);
  Tamper(path, "YY");
  loaded.Add("line4");
  loaded.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "YYne1\r\nline2\r\nline3\r\nline4\r\n");
}

TEST(Memo, FileChangedElsewhereIsRewrittenWhole) {
  const struct {
    const char* Name;
    std::function<void(const fs::path&, TMemo&)> Change;
  } cases[] = {
      {"other size",
       [](const fs::path& p, TMemo&) {
         const auto modified = fs::last_write_time(p);
         WriteAll(p, "someone else's\r\n");
         fs::last_write_time(p, modified);
       }},
      {"other timestamp",
       [](const fs::path& p, TMemo&) {
         Tamper(p, "XX");
         fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(5));
       }},
      {"memo cleared",
       [](const fs::path&, TMemo& memo) {
         memo.Clear();
         memo.Add("fresh");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const fs::path path = dir / "log.txt";
    TMemo memo("line1");
    memo.SaveToFile(path);
    c.Change(path, memo);
    memo.Add("line2");
    memo.SaveToFile(path);
    EXPECT_EQ(ReadAll(path), memo.Text());
  }
}

TEST(Memo, FailedSaveThrowsAndLaterSaveWorks) {
  TTempDir dir;
  TMemo memo("line1");
  EXPECT_THROW(memo.SaveToFile(dir / "missing" / "log.txt"), EFileError);
  EXPECT_THROW(memo.LoadFromFile(dir / "missing" / "log.txt"), EFileError);
  memo.SaveToFile(dir / "log.txt");
  EXPECT_EQ(ReadAll(dir / "log.txt"), "line1\r\n");

  // An append cut short by the file size limit; the next save still gives the whole text.
  ::signal(SIGXFSZ, SIG_IGN);
  {
    const test::TResourceLimitGuard fileSize(RLIMIT_FSIZE);
    ASSERT_TRUE(fileSize.SetSoft(fs::file_size(dir / "log.txt") + 3));
    memo.Add("line2 is longer than the limit");
    EXPECT_THROW(memo.SaveToFile(dir / "log.txt"), EFileError);
    EXPECT_EQ(ReadAll(dir / "log.txt"), "line1\r\n");  // no torn line, whatever comes next
  }
  memo.Add("line3");
  memo.SaveToFile(dir / "log.txt");
  EXPECT_EQ(ReadAll(dir / "log.txt"), memo.Text());
}

TEST(Memo, ManyLinesStayCompact) {
  constexpr std::size_t Count = 100000;
  const std::string line(40, 'x');
  TMemo memo;
  for (std::size_t i = 0; i < Count; ++i) memo.Add(line);
  EXPECT_EQ(memo.Count(), Count);
  EXPECT_EQ(memo.Line(Count - 1), line);
  EXPECT_LT(memo.MemoryUsed(), Count * 100);
}

}  // namespace
}  // namespace meridane
