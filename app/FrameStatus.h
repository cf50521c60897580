// The texts of the window's status line and caption: which picture is on show (its number and
// the picture count, its type, whether it is a key frame, its time to the stream's own
// precision) and which file is open. Free of widgets so that tests can call them.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
}

namespace framebrowser {

// What the status line says about the picture on show.
struct TFrameStatus {
  int64_t Number = -1;   // from 0 in presentation order; -1 when not known
  int64_t Count = -1;    // the exact number of pictures; -1 until known
  int64_t Estimate = 0;  // the estimate from duration and frame rate; 0 when there is none
  AVPictureType PictureType = AV_PICTURE_TYPE_NONE;
  bool IsKeyFrame = false;
  int64_t PTS = AV_NOPTS_VALUE;  // microseconds from the stream's start
  AVRational TimeBase{0, 1};     // the stream's, for the precision of the time
};

// "Frame 2 of 50" with the exact count, "Frame 2 of ~50" with the estimate, "Frame 2" with
// neither; "?" stands for an unknown number.
std::string FrameCountText(int64_t ANumber, int64_t ACount, int64_t AEstimate);

// The one-letter name of a picture type: I, P, B, S, i (SI), p (SP), b (BI), ? otherwise.
char PictureTypeLetter(AVPictureType AType);

// Decimals a time in ATimeBase needs to tell its ticks apart: 5 for 1/12800 or 1/90000, 3 for
// 1/1000, 2 for 1/25 or 1001/30000; 0 to 9.
int TimeBaseDecimals(AVRational ATimeBase);

// "hh:mm:ss.fffff" of a time in microseconds, told in whole ticks of ATimeBase (the nearest
// tick: the microseconds were rounded from ticks) with TimeBaseDecimals decimals, truncated
// toward zero, "-" in front of a negative time; empty for a missing time or an unusable time
// base.
std::string StreamTimeText(int64_t APTS, AVRational ATimeBase);

// The whole status text: "Frame 12 of 50  |  I  key frame  |  00:00:00.48000".
std::string FrameStatusText(const TFrameStatus& AStatus);

// The window caption with the open file's name in front of it ("clip.mp4 - caption"), or the
// caption alone when no file is open.
std::string WindowCaption(const std::string& ACaption, const std::string& AFileName);

}  // namespace framebrowser
