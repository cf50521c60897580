// Replays every input that fuzzing once found to crash, hang or leak: each must now go
// through the decoder cleanly, and the decoder must still open a good file afterwards.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "fuzz/DecoderDriver.h"

using namespace kiv;

TEST(FuzzRegressions, EveryKeptInputGoesThroughCleanly) {
  TKivDecoder decoder;
  ASSERT_TRUE(decoder.LoadAVLib(""));
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KIV_FUZZ_REGRESSIONS_DIR)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().string());
    kivfuzz::DriveDecoder(decoder, entry.path().string());
    ++inputs;
  }
  ASSERT_TRUE(decoder.LoadFile(kivtest::MediaFile("h264_bframes.mp4"))) << decoder.LastErrMsg();
  EXPECT_TRUE(decoder.Decode(-1));
  RecordProperty("inputs", inputs);
}
