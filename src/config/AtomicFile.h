#pragma once

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

// A file that could not be read or written; the message is the one shown to the user.
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  EFileError(const std::string& message, std::string reason) : std::runtime_error(message), Why(std::move(reason)) {}
  // Why the system refused, in its words ("No space left on device"); empty when not known.
  const std::string& Reason() const { return Why; }

 private:
  std::string Why;
};

// The system's words for an errno value; empty for 0.
std::string SystemReason(int error);
// An error's message with its reason when it has one: "Cannot create file /x: Permission denied".
std::string ExplainedMessage(const std::exception& error);

std::string CannotCreateMessage(const std::filesystem::path& path);
std::string CannotOpenMessage(const std::filesystem::path& path);

// Whether a write must reach the disk before it takes the old file's place:
// the task's control files must survive a power cut, tiles can be fetched again.
enum class TFlush { Disk, Cache };

// Who may read a file that a write creates (a file it replaces keeps its own
// permissions): whom the umask allows, or the owner alone (config.ini may hold
// a password).
enum class TNewFile { Shared, OwnerOnly };

// Writes a file under a temporary name in the target's folder and renames it
// over the target on Commit, so the target is always either the old file or the
// complete new one. Dropping the writer uncommitted removes the temporary file.
// A read-only target is refused, as writing it in place would be, and so is
// anything but a regular file: a link put in a shared folder is neither
// followed nor replaced. With TFlush::Disk the new file's data is on the disk
// before it takes the target's name, and the folder's new entry after. Where
// the system has no unnamed files, the temporary file is named and waits in
// temporaryFolder when one is given (created when missing, on the target's
// file system): a folder of its own, where the next run finds what a kill left
// without listing the target's.
class TAtomicFileWriter {
 public:
  explicit TAtomicFileWriter(std::filesystem::path target, TFlush flush = TFlush::Disk,
                             TNewFile access = TNewFile::Shared,
                             const std::filesystem::path& temporaryFolder = {});
  ~TAtomicFileWriter();
  TAtomicFileWriter(const TAtomicFileWriter&) = delete;
  TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

  void Write(std::string_view data);
  void Commit();

 private:
  [[noreturn]] void Fail();
  void Discard() noexcept;

  std::filesystem::path Target;
  std::filesystem::path Temporary;
  std::FILE* File = nullptr;  // a named temporary file
  int Descriptor = -1;        // an unnamed one, with no name until Commit links it
  bool Unnamed = false;
  TFlush Flush;
};

// The fixed name beside target under which a complete new file waits for a
// moment before it replaces target.
std::filesystem::path LeftoverName(const std::filesystem::path& target);

// Removes from folder the temporary files that writers which did not finish (a
// kill, a power cut) left beside the files of the given names.
void RemoveLeftoverTemporaries(const std::filesystem::path& folder, const std::vector<std::string>& names);
// Removes what writers which did not finish left in a temporary folder, then
// the folder when nothing else is left in it.
void EmptyTemporaryFolder(const std::filesystem::path& folder);

// Appends whole lines to a file that exists, first ending its last line when it
// has no line end, and flushes them to the disk. An append that fails cuts the
// file back to its old end, so no line is ever left torn. Only a regular file
// is appended to, never one a link leads to; throws EFileError "Cannot create
// file %s".
void AppendLines(const std::filesystem::path& path, std::string_view lines);

// Puts on the disk everything written so far to the file system that holds
// folder: one call for all the files a caller wrote with TFlush::Cache, before
// it stores what counts on them. Throws EFileError "Unable to write to %s".
void FlushFileSystem(const std::filesystem::path& folder);

// The one way whole files are written.
void WriteFileAtomic(const std::filesystem::path& target, std::string_view content, TFlush flush = TFlush::Disk,
                     TNewFile access = TNewFile::Shared, const std::filesystem::path& temporaryFolder = {});

// Removes a file, the removal on the disk before the caller goes on; a file
// that is missing already is no error. Throws EFileError "Cannot remove file %s".
void RemoveFile(const std::filesystem::path& path);

// The whole file as bytes; EFileError "Cannot open file %s" when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace meridane
