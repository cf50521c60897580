#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FrameCrc.h"
#include "KivDecode.h"
#include "LogCapture.h"
#include "TestSupport.h"

using namespace kiv;
using kivtest::MediaFile;

namespace {

// A decoder that shows whether it holds a filter graph.
class ProbeDecoder : public TKivDecoder {
 public:
  bool HasGraph() const { return Ffilter_graph != nullptr; }
  const std::string& GraphDescription() const { return Flast_vfilters; }
};

// A held YUV 4:2:0 picture, its three planes back to back.
struct Picture {
  int Width = 0, Height = 0;
  std::string Bytes;
  bool operator==(const Picture&) const = default;

  static Picture Of(const TFrameInfo& AInfo) {
    EXPECT_EQ(AInfo.PixFmt, AV_PIX_FMT_YUV420P);
    int size = av::av_image_get_buffer_size(AInfo.PixFmt, AInfo.Width, AInfo.Height, 1);
    return {AInfo.Width, AInfo.Height,
            std::string(reinterpret_cast<const char*>(AInfo.Buffer), size_t(size))};
  }
  // The same picture mirrored left to right, or upside down.
  Picture Flipped(bool AHorizontally) const {
    Picture out = *this;
    size_t offset = 0;
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane ? Width / 2 : Width, h = plane ? Height / 2 : Height;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int sx = AHorizontally ? w - 1 - x : x, sy = AHorizontally ? y : h - 1 - y;
          out.Bytes[offset + size_t(y * w + x)] = Bytes[offset + size_t(sy * w + sx)];
        }
      offset += size_t(w * h);
    }
    return out;
  }
};

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Decoder.LoadAVLib("")) << Decoder.LastErrMsg();
    Open();
    for (int i = 0; i < 6; ++i) {
      ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
      Unfiltered.push_back(Picture::Of(Decoder.FrameInfo()));
    }
    Open();
  }
  void Open(const std::string& AFile = "h264_bframes.mp4") {
    ASSERT_TRUE(Decoder.LoadFile(MediaFile(AFile))) << Decoder.LastErrMsg();
  }
  Picture Next() {
    EXPECT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
    return Picture::Of(Decoder.FrameInfo());
  }
  kivtest::LogCapture Log{llDebug};
  ProbeDecoder Decoder;
  std::vector<Picture> Unfiltered;  // the first pictures of the clip
};

TEST_F(FilterTest, EveryPicturePassesThroughTheGraph) {
  Decoder.SetVideoFilters("hflip");
  for (size_t i = 0; i < Unfiltered.size(); ++i)
    ASSERT_TRUE(Next() == Unfiltered[i].Flipped(true)) << "picture " << i;
  EXPECT_EQ(Decoder.GraphDescription(), "hflip");
}

