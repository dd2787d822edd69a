#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/AtomicFile.h"

namespace meridane {

// A key could not be written; the message reads "Unable to write to <path>".
class EIniWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An INI file read and written one key at a time, with the rules of the Windows
// profile functions that our files were designed around:
//  - section and key names match without regard to case, the first match wins;
//  - a missing file, section or key reads as the caller's default, a key with an
//    empty value as the empty text; names and values are trimmed of blanks;
//  - a write replaces the value in place, or adds the key at the end of its
//    section (the section at the end of the file); every other line keeps its
//    bytes, and the file is replaced atomically.
// Every call opens and closes the file, so no handle is ever held between calls.
class TIniFile {
 public:
  // access: who may read the file when a write creates it.
  explicit TIniFile(std::filesystem::path path, TNewFile access = TNewFile::Shared)
      : Path(std::move(path)), Access(access) {}

  const std::filesystem::path& FileName() const { return Path; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
  // A decimal integer; a value that is missing or not a number gives the default.
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value) const;
  void WriteInteger(std::string_view section, std::string_view key, int value) const;
  // Several keys of one section, as one replacement of the file: a crash leaves
  // all of them written or none.
  void WriteStrings(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values) const;

 private:
  std::filesystem::path Path;
  TNewFile Access;
};

// The same rules on a file's text held in memory: the value of a key (trimmed),
// or nothing when the section or key is missing; and what writing a key does.
std::optional<std::string> ReadIniValue(std::string_view content, std::string_view section, std::string_view key);
void SetIniValue(std::string& content, std::string_view section, std::string_view key, std::string_view value);

// Decimal integer text: optional sign and digits only, within 32 bits.
bool ParseDecimalInteger(std::string_view text, int& value);

}  // namespace meridane
