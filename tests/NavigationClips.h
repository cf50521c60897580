// The clips of the exactness tests, one per container quirk: made by make-test-media, each
// with its framecrc reference.
#pragma once

namespace kivtest {

inline const char* const NavigationClips[] = {
    "nav_h264_pyramid.mp4",  // B-pyramid, edit list
    "nav_h264_24fps.mkv",    // millisecond time base at 24, 30 and 60 pictures per second
    "nav_h264_30fps.mkv",
    "nav_h264_60fps.mkv",
    "nav_vp9_altref.webm",    // hidden alternate reference frames
    "nav_h264.flv",           // millisecond time base
    "nav_mpeg2_program.ts",   // transport stream with a program table
    "nav_h264.ts",            // key frames decoded before they are shown
    "nav_mpeg4_bframes.avi",  // decoding times only
    "nav_h264_opengop.mkv",   // pictures shown before the key frame that precedes them
    "nav_hevc_opengop.mkv",
    "nav_h264_vfr.mkv",        // variable frame rate
    "nav_h264_late_start.ts",  // starts 1000 s in
    // The clips of the older exactness tests.
    "h264_bframes.mp4",
    "mpeg2.ts",
    "mjpeg.avi",
};

}  // namespace kivtest
