#include "KivLoad.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "MyUtilStubs.h"
#include "SwScaleStubs.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::TempDir;


namespace {

const std::vector<TLibrary> AVMembers = {avCodec,    avFilter, avFormat, avUtil,
                                         swResample, swScale,  myUtil};

const char* SystemFile(TLibrary ALibrary) {
  static const char* names[] = {"libavcodec.so.59",    "libavdevice.so.59", "libavfilter.so.8",
                                "libavformat.so.59",   "libavutil.so.57",   "libswresample.so.4",
                                "libswscale.so.6",     "libc.so.6",         "libSoundTouchDll.so.1",
                                "libmfx.so.1"};
  return names[ALibrary];
}

// Every test leaves the process-wide loader as it found it.
class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { SavedHooks = LoaderHooks(); }
  void TearDown() override {
    Loader.Unload(AllLibraries);
    for (int i = 0; i < LibraryCount; ++i) Loader.SetLibraryNames(TLibrary(i), "");
    Loader.SetLibraryPath("");
    Loader.SetInstallLogger(true);
    LoaderHooks() = SavedHooks;
  }
  TLoaderHooks SavedHooks;

  // A library directory holding links to the system's FFmpeg libraries.
  static void LinkSystemLibraries(const TempDir& ADir, std::vector<TLibrary> AExcept = {}) {
    for (TLibrary lib : AVMembers) {
      if (lib == myUtil) continue;
      if (std::find(AExcept.begin(), AExcept.end(), lib) != AExcept.end()) continue;
      ADir.Link(SystemFile(lib), kivtest::SystemLibDir + "/" + SystemFile(lib));
    }
  }

  void ExpectAllUnloaded(TLibraries ASet) {
    for (int i = 0; i < LibraryCount; ++i) {
      if (!ASet.Contains(TLibrary(i))) continue;
      EXPECT_FALSE(Loader.Loaded(TLibrary(i))) << LibraryItems[i].Name;
      EXPECT_EQ(TKivLoader::Status(TLibrary(i)).Handle, nullptr) << LibraryItems[i].Name;
    }
  }

  // The file an entry point was resolved from.
  static std::string ObjectOf(const void* AAddress) {
    Dl_info info{};
    return dladdr(AAddress, &info) && info.dli_fname ? info.dli_fname : "";
  }

  TKivLoader Loader;
};

TEST(LibrarySets, HaveTheirBitValues) {
  EXPECT_EQ(AllLibraries.Bits(), 1023);
  EXPECT_EQ(AVLibraries.Bits(), 253);
  EXPECT_FALSE(AVLibraries.Contains(avDevice));
  EXPECT_FALSE(AVLibraries.Contains(libSoundTouch));
  EXPECT_TRUE(AVLibraries.Contains(myUtil));
}

TEST_F(LoaderTest, FileNamesFollowTheRuleUnlessOverridden) {
  for (int i = 0; i < LibraryCount; ++i)
    EXPECT_EQ(Loader.LibraryNames(TLibrary(i)), SystemFile(TLibrary(i)));
  Loader.SetLibraryNames(avUtil, "/opt/ffmpeg/libavutil.so");
  EXPECT_EQ(Loader.LibraryNames(avUtil), "/opt/ffmpeg/libavutil.so");
  Loader.SetLibraryNames(avUtil, "");
  EXPECT_EQ(Loader.LibraryNames(avUtil), "libavutil.so.57");
}

TEST_F(LoaderTest, LoadsTheSystemLibrariesByBareNameAndUnloadsThem) {
  ASSERT_TRUE(Loader.Load(AVLibraries)) << Loader.LastErrMsg();
  EXPECT_TRUE(Loader.Loaded(AVLibraries));
  EXPECT_NO_THROW(Loader.CheckLibAV(AVLibraries));
  EXPECT_NE(av::avcodec_open2, nullptr);
  EXPECT_NE(av::avformat_open_input, nullptr);
  EXPECT_NE(av::av_log, nullptr);
  EXPECT_NE(av::_snprintf, nullptr);
  // Names only some builds export stay empty without failing the load.
  EXPECT_EQ(av::ff_guess_image2_codec, nullptr);
  EXPECT_EQ(av::kivra_set_memory_protocol_callback, nullptr);
  EXPECT_EQ(av::av_lockmgr_register, nullptr);

  char text[16];
  av::_snprintf(text, sizeof text, "%d-%s", 42, "x");
  EXPECT_STREQ(text, "42-x");
  EXPECT_STREQ(av::avcodec_get_name(AV_CODEC_ID_H264), "h264");

  Loader.Unload(AVLibraries);
  ExpectAllUnloaded(AVLibraries);
  EXPECT_EQ(av::avcodec_open2, nullptr);
  EXPECT_EQ(av::avformat_network_deinit, nullptr);
  EXPECT_EQ(av::_snprintf, nullptr);
}

