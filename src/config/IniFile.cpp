#include "config/IniFile.h"

#include <charconv>
#include <optional>
#include <system_error>

#include "config/AtomicFile.h"

namespace meridane {

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(Blanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One line of the file: where it starts, where its text ends (before CR LF) and
// where the next line starts.
struct TLine {
  std::size_t Begin, TextEnd, End;
};

std::optional<TLine> NextLine(std::string_view content, std::size_t begin) {
  if (begin >= content.size()) return std::nullopt;
  std::size_t lf = content.find('\n', begin);
  const std::size_t end = lf == std::string_view::npos ? content.size() : lf + 1;
  std::size_t textEnd = lf == std::string_view::npos ? content.size() : lf;
  if (textEnd > begin && content[textEnd - 1] == '\r') --textEnd;
  return TLine{begin, textEnd, end};
}

std::optional<std::string_view> SectionName(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.front() != '[') return std::nullopt;
  const std::size_t close = text.find(']');
  return Trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// Where a key and its section lie in the file.
struct TLocation {
  bool SectionFound = false;
  std::size_t InsertAt = 0;               // end of the section's last non-blank line
  std::optional<std::size_t> ValueBegin;  // first byte after the key's "="
  std::size_t ValueEnd = 0;               // end of the key's line text
};

TLocation Locate(std::string_view content, std::string_view section, std::string_view key) {
  TLocation where;
  bool inSection = false;
  // Editors on Windows like to start a file with a UTF-8 byte-order mark.
  const std::size_t start = content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (auto line = NextLine(content, start); line; line = NextLine(content, line->End)) {
    const std::string_view text = content.substr(line->Begin, line->TextEnd - line->Begin);
    if (const auto name = SectionName(text)) {
      if (inSection) break;  // only the first section of that name counts
      inSection = SameName(*name, section);
      if (inSection) {
        where.SectionFound = true;
        where.InsertAt = line->End;
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(text).empty()) where.InsertAt = line->End;
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos || Trim(text).front() == ';') continue;
    if (SameName(Trim(text.substr(0, eq)), key)) {
      where.ValueBegin = line->Begin + eq + 1;
      where.ValueEnd = line->TextEnd;
      return where;
    }
  }
  return where;
}

std::string ReadIfPresent(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  return ReadFileBytes(path);
}

std::string OneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';  // a line break would forge other keys
  return out;
}

}  // namespace

bool ParseDecimalInteger(std::string_view text, int& value) {
  // from_chars takes a "-" but no "+", and would take "+-3" once the "+" is gone.
  const bool plus = !text.empty() && text.front() == '+';
  if (plus) text.remove_prefix(1);
  if (text.empty() || (plus && text.front() == '-')) return false;
  int parsed = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
  if (ec != std::errc() || ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::optional<std::string> ReadIniValue(std::string_view content, std::string_view section, std::string_view key) {
  const TLocation where = Locate(content, section, key);
  if (!where.ValueBegin) return std::nullopt;
  return std::string(Trim(content.substr(*where.ValueBegin, where.ValueEnd - *where.ValueBegin)));
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
  std::string content;
  try {
    content = ReadIfPresent(Path);
  } catch (const EFileError&) {
    return std::string(defaultValue);
  }
  return ReadIniValue(content, section, key).value_or(std::string(defaultValue));
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
  int value = defaultValue;
  return ParseDecimalInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

namespace {

// The line break a text's last line lacks. A lone CR is a CR LF cut short: it
// gets its LF, or it would become part of that line's value.
std::string_view MissingBreak(std::string_view text) {
  if (text.empty() || text.back() == '\n') return {};
  return text.back() == '\r' ? "\n" : "\r\n";
}

}  // namespace

void SetIniValue(std::string& content, std::string_view section, std::string_view key, std::string_view value) {
  const std::string text = OneLine(value);
  const TLocation where = Locate(content, section, key);
  if (where.ValueBegin) {
    content.replace(*where.ValueBegin, where.ValueEnd - *where.ValueBegin, text);
  } else if (where.SectionFound) {
    std::string line = std::string(key) + "=" + text + "\r\n";
    line.insert(0, MissingBreak(std::string_view(content).substr(0, where.InsertAt)));
    content.insert(where.InsertAt, line);
  } else {
    content += MissingBreak(content);
    // A blank line between sections, unless the file already ends with one.
    const std::string_view tail(content);
    const bool endsBlank = tail.ends_with("\n\n") || tail.ends_with("\n\r\n") || tail == "\r\n" || tail == "\n";
    if (!content.empty() && !endsBlank) content += "\r\n";
    content += "[" + std::string(section) + "]\r\n" + std::string(key) + "=" + text + "\r\n";
  }
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) const {
  WriteStrings(section, {{std::string(key), std::string(value)}});
}

void TIniFile::WriteStrings(std::string_view section,
                            const std::vector<std::pair<std::string, std::string>>& values) const {
  try {
    std::string content = ReadIfPresent(Path);
    for (const auto& [key, value] : values) SetIniValue(content, section, key, value);
    WriteFileAtomic(Path, content, TFlush::Disk, Access);
  } catch (const EFileError&) {
    throw EIniWriteError("Unable to write to " + Path.string());
  }
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) const {
  WriteString(section, key, std::to_string(value));
}

}  // namespace meridane
