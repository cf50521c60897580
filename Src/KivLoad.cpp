#include "KivLoad.h"

#include <libavcodec/version_major.h>
#include <libavdevice/version_major.h>
#include <libavfilter/version_major.h>
#include <libavformat/version_major.h>
#include <libavutil/version.h>
#include <libswresample/version_major.h>
#include <libswscale/version_major.h>

#include "AVCodecStubs.h"
#include "AVDeviceStubs.h"
#include "AVFilterStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivLockManager.h"
#include "MFXStubs.h"
#include "MyUtilStubs.h"
#include "SoundTouchStubs.h"
#include "SwResampleStubs.h"
#include "SwScaleStubs.h"

namespace kiv {

// Versions are the major numbers of the headers compiled against; the companions carry the
// sonames of the system's packages. SoundTouch's C interface is in its "Dll" library.
const std::array<TLibraryItem, LibraryCount> LibraryItems{{
    {avCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR, AVCodecStubs::FixupStubs,
     AVCodecStubs::UnfixStubs},
    {avDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR, AVDeviceStubs::FixupStubs,
     AVDeviceStubs::UnfixStubs},
    {avFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR, AVFilterStubs::FixupStubs,
     AVFilterStubs::UnfixStubs},
    {avFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR, AVFormatStubs::FixupStubs,
     AVFormatStubs::UnfixStubs},
    {avUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR, AVUtilStubs::FixupStubs,
     AVUtilStubs::UnfixStubs},
    {swResample, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, SwResampleStubs::FixupStubs,
     SwResampleStubs::UnfixStubs},
    {swScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR, SwScaleStubs::FixupStubs,
     SwScaleStubs::UnfixStubs},
    {myUtil, "c", true, 6, MyUtilStubs::FixupStubs, MyUtilStubs::UnfixStubs},
    {libSoundTouch, "SoundTouchDll", false, 1, SoundTouchStubs::FixupStubs,
     SoundTouchStubs::UnfixStubs},
    {libMFX, "mfx", false, 1, MFXStubs::FixupStubs, MFXStubs::UnfixStubs},
}};

namespace {

struct TLoaderState {
  std::array<TLibraryStatus, LibraryCount> Rows;
  std::string LastErrMsg;
  TPathFileName LibraryPath;
  TLoaderState() {
    for (int i = 0; i < LibraryCount; ++i) Rows[i].Lib = TLibrary(i);
  }
};

TLoaderState& State() {
  static TLoaderState state;
  return state;
}

TLibraryStatus& Row(TLibrary ALibrary) { return State().Rows[ALibrary]; }

// Directory part: everything up to and including the last "/".
TPathFileName DirectoryPart(const TPathFileName& AName) {
  auto slash = AName.rfind('/');
  return slash == TPathFileName::npos ? TPathFileName() : AName.substr(0, slash + 1);
}

TPathFileName FilePart(const TPathFileName& AName) {
  auto slash = AName.rfind('/');
  return slash == TPathFileName::npos ? AName : AName.substr(slash + 1);
}

std::string LoadFailureText(const TPathFileName& ADir, const TPathFileName& AFileName,
                            int32_t AErrorCode, const std::string& ASystemText) {
  TPathFileName shown = ADir + AFileName;
  // A library that is in no loadable form was found elsewhere on the search path when the
  // directory does not hold it: name what was really opened.
  if (AErrorCode == LoadErrorBadFormat && !ADir.empty() && !FileExists(ADir + AFileName))
    shown = AFileName;
  return "Load library " + shown + " error(#" + std::to_string(AErrorCode) +
         "): " + TrimSystemMessage(ASystemText);
}

// The FFmpeg libraries report their version. One of another major version than the headers
// compiled against lays out its structures differently, so it is refused instead of used.
constexpr TLibraries VersionedLibraries{avCodec, avDevice,   avFilter, avFormat,
                                        avUtil,  swResample, swScale};

void CheckVersion(TLibrary ALibrary, const TPathFileName& ALibName, TLibHandle AHandle) {
  if (!VersionedLibraries.Contains(ALibrary)) return;
  const TLibraryItem& item = LibraryItems[ALibrary];
  const std::string function = std::string(item.Name) + "_version";
  unsigned (*version)() = nullptr;
  BindEntryPoint(ALibName, AHandle, function.c_str(), version);
  const unsigned found = version();
  if (int32_t(AV_VERSION_MAJOR(found)) != item.Version)
    throw EBindError("Load library " + ALibName + " error: it is lib" + item.Name + " " +
                     std::to_string(AV_VERSION_MAJOR(found)) + "." +
                     std::to_string(AV_VERSION_MINOR(found)) + "." +
                     std::to_string(AV_VERSION_MICRO(found)) +
                     ", but Kiv was built for major version " + std::to_string(item.Version));
}

// The module's start-up and shutdown: the loader exists from start-up, and at shutdown every
// library is unloaded before the instance goes. Every static object that the shutdown
// reaches, here or in other source files, is created first, so that it is destroyed after it.
struct TLoaderModule {
  TLoaderModule() {
    State();
    LoaderHooks();
    InitLibraryLoading();
    LockManagerFinalizing();  // creates the lock manager's state and guard
    KivLoader = new TKivLoader();
  }
  ~TLoaderModule() {
    TKivLoader* loader = KivLoader;
    const TLoaderHooks& hooks = LoaderHooks();
    if (hooks.ShutdownBegins) hooks.ShutdownBegins();
    loader->Unload(AllLibraries);
    if (hooks.ShutdownEnds) hooks.ShutdownEnds();
    KivLoader = nullptr;
    delete loader;
  }
};

}  // namespace

TKivLoader* KivLoader = nullptr;
static TLoaderModule LoaderModule;

TLoaderHooks& LoaderHooks() {
  static TLoaderHooks hooks;
  return hooks;
}

const TLibraryStatus& TKivLoader::Status(TLibrary ALibrary) { return Row(ALibrary); }

TPathFileName TKivLoader::LibraryNames(TLibrary AIndex) const {
  const TLibraryStatus& row = Row(AIndex);
  if (!row.Name.empty()) return row.Name;
  const TLibraryItem& item = LibraryItems[AIndex];
  TPathFileName name = "lib" + std::string(item.Name) + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

void TKivLoader::SetLibraryNames(TLibrary AIndex, const TPathFileName& AValue) {
  Unload(AIndex);
  Row(AIndex).Name = AValue;
}

std::string TKivLoader::LastErrMsg() const { return State().LastErrMsg; }
TPathFileName TKivLoader::LibraryPath() const { return State().LibraryPath; }
void TKivLoader::SetLibraryPath(const TPathFileName& AValue) { State().LibraryPath = AValue; }

bool TKivLoader::Load(TLibrary ALibrary) {
  TLibraryStatus& row = Row(ALibrary);
  const TLibraryItem& item = LibraryItems[ALibrary];
  const TPathFileName configured = LibraryNames(ALibrary);
  if (!row.Handle) {
    TPathFileName dir = DirectoryPart(configured);
    const TPathFileName& path = State().LibraryPath;
    if (dir.empty() && !path.empty() && !item.SysLib)
      dir = path.back() == '/' ? path : path + "/";
    TPathFileName fileName = FilePart(configured);
    int32_t errorCode = 0;
    std::string errorText;
    TLibHandle handle = LoadLibraryFromDir(dir, fileName, errorCode, errorText);
    if (!handle) {
      State().LastErrMsg = LoadFailureText(dir, fileName, errorCode, errorText);
      return false;
    }
    row.Handle = handle;
  }
  if (!row.Fixuped) {
    try {
      // Before binding: a library of another version must not even be initialised.
      CheckVersion(ALibrary, configured, row.Handle);
      item.Fixup(configured, row.Handle);
      row.Fixuped = true;
    } catch (const std::exception& e) {
      State().LastErrMsg = e.what();
    }
  }
  if (!row.Fixuped) {
    Unload(ALibrary);
    return false;
  }
  const TLoaderHooks& hooks = LoaderHooks();
  if (ALibrary == avCodec && hooks.CodecLoaded) hooks.CodecLoaded();
  if (ALibrary == avUtil && FInstallLogger && hooks.UtilLoaded) hooks.UtilLoaded();
  return true;
}

bool TKivLoader::Load(TLibraries ALibraries) {
  KivAssert(!ALibraries.Empty(), "KivLoad");
  for (int i = 0; i < LibraryCount; ++i) {
    if (ALibraries.Contains(TLibrary(i)) && !Load(TLibrary(i))) {
      Unload(ALibraries);
      return false;
    }
  }
  return true;
}

bool TKivLoader::Loaded(TLibrary ALibrary) const {
  const TLibraryStatus& row = Row(ALibrary);
  return row.Handle && row.Fixuped;
}

bool TKivLoader::Loaded(TLibraries ALibraries) const {
  KivAssert(!ALibraries.Empty(), "KivLoad");
  for (int i = 0; i < LibraryCount; ++i)
    if (ALibraries.Contains(TLibrary(i)) && !Loaded(TLibrary(i))) return false;
  return true;
}

void TKivLoader::CheckLibAV(TLibraries ALibraries) const {
  for (int i = 0; i < LibraryCount; ++i)
    if (ALibraries.Contains(TLibrary(i)) && !Loaded(TLibrary(i)))
      throw ELibraryNotLoaded("Library " + std::string(LibraryItems[i].Name) + " not loaded.");
}

void TKivLoader::Unload(TLibrary ALibrary) {
  TLibraryStatus& row = Row(ALibrary);
  if (row.Fixuped) {
    const TLoaderHooks& hooks = LoaderHooks();
    if (ALibrary == avCodec && hooks.CodecUnloading) hooks.CodecUnloading();
    LibraryItems[ALibrary].Unfix();
    row.Fixuped = false;
  }
  if (row.Handle) {
    FreeLibraryHandle(row.Handle);
    row.Handle = nullptr;
  }
}

void TKivLoader::Unload(TLibraries ALibraries) {
  KivAssert(!ALibraries.Empty(), "KivLoad");
  for (int i = 0; i < LibraryCount; ++i)
    if (ALibraries.Contains(TLibrary(i))) Unload(TLibrary(i));
}

}  // namespace kiv
