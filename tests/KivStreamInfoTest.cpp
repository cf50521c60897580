#include <gtest/gtest.h>

#include "KivDecode.h"
#include "LogCapture.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::MediaFile;

namespace {

class StreamInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }
  void Open(const char* AFile) {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(AFile))) << Decoder.LastErrMsg();
  }
  TCustomDecoder Decoder;
};

TEST_F(StreamInfoTest, WithoutAFileEveryRecordIsEmpty) {
  kivtest::LogCapture log;
  TVideoStreamInfo video = Decoder.GetVideoStreamInfos(-1);
  EXPECT_EQ(Decoder.LastErrMsg(), "file not loaded.");
  EXPECT_TRUE(log.Has(llWarning, "file not loaded."));
  EXPECT_EQ(video.Width, -1);
  EXPECT_EQ(video.Height, -1);
  EXPECT_EQ(video.SampleAspectRatio, -1.0f);
  EXPECT_EQ(video.SAR.num, 0);
  EXPECT_EQ(video.SAR.den, 1);
  EXPECT_EQ(video.FrameRate.num, 0);
  EXPECT_EQ(video.FrameRate.den, 1);
  TFileStreamInfo file = Decoder.FileStreamInfo();
  EXPECT_EQ(file.StartTime, AV_NOPTS_VALUE);
  EXPECT_EQ(file.Duration, -1);
  EXPECT_EQ(file.Year, -1);
  EXPECT_EQ(Decoder.GetProgrames(0).id, -1);
  EXPECT_FALSE(Decoder.IsVideoStream(0));
  EXPECT_EQ(Decoder.FileName(), "");
  EXPECT_EQ(Decoder.FormatName(), "");
}

