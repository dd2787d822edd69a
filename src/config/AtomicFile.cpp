#include "config/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace meridane {

namespace fs = std::filesystem;

namespace {

std::string UniqueSuffix() {
  static std::atomic<unsigned long long> counter{0};
#ifdef _WIN32
  const unsigned long long pid = 0;
#else
  const auto pid = static_cast<unsigned long long>(::getpid());
#endif
  return ".~" + std::to_string(pid) + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
}

#ifdef __linux__
// An unnamed file in the target's folder (O_TMPFILE), given its name by one link
// once complete: half the folder updates of create-then-rename, and nothing is
// left behind by a crash. Needs /proc to name the file by its descriptor.
bool UnnamedFilesPossible() {
  static const bool possible = ::access("/proc/self/fd", X_OK) == 0;
  return possible;
}

#endif

}  // namespace

std::string SystemReason(int error) { return error == 0 ? std::string() : std::generic_category().message(error); }

std::string ExplainedMessage(const std::exception& error) {
  const auto* file = dynamic_cast<const EFileError*>(&error);
  if (!file || file->Reason().empty()) return error.what();
  return std::string(error.what()) + ": " + file->Reason();
}

std::string CannotCreateMessage(const fs::path& path) { return "Cannot create file " + path.string(); }
std::string CannotOpenMessage(const fs::path& path) { return "Cannot open file " + path.string(); }

namespace {

// What an existing target allows, by its own status (not what a link leads to):
// only a regular file its owner may write. A read-only file could not be
// written in place either; a link, a folder or a device is none of the task's.
bool Replaceable(const fs::file_status& existing) {
  return fs::is_regular_file(existing) && (existing.permissions() & fs::perms::owner_write) != fs::perms::none;
}

// Why an existing target is not Replaceable.
std::string NotReplaceableReason(const fs::file_status& existing) {
  return fs::is_regular_file(existing) ? "the file is read-only" : "not a regular file";
}

}  // namespace

namespace {

// The folder's entry for a file just linked or renamed into it, on the disk.
bool FlushFolderOf(const fs::path& file) {
#ifndef _WIN32
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool flushed = ::fsync(descriptor) == 0;
  ::close(descriptor);
  return flushed;
#else
  (void)file;
  return true;
#endif
}

bool FlushData(int descriptor) {
#ifdef __linux__
  return ::fdatasync(descriptor) == 0;
#elif !defined(_WIN32)
  return ::fsync(descriptor) == 0;
#else
  (void)descriptor;
  return true;
#endif
}

}  // namespace

TAtomicFileWriter::TAtomicFileWriter(fs::path target, TFlush flush, TNewFile access, const fs::path& temporaryFolder)
    : Target(std::move(target)), Flush(flush) {
  const bool ownerOnly = access == TNewFile::OwnerOnly;
  if (Target.empty() || !Target.has_filename()) throw EFileError(CannotCreateMessage(Target));
#ifdef __linux__
  // No look at the target yet: it usually does not exist, and Commit learns it
  // from the link.
  if (UnnamedFilesPossible()) {
    const fs::path folder = Target.has_parent_path() ? Target.parent_path() : fs::path(".");
    Descriptor = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, ownerOnly ? 0600 : 0666);
    if (Descriptor >= 0) {
      Unnamed = true;
      return;
    }
    // File systems without unnamed files get a named temporary file instead.
  }
#endif
  std::error_code ec;
  const fs::file_status existing = fs::symlink_status(Target, ec);
  const bool exists = fs::exists(existing);
  if (exists && !Replaceable(existing)) throw EFileError(CannotCreateMessage(Target), NotReplaceableReason(existing));
  if (!temporaryFolder.empty()) fs::create_directory(temporaryFolder, ec);
  const fs::path stem = temporaryFolder.empty() ? Target : temporaryFolder / Target.filename();
  // Several threads may write beside each other; the suffix keeps their names apart.
  for (int attempt = 0; attempt < 100 && !File; ++attempt) {
    Temporary = stem;
    Temporary += UniqueSuffix();
    File = std::fopen(Temporary.string().c_str(), "wbx");
    if (!File && errno != EEXIST) break;
  }
  if (!File) throw EFileError(CannotCreateMessage(Target), SystemReason(errno));
  std::setvbuf(File, nullptr, _IONBF, 0);  // callers write whole blocks: one system call each
  if (exists)
    fs::permissions(Temporary, existing.permissions(), ec);
  else if (ownerOnly)
    fs::permissions(Temporary, fs::perms::owner_read | fs::perms::owner_write, ec);
}

