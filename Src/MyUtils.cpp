#include "MyUtils.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

namespace kiv {

namespace {

// The state of the loading primitives: the lock of the dlopen/dlerror pairs and the sibling
// handles opened for each library handle. One object, created by InitLibraryLoading before
// anything that frees libraries at shutdown, so that it is destroyed after them.
struct TLoadingState {
  // dlerror() is per thread, but a dlopen/dlerror pair must not interleave with another
  // thread's pair on some libcs; one lock keeps the text matched to its call.
  std::mutex DlLock;
  std::map<void*, std::vector<void*>> SiblingHandles;
};

TLoadingState& LoadingState() {
  static TLoadingState state;
  return state;
}

std::mutex& DlLock() { return LoadingState().DlLock; }

// Sanitizer builds keep closed libraries mapped, so that a report about memory the media
// libraries allocated can still name the library and its functions at exit.
#ifdef KIV_KEEP_LIBRARIES_MAPPED
constexpr int OpenFlags = RTLD_NOW | RTLD_NODELETE;
#else
constexpr int OpenFlags = RTLD_NOW;
#endif

std::string LastDlError() {
  const char* text = dlerror();
  return text ? TrimSystemMessage(text) : std::string("unknown error");
}

// The DT_NEEDED names of a 64-bit ELF shared library; empty when the file is no such library.
std::vector<std::string> NeededLibraries(const TPathFileName& APath) {
  std::ifstream file(APath, std::ios::binary);
  if (!file) return {};
  std::vector<char> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (data.size() < sizeof(Elf64_Ehdr)) return {};
  Elf64_Ehdr header;
  std::memcpy(&header, data.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
    return {};
  auto inside = [&](uint64_t offset, uint64_t size) {
    return offset <= data.size() && size <= data.size() - offset;
  };
  if (!inside(header.e_phoff, uint64_t(header.e_phnum) * sizeof(Elf64_Phdr))) return {};
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  std::memcpy(segments.data(), data.data() + header.e_phoff, segments.size() * sizeof(Elf64_Phdr));

  // Virtual addresses in the dynamic section are mapped back to file offsets via PT_LOAD.
  auto fileOffset = [&](uint64_t address, uint64_t& offset) {
    for (const auto& s : segments)
      if (s.p_type == PT_LOAD && address >= s.p_vaddr && address - s.p_vaddr < s.p_filesz) {
        offset = s.p_offset + (address - s.p_vaddr);
        return true;
      }
    return false;
  };

  std::vector<std::string> result;
  for (const auto& s : segments) {
    if (s.p_type != PT_DYNAMIC || !inside(s.p_offset, s.p_filesz)) continue;
    std::vector<uint64_t> needed;
    uint64_t strtab = 0;
    size_t count = s.p_filesz / sizeof(Elf64_Dyn);
    for (size_t i = 0; i < count; ++i) {
      Elf64_Dyn entry;
      std::memcpy(&entry, data.data() + s.p_offset + i * sizeof entry, sizeof entry);
      if (entry.d_tag == DT_NULL) break;
      if (entry.d_tag == DT_NEEDED) needed.push_back(entry.d_un.d_val);
      if (entry.d_tag == DT_STRTAB) strtab = entry.d_un.d_ptr;
    }
    uint64_t strOffset = 0;
    if (!fileOffset(strtab, strOffset)) return {};
    for (uint64_t n : needed) {
      if (strOffset + n >= data.size()) continue;
      const char* name = data.data() + strOffset + n;
      result.emplace_back(name, strnlen(name, data.size() - strOffset - n));
    }
  }
  return result;
}

// Libraries of the directory that a library needs are opened first, from that directory, so
// that the dynamic linker takes them (it matches a NEEDED name against the sonames of the
// objects already loaded) instead of searching the system for them. Their handles belong to
// the library that needed them and are closed with it.
void PreloadSiblings(const TPathFileName& ADir, const TPathFileName& AFileName,
                     std::vector<void*>& AHandles, int ADepth = 0) {
  if (ADepth > 16) return;
  for (const auto& name : NeededLibraries(ADir + AFileName)) {
    TPathFileName sibling = ADir + name;
    if (!FileExists(sibling)) continue;
    if (void* loaded = dlopen(sibling.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      dlclose(loaded);  // already loaded: drop the reference RTLD_NOLOAD added
      continue;
    }
    PreloadSiblings(ADir, name, AHandles, ADepth + 1);
    if (void* handle = dlopen(sibling.c_str(), OpenFlags)) AHandles.push_back(handle);
  }
  dlerror();
}

std::map<void*, std::vector<void*>>& SiblingHandles() { return LoadingState().SiblingHandles; }

}  // namespace

void InitLibraryLoading() { LoadingState(); }

std::string TrimSystemMessage(std::string AText) {
  while (!AText.empty()) {
    unsigned char c = static_cast<unsigned char>(AText.back());
    if (c <= ' ' || c == '.')
      AText.pop_back();
    else
      break;
  }
  return AText;
}

bool FileExists(const TPathFileName& AFileName) {
  struct stat info;
  return !AFileName.empty() && stat(AFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

TLibHandle LoadLibraryFromDir(const TPathFileName& ADir, const TPathFileName& AFileName,
                              int32_t& AErrorCode, std::string& AErrorText) {
  std::lock_guard<std::mutex> guard(DlLock());
  TPathFileName dir = ADir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  void* handle = nullptr;
  if (AFileName.empty()) {
    // dlopen of an empty name would hand back the program itself.
    AErrorCode = LoadErrorNotFound;
    AErrorText = std::strerror(ENOENT);
    return nullptr;
  }
  if (!dir.empty() && FileExists(dir + AFileName)) {
    std::vector<void*> siblings;
    PreloadSiblings(dir, AFileName, siblings);
    handle = dlopen((dir + AFileName).c_str(), OpenFlags);
    if (!handle) {
      AErrorCode = LoadErrorBadFormat;
      AErrorText = LastDlError();
    }
    if (handle && !siblings.empty()) {
      auto& kept = SiblingHandles()[handle];
      kept.insert(kept.end(), siblings.begin(), siblings.end());
    } else {
      for (void* sibling : siblings) dlclose(sibling);
    }
    return handle;
  }
  handle = dlopen(AFileName.c_str(), OpenFlags);
  if (!handle) {
    AErrorText = LastDlError();
    // The library itself missing reads "NAME: cannot open shared object file: No such file
    // or directory"; a missing dependency names the dependency instead.
    bool selfMissing = AErrorText.rfind(AFileName + ":", 0) == 0 &&
                       AErrorText.find(std::strerror(ENOENT)) != std::string::npos;
    AErrorCode = selfMissing ? LoadErrorNotFound : LoadErrorBadFormat;
  }
  return handle;
}

std::string FormatV(const char* AFormat, va_list AArgs) {
  char fixed[512];
  va_list again;
  va_copy(again, AArgs);
  int length = std::vsnprintf(fixed, sizeof fixed, AFormat, AArgs);
  std::string text;
  if (length < 0) {
    text.clear();
  } else if (size_t(length) < sizeof fixed) {
    text.assign(fixed, size_t(length));
  } else {
    text.resize(size_t(length));
    std::vsnprintf(text.data(), size_t(length) + 1, AFormat, again);
  }
  va_end(again);
  return text;
}

std::string Format(const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  std::string text = FormatV(AFormat, args);
  va_end(args);
  return text;
}

std::string FetchToken(std::string& ASource, const std::string& ASeparator, bool ARemove) {
  auto at = ASource.find(ASeparator);
  if (at == std::string::npos) {
    std::string token = ASource;
    if (ARemove) ASource.clear();
    return token;
  }
  std::string token = ASource.substr(0, at);
  if (ARemove) ASource.erase(0, at + ASeparator.size());
  return token;
}

std::string FileSizeToStr(int64_t ASize) {
  struct TUnit {
    int64_t Bytes;
    const char* Format;
  };
  static constexpr TUnit Units[] = {
      {int64_t(1) << 30, "%.2f GB"}, {int64_t(1) << 20, "%.2f MB"}, {int64_t(1) << 10, "%.2f KB"}};
  char text[64];
  for (const TUnit& unit : Units)
    if (ASize > unit.Bytes) {
      std::snprintf(text, sizeof text, unit.Format, double(ASize) / double(unit.Bytes));
      return text;
    }
  std::snprintf(text, sizeof text, "%lld Byte", static_cast<long long>(ASize));
  return text;
}

int64_t FileSizeOf(const TPathFileName& AFileName) {
  struct stat info;
  if (!FileExists(AFileName) || stat(AFileName.c_str(), &info) != 0) return -1;
  return info.st_size;
}

TPathFileName ExeFileName() {
  std::vector<char> path(256);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < path.size()) return TPathFileName(path.data(), length);
    path.resize(path.size() * 2);
  }
}

TPathFileName ExeFilePath() {
  TPathFileName name = ExeFileName();
  return name.substr(0, name.rfind('/') + 1);
}

void FreeLibraryHandle(TLibHandle AHandle) {
  if (!AHandle) return;
  std::lock_guard<std::mutex> guard(DlLock());
  dlclose(AHandle);
  auto siblings = SiblingHandles().find(AHandle);
  if (siblings == SiblingHandles().end()) return;
  for (void* sibling : siblings->second) dlclose(sibling);
  SiblingHandles().erase(siblings);
}

void* ResolveEntryPoint(TLibHandle AHandle, const char* AName, std::string& AErrorText) {
  std::lock_guard<std::mutex> guard(DlLock());
  dlerror();
  void* address = dlsym(AHandle, AName);
  if (!address) AErrorText = LastDlError();
  return address;
}

void BindEntryPointAddress(const TPathFileName& ALibName, TLibHandle AHandle, const char* AName,
                           void*& AAddress, bool AOptional) {
  std::string error;
  AAddress = ResolveEntryPoint(AHandle, AName, error);
  if (!AAddress && !AOptional)
    throw EBindError("Load function " + std::string(AName) + "@" + ALibName + " error: " + error);
}

}  // namespace kiv
