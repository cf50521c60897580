// A decoder on frame threads hands out the same pictures as one on one thread, and tells for
// each picture the packet that one thread would have reported as completing it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "FrameCrc.h"
#include "KivDecode.h"
#include "KivPictureCache.h"
#include "KivStreamDecoder.h"
#include "NavigationClips.h"
#include "TestSupport.h"

using namespace kiv;

namespace {

struct TDecodedPicture {
  int64_t Time = AV_NOPTS_VALUE;  // best_effort_timestamp
  uint32_t Checksum = 0;
  bool StampKnown = false;
  TPictureStamp Stamp;
};

uint32_t ChecksumOf(const AVFrame* AFrame) {
  const AVPixelFormat format = AVPixelFormat(AFrame->format);
  const int size = av::av_image_get_buffer_size(format, AFrame->width, AFrame->height, 1);
  std::vector<uint8_t> packed(size_t(size > 0 ? size : 0));
  uint8_t* planes[4];
  int linesizes[4];
  av::av_image_fill_arrays(planes, linesizes, packed.data(), format, AFrame->width, AFrame->height,
                           1);
  av::av_image_copy(planes, linesizes, const_cast<const uint8_t**>(AFrame->data), AFrame->linesize,
                    format, AFrame->width, AFrame->height);
  return kivtest::Adler32(packed.data(), packed.size());
}

// Every picture of the clip's first video stream, decoded on AThreads (AThreadCount threads
// where that is more than one).
std::vector<TDecodedPicture> DecodeAll(const std::string& AClip, TDecoderThreads AThreads,
                                       int AThreadCount) {
  AVFormatContext* opened = nullptr;
  EXPECT_GE(av::avformat_open_input(&opened, kivtest::MediaFile(AClip).c_str(), nullptr, nullptr),
            0);
  TFormatContextPtr input(opened);
  if (!input || av::avformat_find_stream_info(input.get(), nullptr) < 0) return {};
  const int index = av::av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  EXPECT_GE(index, 0);
  if (index < 0) return {};

  TKivStreamDecoder decoder;
  const std::string failure = decoder.Open(
      input.get(), index,
      [&](const AVCodec*) {
        AVDictionary* options = nullptr;
        if (AThreadCount > 1)
          av::av_dict_set(&options, "threads", std::to_string(AThreadCount).c_str(), 0);
        return options;
      },
      AThreads);
  EXPECT_EQ(failure, "");
  if (!failure.empty()) return {};
  // Frame threads wherever the codec has them (MPEG-2 and Motion JPEG decode on one).
  if (AThreads == TDecoderThreads::Frames) {
    const bool can = decoder.Context()->codec->capabilities & AV_CODEC_CAP_FRAME_THREADS;
    EXPECT_EQ(decoder.Context()->active_thread_type, can ? FF_THREAD_FRAME : 0);
  }

  std::vector<TDecodedPicture> pictures;
  TPacketPtr packet(av::av_packet_alloc());
  TFramePtr frame(av::av_frame_alloc());
  const AVStream* stream = input->streams[index];
  auto receiveAll = [&] {
    while (decoder.Receive(frame.get()) >= 0) {
      TDecodedPicture picture;
      picture.Time = frame->best_effort_timestamp;
      picture.Checksum = ChecksumOf(frame.get());
      TCompletion completion;
      picture.StampKnown = decoder.Completion(completion);
      if (picture.StampKnown)
        picture.Stamp =
            StampPicture(frame.get(), completion.Packet, completion.FirstFromPacket, stream);
      pictures.push_back(picture);
      av::av_frame_unref(frame.get());
    }
  };
  while (av::av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) {
      EXPECT_GE(decoder.Send(packet.get()), 0);
      receiveAll();
    }
    av::av_packet_unref(packet.get());
  }
  decoder.Send(nullptr);
  receiveAll();
  return pictures;
}

class StreamDecoderTest : public ::testing::TestWithParam<std::tuple<const char*, int>> {
 protected:
  void SetUp() override { ASSERT_TRUE(Loader.LoadAVLib("")) << Loader.LastErrMsg(); }
  TKivDecoder Loader{nullptr};
};

TEST_P(StreamDecoderTest, FrameThreadsGiveThePicturesAndStampsOfOneThread) {
  if (!FrameThreadsInUse) GTEST_SKIP() << "frame threads are off in this build";
  const auto [clip, threads] = GetParam();
  const std::vector<TDecodedPicture> one = DecodeAll(clip, TDecoderThreads::One, 1);
  const std::vector<TDecodedPicture> many = DecodeAll(clip, TDecoderThreads::Frames, threads);
  ASSERT_FALSE(one.empty());
  ASSERT_EQ(many.size(), one.size());
  size_t known = 0;
  for (size_t i = 0; i < one.size(); ++i) {
    SCOPED_TRACE("picture " + std::to_string(i));
    ASSERT_TRUE(one[i].StampKnown);
    EXPECT_EQ(many[i].Time, one[i].Time);
    EXPECT_EQ(many[i].Checksum, one[i].Checksum);
    if (!many[i].StampKnown) continue;
    ++known;
    EXPECT_EQ(many[i].Stamp.PTS, one[i].Stamp.PTS);
    EXPECT_EQ(many[i].Stamp.OriginalDTS, one[i].Stamp.OriginalDTS);
    EXPECT_EQ(many[i].Stamp.OriginalPTS, one[i].Stamp.OriginalPTS);
    EXPECT_EQ(many[i].Stamp.StreamIndex, one[i].Stamp.StreamIndex);
    EXPECT_EQ(many[i].Stamp.Position, one[i].Stamp.Position);
  }
  // Every packet of these clips has a decoding time of its own.
  EXPECT_EQ(known, one.size());
}

INSTANTIATE_TEST_SUITE_P(Clips, StreamDecoderTest,
                         ::testing::Combine(::testing::ValuesIn(kivtest::NavigationClips),
                                            ::testing::Values(2, 5)),
                         [](const auto& AInfo) {
                           std::string name = std::string(std::get<0>(AInfo.param)) + "_on_" +
                                              std::to_string(std::get<1>(AInfo.param)) + "_threads";
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !isalnum(c); }, '_');
                           return name;
                         });

}  // namespace
