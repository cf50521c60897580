#include "FrameStatus.h"

#include <gtest/gtest.h>

using namespace framebrowser;

namespace {

TEST(FrameStatusTest, CountsTheExactNumberOrMarksTheEstimate) {
  struct {
    const char* Name;
    int64_t Number, Count, Estimate;
    const char* Text;
  } const cases[] = {
      {"exact count", 2, 50, 49, "Frame 2 of 50"},
      {"estimate only", 2, -1, 49, "Frame 2 of ~49"},
      {"exact count of none", 0, 0, 3, "Frame 0 of 0"},
      {"neither", 7, -1, 0, "Frame 7"},
      {"unknown number", -1, 50, 0, "Frame ? of 50"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FrameCountText(c.Number, c.Count, c.Estimate), c.Text) << c.Name;
}

TEST(FrameStatusTest, NamesEveryPictureTypeByOneLetter) {
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_I), 'I');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_P), 'P');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_B), 'B');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_S), 'S');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_SI), 'i');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_SP), 'p');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_BI), 'b');
  EXPECT_EQ(PictureTypeLetter(AV_PICTURE_TYPE_NONE), '?');
}

TEST(FrameStatusTest, TellsTheTimeToTheStreamsOwnPrecision) {
  struct {
    const char* Name;
    int64_t PTS;
    AVRational TimeBase;
    const char* Text;
  } const cases[] = {
      {"MP4 at 1/12800", 80000, {1, 12800}, "00:00:00.08000"},
      {"MPEG-TS at 1/90000", 40000, {1, 90000}, "00:00:00.04000"},
      {"one tick of 1/90000 shows", 11, {1, 90000}, "00:00:00.00001"},
      {"Matroska at 1/1000", 3723004000, {1, 1000}, "01:02:03.004"},
      {"NTSC frame ticks", 33366667, {1001, 30000}, "00:00:33.36"},
      {"whole seconds", 7000000, {1, 1}, "00:00:07"},
      {"finer than a microsecond", 1, {1, 1000000000}, "00:00:00.000001000"},
      {"before the start", -80000, {1, 12800}, "-00:00:00.08000"},
      {"hundreds of hours", int64_t(400) * 3600 * 1000000, {1, 1000}, "400:00:00.000"},
      {"missing time", AV_NOPTS_VALUE, {1, 1000}, ""},
      {"no time base", 5, {0, 1}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StreamTimeText(c.PTS, c.TimeBase), c.Text) << c.Name;
  EXPECT_EQ(TimeBaseDecimals({1, 1000000000}), 9);
  EXPECT_EQ(TimeBaseDecimals({1, 2000000000}), 9) << "at most nine decimals";
}

TEST(FrameStatusTest, TheStatusLineJoinsNumberTypeKeyMarkAndTime) {
  TFrameStatus status;
  status.Number = 12;
  status.Count = 50;
  status.PictureType = AV_PICTURE_TYPE_I;
  status.IsKeyFrame = true;
  status.PTS = 480000;
  status.TimeBase = {1, 12800};
  EXPECT_EQ(FrameStatusText(status), "Frame 12 of 50  |  I  key frame  |  00:00:00.48000");
  status.Number = 13;
  status.Count = -1;
  status.Estimate = 50;
  status.PictureType = AV_PICTURE_TYPE_B;
  status.IsKeyFrame = false;
  status.PTS = AV_NOPTS_VALUE;
  EXPECT_EQ(FrameStatusText(status), "Frame 13 of ~50  |  B");
}

TEST(FrameStatusTest, TheCaptionNamesTheOpenFile) {
  EXPECT_EQ(WindowCaption("Demo", "/media/clips/a b.mp4"), "a b.mp4 - Demo");
  EXPECT_EQ(WindowCaption("Demo", "plain.mkv"), "plain.mkv - Demo");
  EXPECT_EQ(WindowCaption("Demo", ""), "Demo");
}

}  // namespace
