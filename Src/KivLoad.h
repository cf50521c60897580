// The library loader: opens the media libraries at run time, binds their entry points and
// releases them again, whole sets at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "KivExport.h"
#include "MyUtils.h"

namespace kiv {

enum TLibrary : int {
  avCodec,
  avDevice,
  avFilter,
  avFormat,
  avUtil,
  swResample,
  swScale,
  myUtil,
  libSoundTouch,
  libMFX,
};

inline constexpr int LibraryCount = libMFX + 1;

// A set of libraries: bit n stands for the library of ordinal n.
class TLibraries {
 public:
  constexpr TLibraries() = default;
  constexpr explicit TLibraries(uint16_t ABits) : FBits(ABits) {}
  constexpr TLibraries(std::initializer_list<TLibrary> ALibraries) {
    for (TLibrary lib : ALibraries) FBits |= Bit(lib);
  }
  constexpr bool Contains(TLibrary ALibrary) const { return (FBits & Bit(ALibrary)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint16_t Bits() const { return FBits; }
  constexpr bool operator==(const TLibraries&) const = default;

 private:
  static constexpr uint16_t Bit(TLibrary ALibrary) { return uint16_t(1u << ALibrary); }
  uint16_t FBits = 0;
};

inline constexpr TLibraries AllLibraries{uint16_t(1023)};
inline constexpr TLibraries AVLibraries{avCodec,    avFilter, avFormat, avUtil,
                                        swResample, swScale,  myUtil};

using TFixupProc = void (*)(const TPathFileName& ALibName, TLibHandle AHandle);
using TUnfixProc = void (*)();

// The constant description of one library.
struct TLibraryItem {
  TLibrary Lib;
  const char* Name;  // base name: the file is "lib" + Name + ".so." + Version
  bool SysLib;       // looked for by bare name only, never in the library directory
  int32_t Version;   // -1: the file name carries no version
  TFixupProc Fixup;
  TUnfixProc Unfix;
};

extern KIV_API const std::array<TLibraryItem, LibraryCount> LibraryItems;

// The mutable state of one library.
struct TLibraryStatus {
  TLibrary Lib;
  TPathFileName Name;  // file-name override; empty: the file-name rule applies
  TLibHandle Handle = nullptr;
  bool Fixuped = false;
};

// Raised by CheckLibAV: "Library %s not loaded."
class KIV_API ELibraryNotLoaded : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where other units hook into loading and unloading. Each hook may be empty.
struct TLoaderHooks {
  std::function<void()> CodecLoaded;     // every successful Load of avcodec
  std::function<void()> CodecUnloading;  // before avcodec's entry points are reset
  std::function<void()> UtilLoaded;      // every successful Load of avutil, when InstallLogger
  std::function<void()> ShutdownBegins;  // at process shutdown, before every library is unloaded
  std::function<void()> ShutdownEnds;    // at process shutdown, after every library is unloaded
};
KIV_API TLoaderHooks& LoaderHooks();

// All loader state is process-wide; every instance sees the same libraries.
class KIV_API TKivLoader {
 public:
  TKivLoader() = default;

  bool Load(TLibrary ALibrary);
  bool Load(TLibraries ALibraries);
  bool Loaded(TLibrary ALibrary) const;
  bool Loaded(TLibraries ALibraries) const;
  void CheckLibAV(TLibraries ALibraries) const;
  void Unload(TLibrary ALibrary);
  void Unload(TLibraries ALibraries);

  TPathFileName LibraryNames(TLibrary AIndex) const;
  void SetLibraryNames(TLibrary AIndex, const TPathFileName& AValue);

  std::string LastErrMsg() const;
  TPathFileName LibraryPath() const;
  void SetLibraryPath(const TPathFileName& AValue);

  bool InstallLogger() const { return FInstallLogger; }
  void SetInstallLogger(bool AValue) { FInstallLogger = AValue; }

  // The status row of a library (read only; for diagnostics and tests).
  static const TLibraryStatus& Status(TLibrary ALibrary);

 private:
  bool FInstallLogger = true;
};

// The process-wide loader, created at start-up and destroyed at shutdown after every
// library has been unloaded. Null only while the process shuts down.
extern KIV_API TKivLoader* KivLoader;

}  // namespace kiv
