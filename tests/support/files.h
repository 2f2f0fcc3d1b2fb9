// Files for the process tests: a temporary folder, whole-file reads and writes,
// and text split into lines.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// A fresh folder under the temporary directory, removed with all it holds by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole content of the file; empty when it cannot be read.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Splits at line feeds; a last line without its line feed is kept as it is.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace test_support