TEST_F(LoaderTest, LoadsFromALibraryDirectoryGivenWithoutTrailingSlash) {
  TempDir dir("Lib AV ü");  // spaces and non-ASCII letters in the path
  LinkSystemLibraries(dir);
  Loader.SetLibraryPath(dir.Path());
  ASSERT_TRUE(Loader.Load(AVLibraries)) << Loader.LastErrMsg();
  EXPECT_EQ(ObjectOf(reinterpret_cast<void*>(av::avcodec_open2)),
            dir.File("libavcodec.so.59"));
  // The C library is a system library: never taken from the directory.
  EXPECT_EQ(ObjectOf(reinterpret_cast<void*>(av::_snprintf)).find(dir.Path()),
            std::string::npos);
}

TEST_F(LoaderTest, MissingDirectoryOrMissingMemberFallsBackToTheSystem) {
  TempDir dir;
  LinkSystemLibraries(dir, {swScale});
  Loader.SetLibraryPath(dir.Path());
  ASSERT_TRUE(Loader.Load(AVLibraries)) << Loader.LastErrMsg();
  EXPECT_EQ(ObjectOf(reinterpret_cast<void*>(av::sws_scale)).find(dir.Path()), std::string::npos);
  EXPECT_EQ(ObjectOf(reinterpret_cast<void*>(av::avcodec_open2)), dir.File("libavcodec.so.59"));
  Loader.Unload(AVLibraries);
  Loader.SetLibraryPath(dir.Path() + "/does-not-exist");
  EXPECT_TRUE(Loader.Load(AVLibraries)) << Loader.LastErrMsg();
}

TEST_F(LoaderTest, ABrokenMemberUnloadsTheWholeSetAndIsNamed) {
  TempDir dir;
  LinkSystemLibraries(dir, {swScale});
  dir.Write("libswscale.so.6", "not a shared library\n");
  Loader.SetLibraryPath(dir.Path());
  ASSERT_TRUE(Loader.Load(avCodec));  // loaded before the set: unloaded with it
  EXPECT_FALSE(Loader.Load(AVLibraries));
  EXPECT_EQ(Loader.LastErrMsg().rfind("Load library " + dir.File("libswscale.so.6") + " error(#8): ", 0),
            0u)
      << Loader.LastErrMsg();
  ExpectAllUnloaded(AVLibraries);
  EXPECT_EQ(av::avcodec_open2, nullptr);
}

