// Replays every input that fuzzing once found to crash, hang or leak: each must now go
// through the decoder cleanly, and the decoder must still open a good file afterwards.
// Inputs in the folder's root are files as they are (found before inputs carried settings);
// those in with-settings/ end in the settings bytes the fuzz target reads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "TestSupport.h"
#include "fuzz/DecoderDriver.h"

using namespace kiv;

namespace {

// Applies an input's settings to the decoder and leaves its file part in AFile.
void SplitInput(TKivDecoder& ADecoder, const std::filesystem::path& AInput,
                const std::string& AFile) {
  std::ifstream in(AInput, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t fileSize =
      kivfuzz::ApplySettings(ADecoder, reinterpret_cast<const uint8_t*>(data.data()), data.size());
  std::ofstream(AFile, std::ios::binary).write(data.data(), std::streamsize(fileSize));
}

}  // namespace

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
  kivtest::TempDir dir;
  const std::string file = dir.File("input.bin");
  for (const auto& entry :
       std::filesystem::directory_iterator(KIV_FUZZ_REGRESSIONS_DIR "/with-settings")) {
    SCOPED_TRACE(entry.path().string());
    TKivDecoder fresh;  // settings do not carry over to the next input
    SplitInput(fresh, entry.path(), file);
    kivfuzz::DriveDecoder(fresh, file);
    ++inputs;
  }
  ASSERT_TRUE(decoder.LoadFile(kivtest::MediaFile("h264_bframes.mp4"))) << decoder.LastErrMsg();
  EXPECT_TRUE(decoder.Decode(-1));
  RecordProperty("inputs", inputs);
}
