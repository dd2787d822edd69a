#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace meridane {

// The lines of a multi-line text control that is the working copy of a file
// (a task's log, its failed-tile list). A long task's log has millions of
// lines, so the memo holds only what a window shows (the last Kept lines) and
// the lines not yet in the file; SaveToFile appends those to the file.
class TMemo {
 public:
  static constexpr std::size_t DefaultKept = 1000;

  TMemo() = default;
  explicit TMemo(std::string_view firstLine) { Add(firstLine); }

  void Add(std::string_view line);
  // Forgets every line, saved or not; the file keeps what it has.
  void Clear();
  // Runs for every line added one by one (not for the lines a load brings).
  std::function<void(std::string_view)> OnAdd;

  // Lines since the last load or clear (a load counts the lines it read);
  // Line(i) holds for i from First() to Count() - 1.
  std::size_t Count() const { return Total; }
  std::size_t First() const { return Total - Recent.size(); }
  std::string_view Line(std::size_t index) const { return Recent[index - First()]; }
  // Changes whenever the lines are replaced (a clear, a load), so a window
  // showing them knows to start again.
  std::uint64_t Replacements() const { return Replaced; }
  // The lines held, each followed by CR LF.
  std::string Text() const;

  // Replaces the lines by the last lines of a text file (CR LF, LF or CR line
  // ends), reading no more of it than a window shows. Throws EFileError
  // "Cannot open file %s".
  void LoadFromFile(const std::filesystem::path& path);
  // Appends the lines added since the last load or save, each ended by CR LF, to
  // the file as it is (creating it when missing), so that no line is lost
  // whoever else changed the file. Throws EFileError "Cannot create file %s";
  // the lines then stay for the next save.
  void SaveToFile(const std::filesystem::path& path);

  // How many lines a window keeps.
  std::size_t Kept = DefaultKept;
  // False for a memo that no file backs (a transcript): it keeps only what a
  // window shows, however many lines pass.
  bool Backed = true;
  // Bytes held for the lines, for memory measurements.
  std::size_t MemoryUsed() const;

 private:
  void Hold(std::string_view line);

  std::deque<std::string> Recent;
  std::string Unsaved;  // lines not yet in the file, each with CR LF
  std::size_t Total = 0;
  std::uint64_t Replaced = 0;
};

}  // namespace meridane