TEST_F(FilterTest, TheGraphSetsSizeAndAspectAndKeepsTheDecodersPixelFormat) {
  struct Case {
    const char* file;
    const char* filters;
    int width, height;
    AVRational sar;
  } cases[] = {
      {"h264_bframes.mp4", "scale=160:120,hflip", 160, 120, {1, 1}},
      {"h264_bframes.mp4", "crop=100:80", 100, 80, {1, 1}},
      {"sar.mkv", "null", 720, 576, {16, 15}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filters);
    Open(c.file);
    Decoder.SetVideoFilters(c.filters);
    ASSERT_TRUE(Decoder.Decode(-1)) << Decoder.LastErrMsg();
    const TFrameInfo& info = Decoder.FrameInfo();
    EXPECT_EQ(info.Width, c.width);
    EXPECT_EQ(info.Height, c.height);
    EXPECT_EQ(info.PixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(info.Frame->sample_aspect_ratio.num, c.sar.num);
    EXPECT_EQ(info.Frame->sample_aspect_ratio.den, c.sar.den);
  }
  EXPECT_EQ(Log.Count(llError, "Error while configuring the filtergraph"), 0);
}

TEST_F(FilterTest, ABrokenDescriptionLogsEveryPictureAndDeliversItUnfiltered) {
  EXPECT_FALSE(Decoder.Decode(7));
  const std::string before = Decoder.LastErrMsg();
  Decoder.SetVideoFilters("nosuchfilter=1");
  for (size_t i = 0; i < 3; ++i) ASSERT_TRUE(Next() == Unfiltered[i]) << "picture " << i;
  EXPECT_EQ(Log.Count(llError, "Error while configuring the filtergraph"), 3);
  EXPECT_EQ(Decoder.LastErrMsg(), before);
}

TEST_F(FilterTest, AChangedDescriptionTakesEffectAtTheNextPicture) {
  Decoder.SetVideoFilters("hflip");
  EXPECT_TRUE(Next() == Unfiltered[0].Flipped(true));
  Decoder.SetVideoFilters("vflip");
  EXPECT_TRUE(Next() == Unfiltered[1].Flipped(false));
  EXPECT_EQ(Decoder.GraphDescription(), "vflip");
  Decoder.SetVideoFilters("");
  EXPECT_TRUE(Next() == Unfiltered[2]);
  EXPECT_FALSE(Decoder.HasGraph());
  EXPECT_EQ(Decoder.GraphDescription(), "");
  // Switched on again, the same description builds a graph anew.
  Decoder.SetVideoFilters("vflip");
  EXPECT_TRUE(Next() == Unfiltered[3].Flipped(false));
  // So it does after a description that failed.
  Decoder.SetVideoFilters("nosuchfilter");
  EXPECT_TRUE(Next() == Unfiltered[4]);
  EXPECT_EQ(Decoder.GraphDescription(), "");
  Decoder.SetVideoFilters("vflip");
  EXPECT_TRUE(Next() == Unfiltered[5].Flipped(false));
}

TEST_F(FilterTest, PicturesTheGraphHoldsBackMakeDecodeReadOn) {
  Decoder.SetVideoFilters("select='not(mod(n\\,2))'");  // every other picture
  for (size_t i = 0; i < Unfiltered.size(); i += 2)
    ASSERT_TRUE(Next() == Unfiltered[i]) << "picture " << i;

  // A seek drops the graph; the next picture builds a new one, which counts from 0 again.
  ASSERT_TRUE(Decoder.Seek(0));
  EXPECT_FALSE(Decoder.HasGraph());
  EXPECT_EQ(Decoder.GraphDescription(), "");
  EXPECT_TRUE(Next() == Unfiltered[0]);
  EXPECT_TRUE(Next() == Unfiltered[2]);
  EXPECT_TRUE(Decoder.HasGraph());

  Decoder.CloseFile();
  EXPECT_FALSE(Decoder.HasGraph());
}

// A graph that gives nothing back before the end of its input ("reverse") still delivers
// every picture, one per call, after the decoder is drained.
TEST_F(FilterTest, TheGraphIsDrainedAtTheEndOfTheInput) {
  Decoder.SetVideoFilters("reverse");
  std::vector<Picture> delivered;
  while (Decoder.Decode(-1)) delivered.push_back(Picture::Of(Decoder.FrameInfo()));
  EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.Decode() for video: stream eof reached.");
  ASSERT_EQ(delivered.size(), 50u);  // two seconds at 25 pictures a second
  for (size_t i = 0; i < Unfiltered.size(); ++i)
    EXPECT_TRUE(delivered[delivered.size() - 1 - i] == Unfiltered[i]) << "picture " << i;
}

// Filters that change the rate, reorder the pictures or add some at the end give what the
// ffmpeg tool gives, picture by picture, up to the last one the end of the input still makes.
TEST_F(FilterTest, RateChangingAndReorderingFiltersMatchTheFfmpegTool) {
  struct Case {
    const char* filters;
    const char* reference;
  } cases[] = {
      {"fps=60", "fps_60"},
      {"fps=20", "fps_20"},
      {"framerate=fps=50", "framerate_fps_50"},
      {"reverse", "reverse"},
      {"tpad=stop=3:stop_mode=clone", "tpad_stop_3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filters);
    const kivtest::Reference ref = kivtest::ReadReference("h264_30fps.mp4", c.reference);
    ASSERT_FALSE(ref.Checksums.empty());
    Open("h264_30fps.mp4");
    Decoder.SetVideoFilters(c.filters);
    std::vector<uint32_t> delivered;
    while (Decoder.Decode(-1)) delivered.push_back(kivtest::HeldChecksum(Decoder.FrameInfo()));
    EXPECT_EQ(Decoder.LastErrMsg(), "TKivDecoder.Decode() for video: stream eof reached.");
    EXPECT_EQ(delivered.size(), ref.Checksums.size());
    for (size_t i = 0; i < std::min(delivered.size(), ref.Checksums.size()); ++i)
      ASSERT_EQ(delivered[i], ref.Checksums[i]) << "picture " << i;
  }
}

}  // namespace
