#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "KivDecode.h"
#include "LogCapture.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::MediaFile;

namespace {

// What the ffmpeg tool decodes from a clip as 44100 Hz s16 stereo, in bytes.
int64_t ReferenceBytes(const std::string& AClip) {
  std::ifstream in(MediaFile(AClip + ".s16size"));
  int64_t size = -1;
  in >> size;
  return size;
}

// How many pictures the ffmpeg tool decodes from a clip.
int ReferencePictures(const std::string& AClip) {
  std::ifstream in(MediaFile(AClip + ".framecrc"));
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') ++count;
  return count;
}

// The sample bytes of a WAV file's data chunk.
std::string WavData(const std::string& AClip) {
  std::ifstream in(MediaFile(AClip), std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = file.find("data", 12);
  if (at == std::string::npos) return {};
  uint32_t size;
  std::memcpy(&size, file.data() + at + 4, 4);
  return file.substr(at + 8, size);
}

// Records the room and the input of every conversion while it lives.
struct ConvertSpy {
  struct Call {
    int OutCount, InCount;
  };
  ConvertSpy() {
    Real = av::swr_convert;
    Calls.clear();
    av::swr_convert = &Spy;
  }
  ~ConvertSpy() { av::swr_convert = Real; }
  static int Spy(SwrContext* s, uint8_t** out, int out_count, const uint8_t** in, int in_count) {
    Calls.push_back({out_count, in_count});
    return Real(s, out, out_count, in, in_count);
  }
  static inline decltype(av::swr_convert) Real = nullptr;
  static inline std::vector<Call> Calls;
};

class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg(); }
  void Open(const std::string& AFile) {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(AFile))) << Decoder.LastErrMsg();
  }
  // Every block DecodeAudio delivers until the stream ends, one after the other.
  std::string DecodeAll() {
    std::string all;
    while (Decoder.DecodeAudio(-1)) {
      const TWaveInfo& w = Decoder.WaveInfo();
      EXPECT_TRUE(w.Ready);
      all.append(reinterpret_cast<const char*>(w.Buffer), size_t(w.Size));
    }
    return all;
  }
  int Lines(const std::string& AStart) {
    int n = 0;
    for (const auto& e : Log.Entries())
      if (e.Text.rfind(AStart, 0) == 0) ++n;
    return n;
  }
  kivtest::LogCapture Log{llDebug};
  TKivDecoder Decoder;
};

