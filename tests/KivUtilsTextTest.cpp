#include "KivUtilsText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <memory>

#include "AVUtilStubs.h"
#include "KivLoad.h"
#include "MyUtils.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::TempDir;

namespace {

// Sets one locale category for the life of the object and restores the previous one.
class TLocaleGuard {
 public:
  TLocaleGuard(int ACategory, const char* AName) : FCategory(ACategory) {
    FSaved = std::setlocale(ACategory, nullptr);
    FActive = std::setlocale(ACategory, AName) != nullptr;
  }
  ~TLocaleGuard() { std::setlocale(FCategory, FSaved.c_str()); }
  TLocaleGuard(const TLocaleGuard&) = delete;
  TLocaleGuard& operator=(const TLocaleGuard&) = delete;
  bool Active() const { return FActive; }

 private:
  int FCategory;
  std::string FSaved;
  bool FActive = false;
};

#define USE_LOCALE(guard, category, name) \
  TLocaleGuard guard(category, name);     \
  if (!guard.Active()) GTEST_SKIP() << "locale " << name << " is not installed"

// Tests that call into FFmpeg load the system's libraries first.
class WithAVLibraries : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(KivLoader->Load(AVLibraries)) << KivLoader->LastErrMsg(); }
  void TearDown() override { KivLoader->Unload(AVLibraries); }
};

// --- times -----------------------------------------------------------------------------------

TEST(DurationToStr, FormatsRoundedTimes) {
  struct {
    int64_t Time;
    const char* Expected;
  } cases[] = {
      {AV_NOPTS_VALUE, "N/A"},
      {0, "00:00:00.005"},
      {995000, "00:00:01.000"},  // the added 5 ms carry into the seconds
      {1000000, "00:00:01.005"},
      {3723000000, "01:02:03.005"},
      {int64_t(100) * 3600 * AV_TIME_BASE, "100:00:00.005"},
      {-61000000, "00:-01:00.-995"},  // each negative part keeps its own sign
  };
  for (const auto& c : cases) EXPECT_EQ(DurationToStr(c.Time), c.Expected) << c.Time;
}

TEST(DurationToStr, LargestTimeDoesNotOverflow) { EXPECT_FALSE(DurationToStr(INT64_MAX).empty()); }

class TimestampToStrTest : public WithAVLibraries {};

