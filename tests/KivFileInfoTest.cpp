#include <gtest/gtest.h>

#include "KivDecode.h"
#include "KivDecodeInternal.h"
#include "KivLoad.h"
#include "LogCapture.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::MediaFile;

namespace {

std::vector<std::string> Lines(const std::string& AText) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = AText.find("\r\n", start)) != std::string::npos) {
    lines.push_back(AText.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, AText.size()) << "every line ends with CR LF";
  return lines;
}

class FileInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }
  std::vector<std::string> Report(const char* AFile) {
    EXPECT_TRUE(Decoder.LoadFile(MediaFile(AFile))) << Decoder.LastErrMsg();
    return Lines(Decoder.FileInfoText());
  }
  TCustomDecoder Decoder;
};

TEST_F(FileInfoTest, ATransportStreamListsItsProgramFirstThenTheRest) {
  const std::vector<std::string> expected = {
      "File Name: " + MediaFile("programs.ts"),
      "Format Name: mpegts",
      "Format Long Name: MPEG-TS (MPEG-2 Transport Stream)",
      "File Size: 341.12 KB",
      "Duration: 00:00:02.015, start: 1.429978, bitrate: 1390 kb/s",
      "Program 1 ",
      "  Metadata:",
      "    service_name    : First",
      "    service_provider: FFmpeg",
      "  Stream #0[0x100], 1/90000: Video: mpeg2video (Main) ([2][0][0][0] / 0x0002), "
      "yuv420p(tv, progressive), 320x240 [SAR 1:1 DAR 4:3], 25 fps, 25 tbr, 90k tbn, start: "
      "1.440000, duration: 00:00:02.005",
      "  Stream #1[0x101], 1/90000: Audio: mp2 ([3][0][0][0] / 0x0003), 48000 Hz, mono, fltp, "
      "384 kb/s, start: 1.429978, duration: 00:00:01.997",
      "No Program",
      "  Stream #2[0x102], 1/90000: Video: mpeg2video (Main), yuv420p(tv, progressive), 160x120 "
      "[SAR 1:1 DAR 4:3], 25 fps, 25 tbr, 90k tbn, start: 1.440000, duration: 00:00:02.005",
  };
  EXPECT_EQ(Report("programs.ts"), expected);
}

TEST_F(FileInfoTest, TagsAndChaptersHaveTheirBlocks) {
  const std::vector<std::string> expected = {
      "File Name: " + MediaFile("metadata.mkv"),
      "Format Name: matroska,webm",
      "Format Long Name: Matroska / WebM",
      "File Size: 65.02 KB",
      "Metadata:",
      "  title           : Kiv Test Clip",
      "  ARTIST          : Kiv",
      "  YEAR            : 2016",
      "  track           : 3/12",
      "  ENCODER         : Lavf59.27.100",
      "Duration: 00:00:02.005, start: 0.000000, bitrate: 266 kb/s",
      "Chapter #0: start 0.000000, end 1.000000",
      "  Metadata:",
      "    title           : Opening",
      "Chapter #1: start 1.000000, end 2.000000",
      "  Metadata:",
      "    title           : Closing",
      "  Stream #0, 1/1000: Video: h264 (High), yuv420p(progressive), 320x240 [SAR 1:1 DAR 4:3], "
      "25 fps, 25 tbr, 1k tbn, start: 0.000000",
      "  Metadata:",
      "    ENCODER         : Lavc59.37.100 libx264",
      "    DURATION        : 00:00:02.000000000",
  };
  EXPECT_EQ(Report("metadata.mkv"), expected);
}

TEST_F(FileInfoTest, NoFileNoReport) {
  kivtest::LogCapture log;
  EXPECT_EQ(Decoder.FileInfoText(), "");
  EXPECT_EQ(Decoder.LastErrMsg(), "file not loaded.");
  EXPECT_TRUE(log.Has(llWarning, "file not loaded."));
}

TEST_F(FileInfoTest, MissingDurationAndBitRate) {
  ASSERT_TRUE(Decoder.LoadFile(MediaFile("two_audio.mkv")));
  Decoder.FileHandle()->duration = AV_NOPTS_VALUE;
  Decoder.FileHandle()->bit_rate = 0;
  Decoder.FileHandle()->start_time = 1400000;
  std::vector<std::string> lines = Lines(Decoder.FileInfoText());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Duration: N/A, start: 1.400000, bitrate: N/A"),
            lines.end());
}

TEST(RateText, UsesTheDecimalsTheRateNeeds) {
  struct Case {
    double rate;
    const char* unit;
    const char* text;
  } cases[] = {
      {25, "fps", "25 fps"},        {29.97, "fps", "29.97 fps"},    {90000, "tbn", "90k tbn"},
      {0.004, "fps", "0.0040 fps"}, {0.00004, "fps", "0.0000 fps"}, {1000, "tbn", "1k tbn"},
      {50, "tbc", "50 tbc"},
  };
  for (const Case& c : cases) EXPECT_EQ(fileinfo::RateText(c.rate, c.unit), c.text) << c.rate;
}

TEST(StartText, SignAndSixDecimals) {
  ASSERT_TRUE(KivLoader->Load(AVLibraries));
  EXPECT_EQ(fileinfo::StartText(-500000, {1, 1000000}), "-0.500000");
  EXPECT_EQ(fileinfo::StartText(126000, {1, 90000}), "1.400000");
  EXPECT_EQ(fileinfo::StartText(AV_NOPTS_VALUE, {1, 90000}), "");
}

class MetadataBlockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(KivLoader->Load(AVLibraries)); }
  void TearDown() override { av::av_dict_free(&Dict); }
  fileinfo::TLines Block(const char* AIndent = "  ") {
    fileinfo::TLines lines;
    fileinfo::MetadataBlock(lines, Dict, AIndent);
    return lines;
  }
  AVDictionary* Dict = nullptr;
};

TEST_F(MetadataBlockTest, LanguageAloneMakesNoBlockAndIsNeverListed) {
  EXPECT_TRUE(Block().empty());
  av::av_dict_set(&Dict, "language", "eng", 0);
  EXPECT_TRUE(Block().empty());
  av::av_dict_set(&Dict, "title", "Main", 0);
  EXPECT_EQ(Block(), (fileinfo::TLines{"  Metadata:", "    title           : Main"}));
}

TEST_F(MetadataBlockTest, ValuesAreSplitAtLineBreaksAndCut) {
  av::av_dict_set(&Dict, "comment",
                  "a\r\nb\x0c"
                  "c",
                  0);
  av::av_dict_set(&Dict, "long", std::string(300, 'x').c_str(), 0);
  EXPECT_EQ(Block(""), (fileinfo::TLines{"Metadata:", "  comment         : a ",
                                         "  " + std::string(16, ' ') + ": bc",
                                         "  long            : " + std::string(255, 'x')}));
}

}  // namespace
