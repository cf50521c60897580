// Helpers shared by the tests: test media, temporary folders, the system's media libraries.
#pragma once

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Fills ADir with links to every FFmpeg library file of the system, the layout of a library
// folder beside a program.
inline void LinkMediaLibraries(const std::string& ADir) {
  for (const auto& entry : std::filesystem::directory_iterator(SystemLibDir)) {
    const std::string name = entry.path().filename().string();
    const bool media = name.rfind("libav", 0) == 0 || name.rfind("libsw", 0) == 0 ||
                       name.rfind("libpostproc", 0) == 0;
    if (media && name.find(".so.") != std::string::npos)
      std::filesystem::create_symlink(entry.path(), ADir + "/" + name);
  }
}

// Runs a program with its arguments and waits at most ASeconds for it: its exit status, or
// -1 when it did not end normally in that time (it is then killed) or did not start.
inline int RunProgram(const std::vector<std::string>& AArgs, int ASeconds) {
  std::vector<char*> argv;
  for (const std::string& arg : AArgs) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  for (int waited = 0; waited < ASeconds * 10; ++waited) {
    if (waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(100000);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

}  // namespace kivtest