TEST_F(StreamInfoTest, VideoAndAudioRecordsOfAMatroskaFile) {
  Open("two_audio.mkv");
  TVideoStreamInfo video = Decoder.FirstVideoStreamInfo();
  EXPECT_EQ(video.Width, 320);
  EXPECT_EQ(video.Height, 240);
  EXPECT_EQ(video.PixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_DOUBLE_EQ(av_q2d(video.FrameRate), 25.0);
  EXPECT_EQ(video.CodecName, "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
  EXPECT_EQ(video.StartTimeScaled, video.StartTime * 1000);  // Matroska counts milliseconds

  TAudioStreamInfo first = Decoder.FirstAudioStreamInfo();
  EXPECT_EQ(first.SampleRate, 48000);
  EXPECT_EQ(first.Channels, 1);
  EXPECT_EQ(first.SampleFormat, AV_SAMPLE_FMT_FLTP);
  EXPECT_EQ(first.CodecName.rfind("aac(", 0), 0u) << first.CodecName;
  TAudioStreamInfo second = Decoder.GetAudioStreamInfos(2);
  EXPECT_EQ(second.SampleRate, 44100);

  Decoder.SetGetLongCodecName(false);
  EXPECT_EQ(Decoder.FirstVideoStreamInfo().CodecName, "h264");
  EXPECT_TRUE(Decoder.IsVideoStream(0));
  EXPECT_TRUE(Decoder.IsAudioStream(2));
  EXPECT_FALSE(Decoder.IsSubtitleStream(1));
  EXPECT_EQ(Decoder.FormatName(), "matroska,webm");
  EXPECT_EQ(Decoder.FormatLongName(), "Matroska / WebM");
  EXPECT_EQ(Decoder.FileName(), MediaFile("two_audio.mkv"));
}

TEST_F(StreamInfoTest, WrongIndexesAndTypesAreReported) {
  Open("two_audio.mkv");
  struct Case {
    std::function<bool()> call;  // true when the record came back empty
    std::string message;
  } cases[] = {
      {[&] { return Decoder.GetAudioStreamInfos(0).SampleRate == -1; },
       "stream #0 is not audio stream."},
      {[&] { return Decoder.GetVideoStreamInfos(1).Width == -1; },
       "stream #1 is not video stream."},
      {[&] { return Decoder.GetVideoStreamInfos(3).Width == -1; }, "stream index #3 is invalid."},
      {[&] { return Decoder.GetSubtitleStreamInfos(-1).SubFormat == -1; }, "no subtitle stream."},
      {[&] { return !Decoder.IsVideoStream(-1); }, "stream index #-1 is invalid."},
      {[&] { return Decoder.GetProgrames(0).id == -1; }, "no program found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_TRUE(c.call());
    EXPECT_EQ(Decoder.LastErrMsg(), c.message);
  }
  Open("audio.mp3");
  EXPECT_EQ(Decoder.FirstVideoStreamInfo().Width, -1);
  EXPECT_EQ(Decoder.LastErrMsg(), "no video stream.");
}

TEST_F(StreamInfoTest, FileRecordReadsTheTags) {
  Open("metadata.mkv");
  TFileStreamInfo info = Decoder.FileStreamInfo();
  EXPECT_EQ(info.Title, "Kiv Test Clip");
  EXPECT_EQ(info.Year, 2016);
  EXPECT_EQ(info.Track, 0);  // "3/12" is no whole number
  EXPECT_EQ(info.StartTime, 0);
  EXPECT_EQ(info.Duration, 2000000);
  Open("two_audio.mkv");
  info = Decoder.FileStreamInfo();
  EXPECT_EQ(info.Year, 0);
  EXPECT_EQ(info.Track, 0);
  EXPECT_EQ(info.Title, "");
}

TEST_F(StreamInfoTest, AspectRatios) {
  Open("sar.mkv");
  TVideoStreamInfo video = Decoder.FirstVideoStreamInfo();
  EXPECT_EQ(video.SAR.num, 16);
  EXPECT_EQ(video.SAR.den, 15);
  EXPECT_EQ(video.DAR.num, 4);
  EXPECT_EQ(video.DAR.den, 3);
  EXPECT_NEAR(video.DisplayAspectRatio, 4.0 / 3.0, 1e-5);
  EXPECT_NEAR(video.SampleAspectRatio, 16.0 / 15.0, 1e-5);

  // Unknown pixel shape: no display ratio.
  AVStream* stream = Decoder.FileHandle()->streams[0];
  stream->sample_aspect_ratio = {0, 1};
  stream->codecpar->sample_aspect_ratio = {0, 1};
  video = Decoder.FirstVideoStreamInfo();
  EXPECT_EQ(video.SampleAspectRatio, 0.0f);
  EXPECT_EQ(video.DAR.num, 0);
  EXPECT_EQ(video.DAR.den, 1);
  EXPECT_EQ(video.DisplayAspectRatio, -1.0f);
}

TEST_F(StreamInfoTest, TimesOfATransportStream) {
  Open("programs.ts");
  TVideoStreamInfo video = Decoder.FirstVideoStreamInfo();
  EXPECT_EQ(video.StartTime, 129600);  // 1.44 s in 1/90000
  EXPECT_EQ(video.StartTimeScaled, 1440000);
  TAVProgram program = Decoder.GetProgrames(0);
  EXPECT_EQ(program.id, 1);
  ASSERT_EQ(program.nb_stream_indexes, 2u);
  EXPECT_EQ(program.stream_index[0], 0u);
  EXPECT_EQ(program.stream_index[1], 1u);
  EXPECT_EQ(Decoder.GetProgrames(1).id, -1);
  EXPECT_EQ(Decoder.LastErrMsg(), "program index #1 is invalid.");
}

TEST_F(StreamInfoTest, MissingTimesAndBrokenTimeBases) {
  Open("two_audio.mkv");
  AVStream* stream = Decoder.FileHandle()->streams[0];
  stream->duration = AV_NOPTS_VALUE;
  stream->start_time = 10;
  stream->time_base = {1, 1};
  TVideoStreamInfo video = Decoder.FirstVideoStreamInfo();
  EXPECT_EQ(video.Duration, AV_NOPTS_VALUE);
  EXPECT_EQ(video.DurationScaled, -1);
  EXPECT_EQ(video.StartTimeScaled, 10000000);

  struct Case {
    AVRational broken, repaired;
  } cases[] = {{{0, 0}, {0, 1}}, {{25, 0}, {25, 25}}};
  for (const Case& c : cases) {
    stream->time_base = c.broken;
    Decoder.FirstVideoStreamInfo();
    EXPECT_EQ(stream->time_base.num, c.repaired.num);
    EXPECT_EQ(stream->time_base.den, c.repaired.den);
  }
}

}  // namespace
