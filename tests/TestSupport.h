// Helpers shared by the tests: test media, temporary folders, the system's media libraries.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kivtest {

inline std::string MediaFile(const std::string& AName) {
  return std::string(KIV_TEST_MEDIA_DIR) + "/" + AName;
}

inline std::string FakesDir(const std::string& ATarget) {
  return std::string(KIV_FAKES_DIR) + "/" + ATarget;
}

inline const std::string SystemLibDir = "/usr/lib/x86_64-linux-gnu";

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& ASuffix = "") {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivtest-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made) std::abort();
    FPath = made;
    if (!ASuffix.empty()) {
      FPath += "/" + ASuffix;
      std::filesystem::create_directories(FPath);
    }
    FRoot = made;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FRoot, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }

  void Write(const std::string& AName, const std::string& AContent) const {
    std::ofstream(File(AName), std::ios::binary) << AContent;
  }
  void Link(const std::string& AName, const std::string& ATarget) const {
    std::filesystem::create_symlink(ATarget, File(AName));
  }

 private:
  std::string FRoot;
  std::string FPath;
};

}  // namespace kivtest