TEST_F(LoaderTest, FailedOpensNameTheFileAndTellMissingFromUnloadable) {
  TempDir dir;
  dir.Write("garbage.so", "garbage");
  struct Case {
    const char* title;
    std::string path;
    std::string override_;
    std::string expectedPrefix;
  } cases[] = {
      {"missing everywhere, bare name", "", "libkiv-missing.so.1",
       "Load library libkiv-missing.so.1 error(#2): libkiv-missing.so.1: cannot open shared "
       "object file: No such file or directory"},
      {"missing everywhere, from a directory", dir.Path(), "libkiv-missing.so.1",
       "Load library " + dir.File("libkiv-missing.so.1") + " error(#2): "},
      {"not a library, by override path", "", dir.File("garbage.so"),
       "Load library " + dir.File("garbage.so") + " error(#8): "},
      {"a directory as override", "", dir.Path() + "/",
       "Load library " + dir.Path() + "/ error(#2): No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    Loader.SetLibraryPath(c.path);
    Loader.SetLibraryNames(libMFX, c.override_);
    EXPECT_FALSE(Loader.Load(libMFX));
    EXPECT_EQ(Loader.LastErrMsg().rfind(c.expectedPrefix, 0), 0u) << Loader.LastErrMsg();
    EXPECT_FALSE(Loader.Loaded(libMFX));
    EXPECT_EQ(TKivLoader::Status(libMFX).Handle, nullptr);
  }
}

TEST_F(LoaderTest, AMissingRequiredEntryPointFailsAndNamesTheFirstMissing) {
  struct Case {
    const char* fake;
    const char* missing;
  } cases[] = {
      {"fake_avcodec_no_qsv", "av_qsv_alloc_context"},
      // avcodec_find_decoder comes before avcodec_open2 in the list.
      {"fake_avcodec_two_missing", "avcodec_find_decoder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fake);
    std::string file = kivtest::FakesDir(c.fake) + "/libavcodec.so.59";
    Loader.SetLibraryNames(avCodec, file);
    EXPECT_FALSE(Loader.Load(avCodec));
    std::string expected = "Load function " + std::string(c.missing) + "@" + file + " error: ";
    EXPECT_EQ(Loader.LastErrMsg().rfind(expected, 0), 0u) << Loader.LastErrMsg();
    EXPECT_NE(Loader.LastErrMsg().find(c.missing, expected.size()), std::string::npos);
    EXPECT_FALSE(Loader.Loaded(avCodec));
    EXPECT_EQ(TKivLoader::Status(avCodec).Handle, nullptr);
  }
}

TEST_F(LoaderTest, FormatLibraryStartsAndStopsTheNetworkLayerAroundItsBindings) {
  std::string file = kivtest::FakesDir("fake_avformat") + "/libavformat.so.59";
  Loader.SetLibraryNames(avFormat, file);
  ASSERT_TRUE(Loader.Load(avFormat)) << Loader.LastErrMsg();
  void* fake = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(fake, nullptr);
  auto counter = [&](const char* AName) { return *static_cast<int*>(dlsym(fake, AName)); };
  EXPECT_EQ(counter("fake_network_init_calls"), 1);
  EXPECT_EQ(counter("fake_network_deinit_calls"), 0);
  EXPECT_NE(av::av_guess_frame_rate, nullptr);  // bound before the start-up call
  EXPECT_EQ(av::ff_guess_image2_codec, nullptr);
  Loader.Unload(avFormat);
  EXPECT_EQ(counter("fake_network_init_calls"), 1);
  EXPECT_EQ(counter("fake_network_deinit_calls"), 1);
  EXPECT_EQ(av::avformat_network_deinit, nullptr);
  EXPECT_EQ(av::avformat_open_input, nullptr);
  EXPECT_EQ(av::kivra_reset_memory_protocol_callback, nullptr);
  dlclose(fake);
}

TEST_F(LoaderTest, ALibraryOfAnotherMajorVersionIsRefusedBeforeItIsStarted) {
  std::string file = kivtest::FakesDir("fake_avformat_next_major") + "/libavformat.so.59";
  Loader.SetLibraryNames(avFormat, file);
  EXPECT_FALSE(Loader.Load(avFormat));
  // The headers compiled against are those of libavformat 59.
  EXPECT_EQ(Loader.LastErrMsg(), "Load library " + file +
                                     " error: it is libavformat 60.1.100, but Kiv was built for "
                                     "major version 59");
  EXPECT_FALSE(Loader.Loaded(avFormat));
  EXPECT_EQ(TKivLoader::Status(avFormat).Handle, nullptr);
  EXPECT_EQ(av::avformat_open_input, nullptr);
  // Refused before binding, so the network layer was never started.
  void* fake = dlopen(file.c_str(), RTLD_NOW);
  ASSERT_NE(fake, nullptr);
  EXPECT_EQ(*static_cast<int*>(dlsym(fake, "fake_network_init_calls")), 0);
  dlclose(fake);
}

TEST_F(LoaderTest, EmptySetsAreProgrammingErrors) {
  EXPECT_THROW(Loader.Load(TLibraries{}), EAssertionFailed);
  EXPECT_THROW(Loader.Loaded(TLibraries{}), EAssertionFailed);
  EXPECT_THROW(Loader.Unload(TLibraries{}), EAssertionFailed);
  EXPECT_NO_THROW(Loader.CheckLibAV(TLibraries{}));
  try {
    Loader.Load(TLibraries{});
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Assertion failure (KivLoad)");
  }
}

TEST_F(LoaderTest, CheckLibAVNamesTheLowestMissingMemberByBaseName) {
  ASSERT_TRUE(Loader.Load(avUtil));
  try {
    Loader.CheckLibAV(AVLibraries);
    FAIL() << "no error raised";
  } catch (const ELibraryNotLoaded& e) {
    EXPECT_STREQ(e.what(), "Library avcodec not loaded.");
  }
  EXPECT_FALSE(Loader.Loaded(AVLibraries));
  EXPECT_TRUE(Loader.Loaded(TLibraries{avUtil}));
}

TEST_F(LoaderTest, SettingAnOverrideUnloadsThatLibraryFirst) {
  ASSERT_TRUE(Loader.Load(avUtil));
  Loader.SetLibraryNames(avUtil, kivtest::SystemLibDir + "/libavutil.so.57");
  EXPECT_FALSE(Loader.Loaded(avUtil));
  EXPECT_EQ(av::av_log, nullptr);
  ASSERT_TRUE(Loader.Load(avUtil));
}

TEST_F(LoaderTest, AFailureTextOutlivesLaterSuccess) {
  Loader.SetLibraryNames(libMFX, "libkiv-missing.so.1");
  EXPECT_FALSE(Loader.Load(libMFX));
  const std::string failure = Loader.LastErrMsg();
  ASSERT_TRUE(Loader.Load(avUtil));
  EXPECT_EQ(Loader.LastErrMsg(), failure);
}

TEST_F(LoaderTest, HooksRunOnEverySuccessfulLoadOfTheirLibrary) {
  int codecLoaded = 0, codecUnloading = 0, utilLoaded = 0;
  LoaderHooks().CodecLoaded = [&] { ++codecLoaded; };
  LoaderHooks().CodecUnloading = [&] { ++codecUnloading; };
  LoaderHooks().UtilLoaded = [&] { ++utilLoaded; };
  ASSERT_TRUE(Loader.Load(avCodec));
  ASSERT_TRUE(Loader.Load(avCodec));  // already loaded: nothing opened, the hook runs again
  EXPECT_EQ(codecLoaded, 2);
  Loader.SetInstallLogger(false);
  ASSERT_TRUE(Loader.Load(avUtil));
  EXPECT_EQ(utilLoaded, 0);
  Loader.SetInstallLogger(true);
  ASSERT_TRUE(Loader.Load(avUtil));
  EXPECT_EQ(utilLoaded, 1);
  Loader.Unload(avCodec);
  Loader.Unload(avCodec);  // not loaded: nothing to do
  EXPECT_EQ(codecUnloading, 1);
}

TEST_F(LoaderTest, CompanionLibrariesLoad) {
  for (TLibrary lib : {avDevice, libSoundTouch, libMFX}) {
    SCOPED_TRACE(LibraryItems[lib].Name);
    EXPECT_TRUE(Loader.Load(lib)) << Loader.LastErrMsg();
  }
}

// The list helper refuses a list whose byte size would not fit in an int, before it
// touches the option.
TEST(OptSetIntList, RefusesAListTooLongForAnInt) {
  static int binCalls;
  binCalls = 0;
  av::av_opt_set_bin = [](void*, const char*, const uint8_t*, int, int) {
    ++binCalls;
    return 0;
  };
  av::av_int_list_length_for_size = [](unsigned, const void*, uint64_t) -> unsigned {
    return INT_MAX / sizeof(int) + 1;
  };
  const int list[] = {1, -1};
  EXPECT_EQ(av::av_opt_set_int_list(nullptr, "pix_fmts", list, uint64_t(-1), 0), AVERROR(EINVAL));
  EXPECT_EQ(binCalls, 0);
  av::av_int_list_length_for_size = [](unsigned, const void*, uint64_t) -> unsigned { return 1; };
  EXPECT_EQ(av::av_opt_set_int_list(nullptr, "pix_fmts", list, uint64_t(-1), 0), 0);
  EXPECT_EQ(binCalls, 1);
  av::av_opt_set_bin = nullptr;
  av::av_int_list_length_for_size = nullptr;
}

}  // namespace
