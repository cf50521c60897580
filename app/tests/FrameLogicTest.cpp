#include "FrameLogic.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace framebrowser;

namespace {

struct PTSCase {
  const char* Name;
  int64_t PTS;
  const char* Text;
};

TEST(FormatPTSTest, TruncatesEachPartTowardZero) {
  const PTSCase cases[] = {
      {"zero", 0, "00:00:00.000"},
      {"every part", 3723004000, "01:02:03.004"},
      {"never rounds up", 1999999, "00:00:01.999"},
      {"below a millisecond", 999, "00:00:00.000"},
      {"a day and more", 360000000000, "100:00:00.000"},
      {"negative parts", -1500000, "00:00:-01.-500"},
  };
  for (const PTSCase& c : cases) EXPECT_EQ(FormatPTS(c.PTS), c.Text) << c.Name;
}

struct FitCase {
  const char* Name;
  kiv::TRect Source, Target, Expected;
};

TEST(FitRectTest, FillsOneSideAndCentresTheOther) {
  const FitCase cases[] = {
      {"wide picture: margin 24.5 rounds to even 24",
       {0, 0, 640, 480},
       {0, 0, 340, 304},
       {0, 24, 340, 280}},
      {"tall picture fills the height", {0, 0, 100, 400}, {0, 0, 340, 304}, {132, 0, 208, 304}},
      {"same shape fills all", {0, 0, 680, 608}, {0, 0, 340, 304}, {0, 0, 340, 304}},
      {"small picture is scaled up", {0, 0, 32, 18}, {0, 0, 320, 320}, {0, 70, 320, 250}},
      {"target away from the origin", {0, 0, 200, 100}, {10, 20, 110, 120}, {10, 45, 110, 95}},
      {"empty target", {0, 0, 640, 480}, {5, 5, 5, 5}, {5, 5, 5, 5}},
      {"empty source", {0, 0, 0, 0}, {0, 0, 340, 304}, {0, 0, 0, 0}},
  };
  for (const FitCase& c : cases) EXPECT_EQ(FitRect(c.Source, c.Target), c.Expected) << c.Name;
}

struct TrackBarCase {
  const char* Name;
  int Position, Max, Frames;
  TTrackBarSetup Expected;
};

TEST(UpdatedTrackBarTest, FollowsTheFrameEstimate) {
  const TrackBarCase cases[] = {
      {"no estimate keeps the maximum", 100, 250, 0, {250, 25, 12, 100}},
      {"250 frames", 0, 10, 250, {250, 25, 12, 0}},
      {"50 frames", 0, 10, 50, {50, 5, 5, 0}},
      {"7 frames", 0, 10, 7, {7, 1, 2, 0}},
      {"10 frames", 0, 10, 10, {10, 1, 5, 0}},
      {"100 frames", 0, 10, 100, {100, 10, 5, 0}},
      {"the position keeps its share", 5, 10, 250, {250, 25, 12, 125}},
      {"share rounds to even", 1, 4, 10, {10, 1, 5, 2}},
      {"no range gives position 0", 0, 0, 0, {0, 1, 2, 0}},
  };
  for (const TrackBarCase& c : cases)
    EXPECT_EQ(UpdatedTrackBar(c.Position, c.Max, c.Frames), c.Expected) << c.Name;
}

TEST(SliderTimeTest, PositionsAndTimesConvertBothWays) {
  EXPECT_EQ(SliderPositionOf(40000, 2000000, 50), 1);
  EXPECT_EQ(SliderPositionOf(1000000, 2000000, 50), 25);
  EXPECT_EQ(SliderPositionOf(3000000, 2000000, 50), 50) << "never beyond the maximum";
  EXPECT_EQ(SliderPositionOf(20000, 2000000, 50), 0) << "half a step rounds to even";
  EXPECT_EQ(SliderPositionOf(60000, 2000000, 50), 2) << "one and a half steps round to even";
  // A product that needs 64 bits.
  EXPECT_EQ(SliderPositionOf(INT64_C(3600000000000), INT64_C(7200000000000), 50000), 25000);
  EXPECT_EQ(SliderPositionOf(1000, 0, 50), 0) << "no duration";

  EXPECT_EQ(SliderTargetTime(25, 50, 2000000), 1000000);
  EXPECT_EQ(SliderTargetTime(1, 3, 1000000), 333333);
  EXPECT_EQ(SliderTargetTime(5, 0, 1000000), 0) << "no range";
}

TEST(EstimateFrameCountTest, RoundsDurationTimesRate) {
  EXPECT_EQ(EstimateFrameCount(2000000, {25, 1}), 50);
  EXPECT_EQ(EstimateFrameCount(10000000, {30000, 1001}), 300);
  EXPECT_EQ(EstimateFrameCount(2500000, {1, 1}), 2) << "2.5 rounds to even";
  EXPECT_EQ(EstimateFrameCount(1500000, {1, 1}), 2) << "1.5 rounds to even";
  EXPECT_EQ(EstimateFrameCount(2000000, {25, 0}), 0) << "no denominator";
}

TEST(QtDialogFilterTest, TurnsPairsIntoQtFilters) {
  EXPECT_EQ(QtDialogFilter("Picture Files|*.BMP;*.GIF;|All Files|*.*"),
            "Picture Files (*.BMP *.GIF);;All Files (*)");
  EXPECT_EQ(QtDialogFilter("Bitmaps (*.bmp)|*.bmp|JPEG Image File |*.jpg;*.jpeg"),
            "Bitmaps (*.bmp);;JPEG Image File (*.jpg *.jpeg)");
}

TEST(WebAddressTest, QueryNamesTheProgramOrTheBox) {
  EXPECT_EQ(WebSiteUrl("https://Kiv.example.org", "/opt/kiv/Frame [Browser] 2.bin"),
            "https://kiv.example.org/?from=exe_frame_browser_2");
  EXPECT_EQ(WebSiteUrl("https://kiv.example.org", "/usr/bin/framebrowser"),
            "https://kiv.example.org/?from=exe_framebrowser");
  EXPECT_EQ(AboutLinkUrl("https://kiv.example.org", "About KivDecoder"),
            "https://kiv.example.org/?from=qev_about_kivdecoder");
}

TEST(TrimTextTest, RemovesBlanksAndLineBreaksAtBothEnds) {
  EXPECT_EQ(TrimText("\r\n  a\r\nb \r\n"), "a\r\nb");
  EXPECT_EQ(TrimText(" \t\r\n"), "");
}

TEST(FrameLogicTest, DisplayBoundsWidenOrNarrowNonSquarePixels) {
  struct {
    const char* Name;
    int Width, Height;
    AVRational SampleAspect;
    kiv::TRect Bounds;
  } const cases[] = {
      {"16:9 anamorphic PAL", 720, 576, {64, 45}, {0, 0, 1024, 576}},
      {"4:3 PAL", 720, 576, {16, 15}, {0, 0, 768, 576}},
      {"narrow pixels", 720, 480, {8, 9}, {0, 0, 640, 480}},
      {"square pixels", 320, 240, {1, 1}, {0, 0, 320, 240}},
      {"no ratio known", 320, 240, {0, 1}, {0, 0, 320, 240}},
      {"a broken ratio", 320, 240, {1, 0}, {0, 0, 320, 240}},
      {"a tiny ratio keeps a pixel", 2, 2, {1, 1000}, {0, 0, 1, 2}},
  };
  for (const auto& c : cases) {
    const kiv::TRect r = DisplayBounds(c.Width, c.Height, c.SampleAspect);
    EXPECT_EQ(std::vector<int>({r.Left, r.Top, r.Right, r.Bottom}),
              std::vector<int>({c.Bounds.Left, c.Bounds.Top, c.Bounds.Right, c.Bounds.Bottom}))
        << c.Name;
  }
}

}  // namespace
