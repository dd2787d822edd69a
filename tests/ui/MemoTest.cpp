#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
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
  for (std::size_t i = memo.First(); i < memo.Count(); ++i) lines.emplace_back(memo.Line(i));
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

// Whatever the line ends of the file loaded, saving adds the new lines after its own.
TEST(Memo, LoadThenSaveAppends) {
  const struct {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Lines;
  } cases[] = {
      {"CR LF", "a\r\n\r\nb\r\n", {"a", "", "b"}}, {"LF", "a\n\nb\n", {"a", "", "b"}},
      {"lone CR", "a\r\rb\r", {"a", "", "b"}},     {"last line without ending", "a\r\nb", {"a", "b"}},
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
    EXPECT_EQ(ReadAll(path), c.Bytes);
    memo.Add("new");
    memo.SaveToFile(path);
    EXPECT_EQ(ReadAll(path), c.Bytes + (c.Bytes.ends_with('\n') ? "" : "\r\n") + "new\r\n");
  }
}

// A file changed, emptied or removed by someone else keeps what it has and gets
// every line not saved yet: no line of the task is lost.
TEST(Memo, SavesAppendToTheFileAsItIs) {
  TTempDir dir;
  const fs::path path = dir / "log.txt";
  TMemo memo("line1");
  memo.Add("line2");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "line1\r\nline2\r\n");
  Tamper(path, "XX");
  memo.Add("line3");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "XXne1\r\nline2\r\nline3\r\n");
  WriteAll(path, "someone else's");
  memo.Add("line4");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "someone else's\r\nline4\r\n");
  fs::remove(path);
  memo.Add("line5");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "line5\r\n");
  memo.Clear();
  memo.Add("fresh");
  memo.SaveToFile(path);
  EXPECT_EQ(ReadAll(path), "line5\r\nfresh\r\n");
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

// A task of millions of lines: the memo keeps what a window shows and what is
// not saved yet, the file every line; a load reads only the file's end.
TEST(Memo, MemoryStaysFlatAndEveryLineIsSaved) {
  TTempDir dir;
  const fs::path path = dir / "log.txt";
  constexpr std::size_t Count = 200000;
  TMemo memo;
  std::size_t most = 0;
  for (std::size_t i = 0; i < Count; ++i) {
    memo.Add("line " + std::to_string(i) + std::string(30, 'x'));
    if (i % 1000 == 999) memo.SaveToFile(path);
    most = std::max(most, memo.MemoryUsed());
  }
  EXPECT_LT(most, 200'000u);
  EXPECT_EQ(memo.Count(), Count);
  EXPECT_EQ(memo.First(), Count - TMemo::DefaultKept);
  const std::string text = ReadAll(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(Count));
  EXPECT_TRUE(text.ends_with(memo.Text()));

  TMemo loaded;
  loaded.LoadFromFile(path);
  EXPECT_LE(loaded.Count(), 10000u);
  EXPECT_TRUE(text.ends_with(loaded.Text()));
  EXPECT_TRUE(loaded.Text().starts_with("line "));  // no piece of a line
  EXPECT_EQ(loaded.Line(loaded.Count() - 1), memo.Line(Count - 1));
}

}  // namespace
}  // namespace meridane
