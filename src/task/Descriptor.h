#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>

#include "config/AtomicFile.h"

namespace meridane {

// An open file descriptor, closed with its owner.
class TDescriptor {
 public:
  explicit TDescriptor(int descriptor = -1) : Value(descriptor) {}
  ~TDescriptor() {
    if (Value >= 0) ::close(Value);
  }
  TDescriptor(TDescriptor&& other) noexcept : Value(std::exchange(other.Value, -1)) {}
  TDescriptor& operator=(TDescriptor&& other) noexcept {
    if (this != &other) {
      if (Value >= 0) ::close(Value);
      Value = std::exchange(other.Value, -1);
    }
    return *this;
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return Value; }

 private:
  int Value;
};

// A task's tile folder (with or without its trailing separator), for reading
// the tiles by name: none (-1) when the folder is missing, which holds no
// tile. Throws EFileError "Cannot open file %s" when it cannot be opened.
inline TDescriptor OpenTileFolder(const std::string& folder) {
  std::string path = folder;
  if (path.size() > 1 && path.back() == std::filesystem::path::preferred_separator) path.pop_back();
  TDescriptor handle(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.Get() < 0 && errno != ENOENT) throw EFileError(CannotOpenMessage(folder));
  return handle;
}

}  // namespace meridane