TAtomicFileWriter::~TAtomicFileWriter() { Discard(); }

void TAtomicFileWriter::Discard() noexcept {
#ifdef __linux__
  if (Descriptor >= 0) ::close(Descriptor);
  Descriptor = -1;
#endif
  if (!File) return;
  std::fclose(File);
  File = nullptr;
  std::error_code ec;
  fs::remove(Temporary, ec);
}

void TAtomicFileWriter::Fail() {
  // Right after the call that failed: what it left in errno says why.
  const int error = errno;
  Discard();
  throw EFileError(CannotCreateMessage(Target), SystemReason(error));
}

void TAtomicFileWriter::Write(std::string_view data) {
#ifdef __linux__
  if (Unnamed) {
    if (Descriptor < 0) Fail();
    while (!data.empty()) {
      const ssize_t written = ::write(Descriptor, data.data(), data.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) Fail();
      data.remove_prefix(static_cast<std::size_t>(written));
    }
    return;
  }
#endif
  if (!File) Fail();
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), File) != data.size()) Fail();
}

#ifdef __linux__
namespace {

// Gives an unnamed file a name. AT_EMPTY_PATH needs a capability most users
// lack; the link through /proc works for everyone, at the price of a lookup.
bool LinkDescriptor(int descriptor, const fs::path& name) {
  static std::atomic<bool> emptyPathAllowed{true};
  if (emptyPathAllowed.load(std::memory_order_relaxed)) {
    if (::linkat(descriptor, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
    // ENOENT is also what a missing folder gives: the link through /proc tells.
    if (errno == EPERM) emptyPathAllowed.store(false, std::memory_order_relaxed);
  }
  const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
  const bool linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  if (linked) emptyPathAllowed.store(false, std::memory_order_relaxed);
  return linked;
}

}  // namespace
#endif

void TAtomicFileWriter::Commit() {
  std::error_code ec;
#ifdef __linux__
  if (Unnamed) {
    if (Descriptor < 0) Fail();
    if (Flush == TFlush::Disk && !FlushData(Descriptor)) Fail();
    if (!LinkDescriptor(Descriptor, Target)) {
      if (errno != EEXIST) Fail();
      // The target exists (a link never replaces): it must be replaceable, and
      // the new file takes its permissions. The complete file gets a name beside
      // it and is renamed over it; the name is fixed, so what a crash leaves
      // between the two steps is taken over by the next write of the same file.
      const fs::file_status existing = fs::symlink_status(Target, ec);
      if (!Replaceable(existing)) {
        Discard();
        throw EFileError(CannotCreateMessage(Target), NotReplaceableReason(existing));
      }
      ::fchmod(Descriptor, static_cast<mode_t>(existing.permissions()));
      Temporary = LeftoverName(Target);
      bool named = false;
      for (int attempt = 0; attempt < 2 && !named; ++attempt) {
        if (attempt > 0) ::unlink(Temporary.c_str());
        named = LinkDescriptor(Descriptor, Temporary);
        if (!named && errno != EEXIST) break;
      }
      if (!named) Fail();
      fs::rename(Temporary, Target, ec);
      if (ec) {
        fs::remove(Temporary, ec);
        Fail();
      }
    }
    const bool closed = ::close(Descriptor) == 0;
    Descriptor = -1;
    if (!closed || (Flush == TFlush::Disk && !FlushFolderOf(Target)))
      throw EFileError(CannotCreateMessage(Target), SystemReason(errno));
    return;
  }
#endif
  if (!File) Fail();
  if (std::fflush(File) != 0 || std::ferror(File)) Fail();
  if (Flush == TFlush::Disk && !FlushData(fileno(File))) Fail();
  const bool closed = std::fclose(File) == 0;
  File = nullptr;
  if (closed) fs::rename(Temporary, Target, ec);
  if (!closed || ec) {
    const std::string reason = closed ? ec.message() : SystemReason(errno);
    fs::remove(Temporary, ec);
    throw EFileError(CannotCreateMessage(Target), reason);
  }
  if (Flush == TFlush::Disk && !FlushFolderOf(Target)) throw EFileError(CannotCreateMessage(Target), SystemReason(errno));
}

fs::path LeftoverName(const fs::path& target) {
  fs::path name = target;
  name += ".~tmp";
  return name;
}

namespace {

// What follows ".~" in the name of a temporary file that no writer will finish:
// "tmp", or "PID-N.tmp" from a writer that had to use a named file, when that
// process is gone or is this one (callers sweep while they write none of these
// files), never another one's at work.
bool LeftBehind(std::string_view rest) {
  if (rest == "tmp") return true;
#ifndef _WIN32
  const std::size_t dash = rest.find('-');
  long long pid = 0;
  if (dash != std::string_view::npos && rest.ends_with(".tmp") &&
      std::from_chars(rest.data(), rest.data() + dash, pid).ptr == rest.data() + dash && pid > 0)
    return pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
#endif
  return false;
}

}  // namespace

void RemoveLeftoverTemporaries(const fs::path& folder, const std::vector<std::string>& names) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string file = entry.path().filename().string();
    for (const std::string& name : names) {
      if (file.starts_with(name + ".~") && LeftBehind(std::string_view(file).substr(name.size() + 2)))
        fs::remove(entry.path(), ec);
    }
  }
}