TEST_F(TimestampToStrTest, RescalesToMicroseconds) {
  struct {
    int64_t Timestamp;
    AVRational TimeBase;
    const char* Expected;
  } cases[] = {
      {90000, {1, 90000}, "00:00:01.005"},
      {1000000, {1, 1000000}, "00:00:01.005"},
      {1001, {1, 1000}, "00:00:01.006"},
      {AV_NOPTS_VALUE, {1, 90000}, "N/A"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TimestampToStr(c.Timestamp, c.TimeBase), c.Expected)
        << c.Timestamp << " in " << c.TimeBase.num << "/" << c.TimeBase.den;
}

TEST(TimestampToStr, MicrosecondsNeedNoLibrary) {
  KivLoader->Unload(AVLibraries);
  EXPECT_EQ(TimestampToStr(1000000, {1, AV_TIME_BASE}), "00:00:01.005");
  EXPECT_EQ(TimestampToStr(AV_NOPTS_VALUE, {1, 90000}), "N/A");
}

TEST(TimestampToStr, RescalingWithoutTheLibraryRaises) {
  KivLoader->Unload(AVLibraries);
  try {
    TimestampToStr(90000, {1, 90000});
    FAIL() << "no exception";
  } catch (const ELibraryNotLoaded& e) {
    EXPECT_STREQ(e.what(), "Library avutil not loaded.");
  }
}

TEST(FrameRateToDuration, DividesOrFallsBackTo25Fps) {
  struct {
    AVRational Rate;
    int64_t Expected;
  } cases[] = {
      {{30000, 1001}, 33366}, {{25, 1}, 40000}, {{60, 1}, 16666}, {{24000, 1001}, 41708},
      {{0, 0}, 40000},        {{0, 1}, 40000},  {{25, 0}, 40000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FrameRateToDuration(c.Rate), c.Expected) << c.Rate.num << "/" << c.Rate.den;
}

// --- image names -----------------------------------------------------------------------------

TEST(GuessImageCodec, MatchesTheLastExtensionIgnoringCase) {
  struct {
    const char* Name;
    int32_t Expected;
  } cases[] = {
      {"a.jpg", AV_CODEC_ID_MJPEG},
      {"/photos/A.JPG", AV_CODEC_ID_MJPEG},
      {"x.Jpeg", AV_CODEC_ID_MJPEG},
      {"a.mkv.png", AV_CODEC_ID_PNG},
      {"scan.pic", AV_CODEC_ID_QDRAW},  // listed twice: the first row wins
      {"frame.mpg2-img", AV_CODEC_ID_MPEG2VIDEO},
      {"video.y", AV_CODEC_ID_RAWVIDEO},
      {"dump.xwd", AV_CODEC_ID_XWD},
      {"movie.mkv", 0},
      {"a.png.mkv", 0},
      {"noextension", 0},
      {"dir.png/file", 0},
      {"trailing.", 0},
      {"", 0},
      {nullptr, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GuessImageCodec(c.Name), c.Expected) << (c.Name ? c.Name : "(null)");
}

TEST(GuessImageCodec, KnowsEveryImageExtension) {
  const char* extensions[] = {
      "jpeg",     "jpg",      "jps",      "mpo",    "ljpg",   "jls",   "png", "pns",  "mng",
      "ppm",      "pnm",      "pgm",      "pgmyuv", "pbm",    "pam",   "pix", "dds",  "mpg1-img",
      "mpg2-img", "mpg4-img", "ffv1-img", "y",      "raw",    "bmp",   "tga", "tiff", "tif",
      "sgi",      "ptx",      "pcx",      "pic",    "pct",    "pict",  "sun", "ras",  "rs",
      "im1",      "im8",      "im24",     "im32",   "sunras", "j2c",   "jp2", "jpc",  "j2k",
      "dpx",      "exr",      "yuv10",    "webp",   "xbm",    "xface", "xwd"};
  for (const char* extension : extensions)
    EXPECT_NE(GuessImageCodec((std::string("name.") + extension).c_str()), 0) << extension;
}

// --- file names ------------------------------------------------------------------------------

struct TNameCase {
  const char* Name;
  std::string Utf8;
  std::string Encoded;
};

void ExpectRoundTrip(const TNameCase& c) {
  EXPECT_EQ(std::string(EncodeFileName(c.Utf8)), c.Encoded) << c.Name;
  EXPECT_EQ(DecodeFileName(c.Encoded.c_str()), c.Utf8) << c.Name;
}

TEST(FileNames, Utf8LocaleKeepsEveryName) {
  USE_LOCALE(ctype, LC_CTYPE, "C.UTF-8");
  for (const TNameCase& c : {TNameCase{"picture", "/tmp/bild_\u00e4.JPG", "/tmp/bild_\u00e4.JPG"},
                             TNameCase{"movie", "/tmp/film_\u00e4.mkv", "/tmp/film_\u00e4.mkv"}})
    ExpectRoundTrip(c);
}

// The C locale's character set is ASCII: names with other characters keep their bytes.
TEST(FileNames, AsciiLocaleKeepsEveryName) {
  USE_LOCALE(ctype, LC_CTYPE, "C");
  for (const TNameCase& c : {TNameCase{"picture", "/tmp/bild_\u00e4.JPG", "/tmp/bild_\u00e4.JPG"},
                             TNameCase{"ascii picture", "/tmp/a.png", "/tmp/a.png"}})
    ExpectRoundTrip(c);
}

TEST(FileNames, EightBitLocaleConvertsPictureNamesOnly) {
  USE_LOCALE(ctype, LC_CTYPE, "de_DE.ISO-8859-1");
  const TNameCase cases[] = {
      {"picture", "/tmp/bild_\u00e4.JPG", "/tmp/bild_\xe4.JPG"},
      {"picture sequence", "/tmp/\u00dcbung_%03d.png",
       "/tmp/\xdc"
       "bung_%03d.png"},
      {"movie", "/tmp/film_\u00e4.mkv", "/tmp/film_\u00e4.mkv"},
      // The euro sign has no place in Latin-1: the name keeps its bytes rather than turning
      // into another file's name.
      {"unrepresentable picture", "/tmp/\u20ac.jpg", "/tmp/\u20ac.jpg"},
  };
  for (const TNameCase& c : cases) ExpectRoundTrip(c);
}

TEST(FileNames, LongNamesPassUnchanged) {
  for (size_t length : {size_t(2047), size_t(2048), size_t(5000)}) {
    std::string name = "/" + std::string(length - 5, 'n') + ".mkv";
    ASSERT_EQ(name.size(), length);
    EXPECT_EQ(std::string(EncodeFileName(name)), name) << length;
  }
  // A short name after a long one carries nothing of the long one.
  EXPECT_STREQ(EncodeFileName("a.mkv"), "a.mkv");
}

TEST(FileNames, NullNameDecodesToEmpty) { EXPECT_EQ(DecodeFileName(nullptr), ""); }

// --- dictionaries and codecs -----------------------------------------------------------------

struct DictDeleter {
  void operator()(AVDictionary* ADict) const {
    if (av::av_dict_free) av::av_dict_free(&ADict);
  }
};
using DictPtr = std::unique_ptr<AVDictionary, DictDeleter>;

class DictValueTest : public WithAVLibraries {
 protected:
  DictPtr Dict(std::initializer_list<std::pair<const char*, const char*>> AEntries) {
    AVDictionary* dict = nullptr;
    for (const auto& [key, value] : AEntries) av::av_dict_set(&dict, key, value, 0);
    return DictPtr(dict);
  }
};

TEST_F(DictValueTest, FindsKeyOrGivesDefault) {
  DictPtr dict = Dict({{"title", "Kiv Test Clip"}, {"year", "2016"}, {"track", "3/12"}});
  EXPECT_EQ(DictValue(dict.get(), "title", "-"), "Kiv Test Clip");
  EXPECT_EQ(DictValue(dict.get(), "track", "-"), "3/12");
  EXPECT_EQ(DictValue(dict.get(), "TITLE", "-"), "Kiv Test Clip");  // FFmpeg's keys ignore case
  EXPECT_EQ(DictValue(dict.get(), "genre", "none"), "none");
  EXPECT_EQ(DictValue(nullptr, "title", "none"), "none");
}

TEST_F(DictValueTest, MetadataStaysUtf8InAnEightBitLocale) {
  USE_LOCALE(ctype, LC_CTYPE, "de_DE.ISO-8859-1");
  DictPtr dict = Dict({{"artist", "Gr\u00f6\u00dfe"}});
  EXPECT_EQ(DictValue(dict.get(), "artist", ""), "Gr\u00f6\u00dfe");
}

constexpr uint32_t Tag(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}

struct TCodecCase {
  const char* Name;
  AVCodecID Id;
  uint32_t Tag;
  bool Encoder;
  bool LongName;
  const char* Expected;
};

class GetCodecNameTest : public WithAVLibraries {};

TEST_F(GetCodecNameTest, NamesCodecOrTag) {
  const TCodecCase cases[] = {
      {"decoder", AV_CODEC_ID_H264, 0, false, false, "h264"},
      {"decoder long name", AV_CODEC_ID_H264, 0, false, true,
       "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)"},
      {"encoder", AV_CODEC_ID_PNG, 0, true, false, "png"},
      {"no encoder: tag", AV_CODEC_ID_VP6, Tag('V', 'P', '6', '0'), true, false,
       "VP60 / 0x30365056"},
      {"no codec: printable tag", AV_CODEC_ID_NONE, Tag('a', 'v', 'c', '1'), false, true,
       "avc1 / 0x31637661"},
      {"no codec: byte 127 is not printable", AV_CODEC_ID_NONE, Tag('a', 'v', 'c', '\x7f'), false,
       false, "0x7F637661"},
      {"no codec: small tag", AV_CODEC_ID_NONE, 27, false, false, "0x001B"},
      {"no codec: no tag", AV_CODEC_ID_NONE, 0, false, false, "0x0000"},
      {"transport stream", AV_CODEC_ID_MPEG2TS, Tag('a', 'v', 'c', '1'), false, false, "mpeg2ts"},
  };
  for (const TCodecCase& c : cases) {
    AVCodecParameters par{};
    par.codec_id = c.Id;
    par.codec_tag = c.Tag;
    EXPECT_EQ(GetCodecName(&par, c.Encoder, c.LongName), c.Expected) << c.Name;
    AVCodecContext ctx{};
    ctx.codec_id = c.Id;
    ctx.codec_tag = c.Tag;
    EXPECT_EQ(GetCodecName(&ctx, c.Encoder, c.LongName), c.Expected) << c.Name << " (context)";
  }
}

TEST(PictureTypeName, NamesEachType) {
  const char* names[] = {
      "Unknown",          "Intra",           "Predicted",           "Bi-dir predicted",
      "S(GMC)-VOP MPEG4", "Switching Intra", "Switching Predicted", "BI type",
      "Unknown"};
  for (int32_t type = 0; type < 9; ++type) EXPECT_EQ(PictureTypeName(type), names[type]) << type;
  EXPECT_EQ(PictureTypeName(-1), "Unknown");
}

// --- sizes, files and the program ------------------------------------------------------------

TEST(FileSizeToStr, UsesStrictThresholds) {
  struct {
    int64_t Size;
    const char* Expected;
  } cases[] = {
      {-1, "-1 Byte"},
      {0, "0 Byte"},
      {1024, "1024 Byte"},
      {1025, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048576, "1024.00 KB"},
      {1048577, "1.00 MB"},
      {1073741824, "1024.00 MB"},
      {1073741825, "1.00 GB"},
      {int64_t(5) << 40, "5120.00 GB"},
      {int64_t(1) << 32, "4.00 GB"},  // sizes above 32 bits keep every digit
      {4294967297, "4.00 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileSizeToStr(c.Size), c.Expected) << c.Size;
  EXPECT_EQ(FileSizeToStr(5000000000), "4.66 GB");
}

TEST(FileSizeToStr, UsesTheLocalesDecimalSeparator) {
  USE_LOCALE(numeric, LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(FileSizeToStr(1536), "1,50 KB");
  EXPECT_EQ(FileSizeToStr(1000), "1000 Byte");
}

TEST(FileSizeOf, ReadsTheSizeOfFilesOnly) {
  TempDir dir;
  dir.Write("data.bin", std::string(1536, 'x'));
  dir.Write("empty", "");
  dir.Write("\u00e4 name.mkv", "abc");
  EXPECT_EQ(FileSizeOf(dir.File("data.bin")), 1536);
  EXPECT_EQ(FileSizeOf(dir.File("empty")), 0);
  EXPECT_EQ(FileSizeOf(dir.File("\u00e4 name.mkv")), 3);
  EXPECT_EQ(FileSizeOf(dir.File("missing")), -1);
  EXPECT_EQ(FileSizeOf(dir.Path()), -1);
  EXPECT_EQ(FileSizeOf(""), -1);
}

TEST(ExeFileName, NamesThisProgramAndItsDirectory) {
  TPathFileName name = ExeFileName();
  TPathFileName path = ExeFilePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(path.back(), '/');
  EXPECT_EQ(name, path + "KivUtilsTextTest");
  EXPECT_TRUE(FileExists(name));
}

TEST(FetchToken, SplitsAtTheFirstSeparator) {
  struct {
    const char* Source;
    const char* Separator;
    bool Remove;
    const char* Token;
    const char* Rest;
  } cases[] = {
      {"a\nb\nc", "\n", true, "a", "b\nc"},
      {"a\nb", "\n", false, "a", "a\nb"},
      {"\nb", "\n", true, "", "b"},
      {"abc", "\n", true, "abc", ""},
      {"abc", "\n", false, "abc", "abc"},
      {"a\r\nb", "\r\n", true, "a", "b"},
      {"", "\n", true, "", ""},
  };
  for (const auto& c : cases) {
    std::string source = c.Source;
    EXPECT_EQ(FetchToken(source, c.Separator, c.Remove), c.Token) << c.Source;
    EXPECT_EQ(source, c.Rest) << c.Source;
  }
}

}  // namespace