TEST_F(AudioTest, AnOpenFileDescribesTheOutputFormat) {
  Open("stereo44k.wav");
  const TWaveInfo& w = Decoder.WaveInfo();
  EXPECT_EQ(w.Channels, 2);
  EXPECT_EQ(w.SampleRate, 44100);
  EXPECT_EQ(w.SampleFormat, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(w.BytesPerSample, 2);
  EXPECT_EQ(w.BytesPerSecond, 176400);
  EXPECT_FALSE(w.Ready);
  EXPECT_EQ(w.Duration, AV_NOPTS_VALUE);
}

TEST_F(AudioTest, PlanarFloatAt48000IsResampledWithRoomForTheFrameAndTheFilter) {
  Open("tone48k.m4a");
  ConvertSpy spy;
  const std::string all = DecodeAll();
  EXPECT_EQ(Log.Count(llInfo, "need resample 48000 Hz fltp 2 channels to 44100 Hz s16 2 channels"),
            1);
  int fullFrames = 0;
  for (const auto& call : ConvertSpy::Calls) {
    if (call.InCount == 0) continue;  // the drain at the end
    EXPECT_EQ(call.OutCount, int64_t(call.InCount) * 44100 / 48000 + 256);
    if (call.InCount == 1024) ++fullFrames;
  }
  EXPECT_GT(fullFrames, 0);
  // Nothing is lost at the end: the decoder's and the resampler's last samples come too.
  EXPECT_EQ(int64_t(all.size()), ReferenceBytes("tone48k.m4a"));
  EXPECT_TRUE(Decoder.Eof());
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.DecodeAudio(): stream eof reached.");
  EXPECT_FALSE(Decoder.DecodeAudio(-1));
}

TEST_F(AudioTest, AudioInTheOutputFormatIsCopiedUnchanged) {
  Open("stereo44k.wav");
  ConvertSpy spy;
  const std::string all = DecodeAll();
  EXPECT_EQ(Lines("need resample"), 0);
  EXPECT_TRUE(ConvertSpy::Calls.empty());
  EXPECT_EQ(int64_t(all.size()), ReferenceBytes("stereo44k.wav"));
  EXPECT_TRUE(all == WavData("stereo44k.wav"));
}

TEST_F(AudioTest, OneOutputChannelMixesDownToMono) {
  Open("stereo44k.wav");
  ASSERT_TRUE(Decoder.DecodeAudio(-1));
  const TWaveInfo stereo = Decoder.WaveInfo();
  std::vector<int16_t> left(size_t(stereo.Size / 4));
  for (size_t i = 0; i < left.size(); ++i) std::memcpy(&left[i], stereo.Buffer + 4 * i, 2);
  EXPECT_EQ(stereo.Duration, std::llrint(stereo.Size * 1e6 / 4 / 44100));

  Decoder.SetDesireAudioChannels(2);  // unchanged: the block stays
  EXPECT_TRUE(Decoder.WaveInfo().Ready);
  Decoder.SetDesireAudioChannels(1);
  EXPECT_FALSE(Decoder.WaveInfo().Ready);
  EXPECT_EQ(Decoder.WaveInfo().Channels, 1);
  EXPECT_EQ(Decoder.WaveInfo().BytesPerSecond, 88200);

  ASSERT_TRUE(Decoder.Seek(0));
  ASSERT_TRUE(Decoder.DecodeAudio(-1));
  EXPECT_EQ(Log.Count(llInfo, "need resample 44100 Hz s16 2 channels to 44100 Hz s16 1 channels"),
            1);
  const TWaveInfo& mono = Decoder.WaveInfo();
  EXPECT_EQ(mono.Channels, 1);
  ASSERT_EQ(mono.Size, stereo.Size / 2);
  // Both channels carry the same tone, so the mix is that tone.
  for (size_t i = 0; i < left.size(); ++i) {
    int16_t sample;
    std::memcpy(&sample, mono.Buffer + 2 * i, 2);
    ASSERT_NEAR(sample, left[i], 1) << "sample " << i;
  }
}

TEST_F(AudioTest, AFormatChangeInTheStreamIsLoggedOnceAndDecodingGoesOn) {
  Open("rate_change.aac");
  const std::string all = DecodeAll();
  EXPECT_EQ(Lines("Audio stream #"), 1);
  EXPECT_EQ(Log.Count(llInfo,
                      "Audio stream #0 frame changed from 44100 Hz fltp 2 channels to 48000 Hz "
                      "fltp 2 channels"),
            1);
  EXPECT_EQ(Log.Count(llInfo, "need resample 44100 Hz fltp 2 channels to 44100 Hz s16 2 channels"),
            1);
  EXPECT_EQ(Log.Count(llInfo, "need resample 48000 Hz fltp 2 channels to 44100 Hz s16 2 channels"),
            1);
  // Two seconds of 44100 Hz stereo, give or take the codec's frame edges.
  EXPECT_NEAR(double(all.size()), 2 * 176400.0, 176400 * 0.1);
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.DecodeAudio(): stream eof reached.");
}

TEST_F(AudioTest, ReadAudioHandsOutABlockInPiecesBeforeDecodingTheNext) {
  Open("stereo44k.wav");
  std::vector<uint8_t> piece(5000);
  ASSERT_EQ(Decoder.ReadAudio(nullptr, 1000), 1000);  // looks without consuming
  ASSERT_EQ(Decoder.ReadAudio(piece.data(), -5), 0);
  ASSERT_EQ(Decoder.WaveInfo().Size, 4096);
  const std::string block(reinterpret_cast<const char*>(Decoder.WaveInfo().Buffer), 4096);
  std::string read;
  for (int expected : {1000, 1000, 1000, 1000, 96}) {
    ASSERT_EQ(Decoder.ReadAudio(piece.data(), 1000), expected);
    read.append(reinterpret_cast<const char*>(piece.data()), size_t(expected));
  }
  EXPECT_TRUE(read == block);
  EXPECT_EQ(Decoder.WaveInfo().OriginalPTS, 0);
  ASSERT_EQ(Decoder.ReadAudio(piece.data(), 1000), 1000);
  EXPECT_EQ(Decoder.WaveInfo().OriginalPTS, 1024);  // the next block

  // A seek drops the rest of the block.
  ASSERT_TRUE(Decoder.Seek(0));
  ASSERT_EQ(Decoder.ReadAudio(piece.data(), 5000), 4096);
  EXPECT_EQ(Decoder.WaveInfo().PTS, 0);

  int64_t total = 4096;
  for (int n; (n = Decoder.ReadAudio(piece.data(), 1000)) > 0;) total += n;
  EXPECT_EQ(total, ReferenceBytes("stereo44k.wav"));
  EXPECT_EQ(Decoder.ReadAudio(piece.data(), 1000), -1);
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.DecodeAudio(): stream eof reached.");
}

TEST_F(AudioTest, StreamSelectionFailures) {
  struct Case {
    const char* file;
    int index;
    std::string message;
  } cases[] = {
      {"mjpeg.avi", -1, "no audio stream."},
      {"two_audio.mkv", 0, "stream #0 is not audio stream."},
      {"two_audio.mkv", 7, "stream index #7 is invalid."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Open(c.file);
    EXPECT_FALSE(Decoder.DecodeAudio(c.index));
    EXPECT_EQ(Decoder.LastErrMsg(), c.message);
    EXPECT_EQ(Decoder.ReadAudio(nullptr, 10, c.index), -1);
  }
  Decoder.CloseFile();
  EXPECT_FALSE(Decoder.DecodeAudio(-1));
  EXPECT_EQ(Decoder.LastErrMsg(), "file not loaded.");
}

// Decoding by type delivers every picture and every sample up to the end, whichever
// decoders the call uses, and only then ends the stream.
TEST_F(AudioTest, DecodingByTypeDrainsEveryDecoderItUses) {
  struct Case {
    const char* file;
    TDecodeType type;
    bool video, audio;
  } cases[] = {
      {"tone48k.m4a", dtAudio, false, true},
      {"h264_bframes.mp4", dtAudio, false, true},
      {"h264_bframes.mp4", dtVideo, true, false},
      {"h264_bframes.mp4", dtBoth, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " type " + std::to_string(int(c.type)));
    Open(c.file);
    int pictures = 0;
    int64_t bytes = 0;
    for (TDecodeResult r; (r = Decoder.Decode(c.type)) != drError;) {
      if (r == drVideo) {
        ++pictures;
        EXPECT_TRUE(Decoder.FrameInfo().Ready);
      } else {
        bytes += Decoder.WaveInfo().Size;
      }
    }
    EXPECT_EQ(Decoder.LastErrMsg(),
              "TKivDecoder.Decode() for video and/or audio: stream eof reached.");
    EXPECT_TRUE(Decoder.Eof());
    EXPECT_EQ(pictures, c.video ? ReferencePictures(c.file) : 0);
    EXPECT_EQ(bytes, c.audio ? ReferenceBytes(c.file) : 0);
    EXPECT_EQ(Decoder.Decode(c.type), drError);
  }
}

TEST_F(AudioTest, BothTypesOnAFileWithoutVideoDeliverAudio) {
  Open("audio.mp3");
  EXPECT_EQ(Decoder.Decode(dtBoth), drAudio);
  EXPECT_EQ(Decoder.LastErrMsg(), "no video stream.");
  EXPECT_EQ(Decoder.Decode(dtVideo), drError);
}

}  // namespace