void EmptyTemporaryFolder(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string file = entry.path().filename().string();
    const std::size_t mark = file.rfind(".~");
    if (mark != std::string::npos && LeftBehind(std::string_view(file).substr(mark + 2))) fs::remove(entry.path(), ec);
  }
  fs::remove(folder, ec);  // only when empty: the files of a run at work stay with it
}

namespace {

bool WriteAll(int descriptor, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(descriptor, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

void AppendLines(const fs::path& path, std::string_view lines) {
  // Whoever may write the task's folder may put a link or a pipe in the file's
  // place: the file opened is the one checked, and written only when regular.
  const int file = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) throw EFileError(CannotCreateMessage(path));
  struct stat info {};
  char last = '\n';
  bool written = ::fstat(file, &info) == 0 && S_ISREG(info.st_mode);
  const off_t size = written ? info.st_size : 0;
  written = written && (size == 0 || ::pread(file, &last, 1, size - 1) == 1);
  if (!written) {
    ::close(file);
    throw EFileError(CannotCreateMessage(path));
  }
  written = (last == '\n' || WriteAll(file, "\r\n")) && WriteAll(file, lines);
  // On the disk before the caller goes on (it stores positions past these lines next).
  written = written && FlushData(file);
  if (!written) {
    // A full disk may have taken part of the lines; the error below tells of both.
    [[maybe_unused]] const int cut = ::ftruncate(file, size);
  }
  const bool closed = ::close(file) == 0;
  if (!written || !closed) throw EFileError(CannotCreateMessage(path));
}

void FlushFileSystem(const fs::path& folder) {
#ifdef __linux__
  // syncfs writes back the whole file system and commits its journal once;
  // flushing each file would commit the journal once per file.
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool flushed = descriptor >= 0 && ::syncfs(descriptor) == 0;
  if (descriptor >= 0) ::close(descriptor);
  if (!flushed) throw EFileError("Unable to write to " + folder.string());
#elif !defined(_WIN32)
  (void)folder;
  ::sync();
#else
  // Windows flushes a volume only for administrators: the files stay as written.
  (void)folder;
#endif
}

void WriteFileAtomic(const fs::path& target, std::string_view content, TFlush flush, TNewFile access,
                     const fs::path& temporaryFolder) {
  TAtomicFileWriter writer(target, flush, access, temporaryFolder);
  writer.Write(content);
  writer.Commit();
}

void RemoveFile(const fs::path& path) {
  std::error_code ec;
  const bool removed = fs::remove(path, ec);
  if (ec || (removed && !FlushFolderOf(path))) throw EFileError("Cannot remove file " + path.string());
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path)) throw EFileError(CannotOpenMessage(path));
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) throw EFileError(CannotOpenMessage(path));
  return std::move(out).str();
}

}  // namespace meridane
