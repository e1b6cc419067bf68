// File helpers for tests: a private temporary directory and whole-file reads and writes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vx::test {

// A new, empty directory under the system's temporary directory, removed with its contents when
// the object goes.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  // The path as 8-bit text, optionally followed by a separator (as the agent stores directories).
  [[nodiscard]] std::string str(bool trailing_separator = false) const;

 private:
  std::filesystem::path path_;
};

[[nodiscard]] std::string ReadWholeFile(const std::filesystem::path& path);
void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);
// Lines without their LF (a last line without LF included).
[[nodiscard]] std::vector<std::string> SplitLines(std::string_view text);
// size bytes of a fixed pattern that uses every byte value (NUL included) and does not repeat
// within a few hundred kilobytes, so a misplaced or repeated piece of a transfer shows.
[[nodiscard]] std::string PatternBytes(std::size_t size);
// How many regular files the directory and its subdirectories hold.
[[nodiscard]] std::size_t RegularFilesBelow(const std::filesystem::path& directory);
// The names of the directory's entries, sorted; none when it does not exist.
[[nodiscard]] std::vector<std::string> FileNamesIn(const std::filesystem::path& directory);

}  // namespace vx::test
