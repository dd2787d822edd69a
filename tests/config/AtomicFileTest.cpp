#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "config/AtomicFile.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

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
}

TEST(WriteFileAtomic, MissingFolderThrows) {
  TTempDir dir;
  const auto target = dir / "missing" / "a.txt";
  EXPECT_EQ(FileErrorOf([&] { WriteFileAtomic(target, "x"); }), "Cannot create file " + target.string());
  EXPECT_EQ(EntryCount(dir.Path()), 0);
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

TEST(ReadFileBytes, ReadsBytesAndReportsMissingFile) {
  TTempDir dir;
  WriteAll(dir / "a.bin", std::string("a\r\n\0b", 5));
  EXPECT_EQ(ReadFileBytes(dir / "a.bin"), std::string("a\r\n\0b", 5));
  EXPECT_EQ(FileErrorOf([&] { ReadFileBytes(dir / "none"); }), "Cannot open file " + (dir / "none").string());
}

}  // namespace
}  // namespace meridane
