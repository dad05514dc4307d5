// A fresh folder under the system's temporary folder, removed with its contents.
#pragma once

#include <string>

namespace vexa::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, ending with '/'.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Whole contents of a file ("" when it cannot be read) and whether it exists.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Replaces a file's contents.
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace vexa::test
