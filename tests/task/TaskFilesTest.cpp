#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <locale>
#include <sstream>

#include "config/AtomicFile.h"
#include "geo/Commonfunc.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "task/DownloadTask.h"
#include "task/Requests.h"
#include "task/TextFile.h"

namespace meridane {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::TTempDir;
using test::WriteAll;

std::string Expected(const std::string& name, const TTempDir& dir) {
  std::string text = ReadAll(test::TaskData / name);
  auto replace = [&text](const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  };
  replace("{folder}", dir.Folder());
  replace("{now}", "07.12.2026 10:00:00");
  return text;
}

TTaskParams Example(const TTempDir& dir) { return test::ExampleRequest(dir.Folder()); }

void WriteAllFiles(TDownloadTask& task) {
  task.Now = [] { return std::string("07.12.2026 10:00:00"); };
  task.WriteProjectFile();
  task.WriteImageList();
  task.WriteLogHeader();
  task.CreateFailedList();
}

TEST(TaskFiles, NewTaskFilesByteForByte) {
  TTempDir dir;
  WriteAll(dir / "newtask_failed.ftl", "old record\r\n");
  const TTaskParams p = Example(dir);
  TDownloadTask task(p);
  WriteAllFiles(task);
  EXPECT_EQ(ReadAll(dir / "newtask.mrd"), Expected("newtask.mrd", dir));
  EXPECT_EQ(ReadAll(dir / "newtask_list.txt"), Expected("newtask_list.txt", dir));
  EXPECT_EQ(ReadAll(dir / "newtask_log.txt"), Expected("newtask_log.txt", dir));
  EXPECT_TRUE(fs::exists(dir / "newtask_failed.ftl"));
  EXPECT_EQ(ReadAll(dir / "newtask_failed.ftl"), "");  // a new task empties the old list
  EXPECT_EQ(test::EntryCount(dir.Path()), 4);          // four files, no leftovers
}

TEST(TaskFiles, ProxyInTheLogWithoutItsPassword) {
  TTempDir dir;
  TTaskParams p = Example(dir);
  p.UseProxy = true;
  p.ProxyServer = "proxy.example";
  p.ProxyPort = "3128";
  p.ProxyUsername = "alice";
  p.ProxyPassword = "s3cret-pw";
  TDownloadTask task(p);
  WriteAllFiles(task);
  const std::string log = ReadAll(dir / "newtask_log.txt");
  EXPECT_EQ(log, Expected("newtask_log_proxy.txt", dir));
  EXPECT_EQ(log.find("s3cret-pw"), std::string::npos);
}

TEST(TaskFiles, NumbersKeepTheirPointUnderADecimalCommaLocale) {
  const test::TLocaleGuard locale;
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not generated on this machine";
  std::locale::global(std::locale("de_DE.UTF-8"));
  TTempDir dir;
  const TTaskParams p = Example(dir);
  TDownloadTask task(p);
  WriteAllFiles(task);
  EXPECT_EQ(ReadAll(dir / "newtask.mrd"), Expected("newtask.mrd", dir));
  EXPECT_EQ(ReadAll(dir / "newtask_list.txt"), Expected("newtask_list.txt", dir));
  EXPECT_EQ(ReadAll(dir / "newtask_log.txt"), Expected("newtask_log.txt", dir));
}

TEST(TaskFiles, ResumeKeepsTheFilesAndGrowsTheLogByTwoLines) {
  TTempDir dir;
  TTaskParams p = Example(dir);
  {
    TDownloadTask first(p);
    WriteAllFiles(first);
  }
  WriteAll(dir / "newtask_failed.ftl", "a|http://x/1\r\n");
  const std::string project = ReadAll(dir / "newtask.mrd"), list = ReadAll(dir / "newtask_list.txt");
  const std::string log = ReadAll(dir / "newtask_log.txt");

  p.Resume = true;
  p.ThreadCount = 7;  // would show in a rewritten project file
  TDownloadTask again(p);
  again.Now = [] { return std::string("08.12.2026 11:00:00"); };
  again.WriteProjectFile();
  again.WriteImageList();
  again.WriteLogHeader();
  again.CreateFailedList();
  EXPECT_EQ(ReadAll(dir / "newtask.mrd"), project);
  EXPECT_EQ(ReadAll(dir / "newtask_list.txt"), list);
  EXPECT_EQ(ReadAll(dir / "newtask_failed.ftl"), "a|http://x/1\r\n");
  EXPECT_EQ(ReadAll(dir / "newtask_log.txt"), log + std::string(44, '-') + "\r\nNow time is:08.12.2026 11:00:00\r\n");

  // What an interrupted Start or the user removed comes back, so the task goes on.
  for (const char* name : {"newtask_log.txt", "newtask_list.txt", "newtask_failed.ftl"}) fs::remove(dir / name);
  WriteAllFiles(again);
  EXPECT_EQ(ReadAll(dir / "newtask_log.txt"), std::string(44, '-') + "\r\nNow time is:07.12.2026 10:00:00\r\n");
  EXPECT_EQ(ReadAll(dir / "newtask_list.txt"), list);
  EXPECT_EQ(ReadAll(dir / "newtask_failed.ftl"), "");
}

TEST(TaskFiles, EverySlotIsWrittenWhateverTheThreadCount) {
  TTempDir dir;
  TTaskParams p = Example(dir);
  p.ThreadCount = 1;
  TDownloadTask task(p);
  task.WriteProjectFile();
  const auto lines = ReadLines(dir / "newtask.mrd");
  ASSERT_EQ(lines.size(), 37u);
  EXPECT_EQ(lines[19], "ThreadCount=1");
  EXPECT_EQ(lines[20], "T1X=");
  EXPECT_EQ(lines[35], "T8Y=");
}

// The streamed list must say exactly what a line-by-line reading of the
// definition gives, for both row orientations.
TEST(TaskFiles, ImageListAgreesWithTheTileAddressing) {
  for (int mapsType : {1, 5}) {
    TTempDir dir;
    TTaskParams p = Example(dir);
    p.MapsType = mapsType;
    p.LeftLongitude = -3.5;
    p.RightLongitude = 2;
    p.TopLatitude = 52;
    p.BottomLatitude = 48.5;
    p.Zoom = 9;
    TDownloadTask task(p);
    task.WriteImageList();
    const int fromSouth = mapsType == 5 ? 1 : 0;
    std::vector<std::string> expected = {ReadLines(test::TaskData / "newtask_list.txt").front()};
    for (int x = task.MinX; x <= task.MaxX; ++x) {
      for (int y = task.MinY; y <= task.MaxY; ++y) {
        const double a = TileYToLat(y, 9, fromSouth), b = TileYToLat(y + 1, 9, fromSouth);
        expected.push_back(task.TileFileName(x, y) + ": " + FormatFixed20(TileXToLon(x, 9)) + " " +
                           FormatFixed20(TileXToLon(x + 1, 9)) + " " + FormatFixed20(fromSouth ? b : a) + " " +
                           FormatFixed20(fromSouth ? a : b));
      }
    }
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(task.TotalCount) + 1);
    EXPECT_EQ(ReadAll(dir / "newtask_list.txt"), JoinLines(expected)) << "map type " << mapsType;
  }
}

long MaxResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A million tiles make a list of about 107 MB; writing it must not hold it.
TEST(TaskFiles, ImageListOfAMillionTilesIsStreamed) {
  TTempDir dir;
  TTaskParams p = Example(dir);
  p.Zoom = 17;
  p.LeftLongitude = 0;
  p.RightLongitude = 2.74;  // 1000 columns
  p.TopLatitude = 48;
  p.BottomLatitude = 45.33;  // about 1000 rows
  TDownloadTask task(p);
  ASSERT_GT(task.TotalCount, 900000);
  const long before = MaxResidentKb();
  // The writer reports how far it is, so a window can show it.
  std::vector<long long> reported;
  task.WriteImageList([&reported](long long written) { reported.push_back(written); });
  const long grown = MaxResidentKb() - before;
  EXPECT_GT(reported.size(), 50u);
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  EXPECT_LE(reported.back(), task.TotalCount);
  EXPECT_GT(reported.back(), task.TotalCount * 9LL / 10);
  const auto size = fs::file_size(dir / "newtask_list.txt");
  EXPECT_GT(size, 90'000'000u);
  EXPECT_LT(grown, 16 * 1024) << "KB of memory grew while writing " << size << " bytes";
  const auto lines = ReadLines(dir / "newtask_list.txt");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(task.TotalCount) + 1);
  EXPECT_EQ(lines.back().substr(0, lines.back().find(':')), task.TileFileName(task.MaxX, task.MaxY));
}

// A write that fails halfway (as on a full disk) leaves the earlier list whole.
TEST(TaskFiles, FailedWriteKeepsTheOldFile) {
  TTempDir dir;
  TTaskParams p = Example(dir);
  p.Zoom = 14;
  p.RightLongitude = 119;
  TDownloadTask task(p);
  WriteAll(dir / "newtask_list.txt", "the old list\r\n");
  ::signal(SIGXFSZ, SIG_IGN);
  const test::TResourceLimitGuard fileSize(RLIMIT_FSIZE);
  ASSERT_TRUE(fileSize.SetSoft(64 * 1024));
  try {
    task.WriteImageList();
    FAIL() << "the list was written past the file-size limit";
  } catch (const EFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + task.ListPath);
  }
  EXPECT_EQ(ReadAll(dir / "newtask_list.txt"), "the old list\r\n");
  EXPECT_EQ(test::EntryCount(dir.Path()), 1);  // the list: no temporary file left
}

TEST(TaskFiles, MissingFolderFailsWithTheFileError) {
  TTempDir dir;
  TTaskParams p = Example(dir);
  p.Folder = dir.Folder() + "sub/";
  fs::create_directory(dir / "sub");
  TDownloadTask task(p);
  fs::remove_all(dir / "sub");
  EXPECT_THROW(task.WriteProjectFile(), EFileError);
  EXPECT_THROW(task.WriteImageList(), EFileError);
  EXPECT_THROW(task.WriteLogHeader(), EFileError);
  EXPECT_THROW(task.CreateFailedList(), EFileError);
}

}  // namespace
}  // namespace meridane
