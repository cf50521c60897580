// Start-up and shutdown as an embedding program meets them: a separate process loads the
// media libraries from a library folder, decodes, and returns from main. The libraries are
// then released by the library's own shutdown, which must find everything it reaches intact.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

TEST(ShutdownTest, AProgramThatLoadsFromAFolderEndsNormally) {
  kivtest::TempDir beside("LibAV");
  kivtest::LinkMediaLibraries(beside.Path());
  struct Case {
    std::string folder;
    const char* file;
  } cases[] = {
      {kivtest::SystemLibDir, "h264_bframes.mp4"},  // the system's own folder
      {beside.Path(), "h264_bframes.mp4"},          // a folder of links, as beside a program
      {beside.Path(), "picture.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + " " + c.file);
    EXPECT_EQ(kivtest::RunProgram({KIV_SHUTDOWN_PROBE, c.folder, kivtest::MediaFile(c.file)}, 120),
              0);
  }
}

}  // namespace
