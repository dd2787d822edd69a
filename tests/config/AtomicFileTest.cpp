#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <mutex>
#include <string>

#include "config/AtomicFile.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

// The calls that put a file's data ("D"), a name ("N") and a folder's entries
// ("F") on the disk, in the order this process made them while Recording.
namespace {
std::mutex DiskLock;
bool Recording = false;
std::string DiskCalls;

void Record(int result, char what) {
  const std::lock_guard<std::mutex> guard(DiskLock);
  if (Recording && result == 0) DiskCalls += what;
}

template <class F>
F Real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" int fdatasync(int fd) {
  const int result = Real<int (*)(int)>("fdatasync")(fd);
  Record(result, 'D');
  return result;
}
extern "C" int fsync(int fd) {
  struct stat info {};
  const bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  const int result = Real<int (*)(int)>("fsync")(fd);
  Record(result, folder ? 'F' : 'D');
  return result;
}
extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  const int result = Real<int (*)(int, const char*, int, const char*, int)>("linkat")(fromFolder, from, toFolder, to, flags);
  Record(result, 'N');
  return result;
}
extern "C" int rename(const char* from, const char* to) {
  const int result = Real<int (*)(const char*, const char*)>("rename")(from, to);
  Record(result, 'N');
  return result;
}

namespace meridane {
namespace {

using namespace test;

template <class F>
std::string FileErrorOf(F action) {
  try {
    action();
  } catch (const EFileError& e) {
    return e.what();
  }
  return "no error";
}

// The error of action under a file size limit of bytes. SIGXFSZ is ignored so an
// oversized write fails with EFBIG instead of killing the test.
template <class F>
std::string FileErrorUnderSizeLimit(rlim_t bytes, F action) {
  std::signal(SIGXFSZ, SIG_IGN);
  const TResourceLimitGuard fileSize(RLIMIT_FSIZE);
  if (!fileSize.SetSoft(bytes)) return "the file size limit was refused";
  return FileErrorOf(action);
}

TEST(WriteFileAtomic, CreatesAndReplacesWithoutLeftovers) {
  TTempDir dir;
  for (const std::string& content : {std::string("one\0two", 7), std::string("x"), std::string()}) {
    WriteFileAtomic(dir / "a.txt", content);
    EXPECT_EQ(ReadAll(dir / "a.txt"), content);
    EXPECT_EQ(EntryCount(dir.Path()), 1);
  }
}

TEST(WriteFileAtomic, FailedWriteKeepsOldFileAndLeavesNoTemporary) {
  TTempDir dir;
  const auto target = dir / "a.txt";
  WriteAll(target, "old content\r\n");
  // The small write fails only when the buffer is flushed, the large one inside fwrite.
  for (const std::size_t size : {100, 100000}) {
    const std::string error = FileErrorUnderSizeLimit(10, [&] { WriteFileAtomic(target, std::string(size, 'n')); });
    EXPECT_EQ(error, "Cannot create file " + target.string()) << size;
    EXPECT_EQ(ReadAll(target), "old content\r\n") << size;
    EXPECT_EQ(EntryCount(dir.Path()), 1) << size;
  }
}

// What interrupted writes leave: the fixed name is taken over by the next write of
// its file; a sweep removes the leftovers of the files it names, and a named
// temporary file only when its process is gone or is this one.
TEST(WriteFileAtomic, LeftoversOfInterruptedWrites) {
  TTempDir dir;
  WriteAll(dir / "a.mrd", "old");
  WriteAll(dir / "a.mrd.~tmp", "half");
  WriteFileAtomic(dir / "a.mrd", "new");
  EXPECT_EQ(ReadAll(dir / "a.mrd"), "new");
  EXPECT_EQ(EntryCount(dir.Path()), 1);

  int gone = 999999;
  while (::kill(gone, 0) == 0 || errno != ESRCH) --gone;
  const std::string removed[] = {"a.mrd.~tmp", "a_log.txt.~" + std::to_string(gone) + "-3.tmp",
                                 "a_log.txt.~" + std::to_string(::getpid()) + "-0.tmp"};
  const std::string kept[] = {"a.mrd", "b.mrd.~tmp", "a_log.txt.~1-0.tmp", "a_log.txt.~x-0.tmp", "a.mrd.tmp"};
  for (const auto& name : removed) WriteAll(dir / name, "");
  for (const auto& name : kept) WriteAll(dir / name, "");
  RemoveLeftoverTemporaries(dir.Path(), {"a.mrd", "a_log.txt"});
  for (const auto& name : removed) EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;

  // A temporary folder holds nothing else: emptied by the same rules, whatever the
  // names, then removed once nothing of a writer at work is left.
  const auto temporary = dir / ".~tmp";
  std::filesystem::create_directory(temporary);
  for (const auto& name : removed) WriteAll(temporary / name, "");
  WriteAll(temporary / "t.jpg.~1-0.tmp", "");
  EmptyTemporaryFolder(temporary);
  EXPECT_EQ(EntryCount(temporary), 1);
  std::filesystem::remove(temporary / "t.jpg.~1-0.tmp");
  EmptyTemporaryFolder(temporary);
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST(WriteFileAtomic, MissingFolderThrows) {
  TTempDir dir;
  const auto target = dir / "missing" / "a.txt";
  EXPECT_EQ(FileErrorOf([&] { WriteFileAtomic(target, "x"); }), "Cannot create file " + target.string());
  EXPECT_EQ(EntryCount(dir.Path()), 0);
}

// A task's folder may be shared: a link or a pipe put in a file's place is
// neither written through nor replaced, and the error names the file.
TEST(WriteFileAtomic, OnlyARegularFileIsReplacedOrAppendedTo) {
  TTempDir dir;
  const auto victim = dir / "victim", link = dir / "link", dangling = dir / "dangling", pipe = dir / "pipe";
  WriteAll(victim, "secret\n");
  std::filesystem::create_symlink(victim, link);
  std::filesystem::create_symlink(dir / "none", dangling);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  for (const auto& target : {link, dangling, pipe}) {
    for (const bool append : {false, true}) {
      SCOPED_TRACE(target.string() + (append ? " appended to" : " replaced"));
      EXPECT_EQ(FileErrorOf([&] { append ? AppendLines(target, "run\r\n") : WriteFileAtomic(target, "run\r\n"); }),
                "Cannot create file " + target.string());
    }
  }
  EXPECT_EQ(ReadAll(victim), "secret\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link) && std::filesystem::is_symlink(dangling));
  EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(pipe)));
  EXPECT_EQ(EntryCount(dir.Path()), 4);
}

TEST(TAtomicFileWriter, UncommittedWriterLeavesTargetAlone) {
  TTempDir dir;
  WriteAll(dir / "a.txt", "old");
  {
    TAtomicFileWriter writer(dir / "a.txt");
    writer.Write("new");
  }
  EXPECT_EQ(ReadAll(dir / "a.txt"), "old");
  EXPECT_EQ(EntryCount(dir.Path()), 1);
}

// A control file's data is on the disk before it takes its name, and its
// folder's entry after; an append is on the disk when the call returns. Tiles
// (TFlush::Cache) are left to the page cache.
TEST(WriteFileAtomic, ControlFilesReachTheDiskBeforeTheyReplace) {
  TTempDir dir;
  WriteAll(dir / "old.mrd", "old");
  const struct {
    const char* Name;
    std::function<void()> Write;
    const char* Calls;
  } cases[] = {
      {"new file", [&] { WriteFileAtomic(dir / "new.mrd", "new"); }, "DNF"},
      {"replaced file", [&] { WriteFileAtomic(dir / "old.mrd", "new"); }, "DNNF"},
      {"tile", [&] { WriteFileAtomic(dir / "tile.jpg", "tile", TFlush::Cache); }, "N"},
      {"appended lines", [&] { AppendLines(dir / "old.mrd", "line\r\n"); }, "D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    {
      const std::lock_guard<std::mutex> guard(DiskLock);
      DiskCalls.clear();
      Recording = true;
    }
    c.Write();
    const std::lock_guard<std::mutex> guard(DiskLock);
    Recording = false;
    EXPECT_EQ(DiskCalls, c.Calls);
  }
  EXPECT_EQ(ReadAll(dir / "old.mrd"), "new\r\nline\r\n");
}

TEST(ReadFileBytes, ReadsBytesAndReportsMissingFile) {
  TTempDir dir;
  WriteAll(dir / "a.bin", std::string("a\r\n\0b", 5));
  EXPECT_EQ(ReadFileBytes(dir / "a.bin"), std::string("a\r\n\0b", 5));
  EXPECT_EQ(FileErrorOf([&] { ReadFileBytes(dir / "none"); }), "Cannot open file " + (dir / "none").string());
}

}  // namespace
}  // namespace meridane
