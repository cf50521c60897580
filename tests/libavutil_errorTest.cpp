#include "libavutil_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

extern "C" {
#include <libavutil/error.h>
}

using namespace kiv;

namespace {

struct TErrorCase {
  const char* Name;
  std::string Prefix;
  int32_t Code;
  std::string Expected;
};

class ErrorTextTest : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(ErrorTextTest, GivesTheTableTextOrTheFallback) {
  const TErrorCase& c = GetParam();
  EXPECT_EQ(ErrorText(c.Prefix, c.Code), c.Expected) << c.Name << " (code " << c.Code << ")";
}

const std::string InvalidArgument = "Invalid argument / Invalid data found when processing input";

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorTextTest,
    ::testing::Values(
        TErrorCase{"eof without prefix", "", AVERROR_EOF, "End of file"},
        TErrorCase{"file name prefix", "movie.avi", AVERROR(ENOENT),
                   "movie.avi: No such file or directory"},
        TErrorCase{
            "audio prefix", "Error while decoding audio stream #1", AVERROR_INVALIDDATA,
            "Error while decoding audio stream #1: Invalid data found when processing input"},
        TErrorCase{"resampler prefix", "swr_convert() failed", AVERROR(EINVAL),
                   "swr_convert() failed: " + InvalidArgument},
        TErrorCase{"errno text joining two descriptions", "", AVERROR(EINVAL), InvalidArgument},
        TErrorCase{"tagged invalid data", "", AVERROR_INVALIDDATA,
                   "Invalid data found when processing input"},
        TErrorCase{"bug", "", AVERROR_BUG, "Internal bug, should not have happened"},
        TErrorCase{"bug2", "", AVERROR_BUG2, "Internal bug, should not have happened"},
        TErrorCase{"http", "", AVERROR_HTTP_NOT_FOUND, "HTTP or RTSP error: not found(404)"},
        TErrorCase{"experimental", "", AVERROR_EXPERIMENTAL,
                   "Requested feature is flagged experimental. Set strict_std_compliance if you "
                   "really want to use it."},
        TErrorCase{"socket error", "", -10049, "Cannot assign requested address"},
        TErrorCase{"last socket error", "", -11004, "WSANO_DATA"},
        TErrorCase{"unknown negative", "", -1000, "Error number -1000 occurred"},
        TErrorCase{"positive", "", 5, "Error number 5 occurred"},
        TErrorCase{"zero", "x", 0, "x: Error number 0 occurred"},
        TErrorCase{"operation not permitted has no row", "", AVERROR(EPERM),
                   "Error number -1 occurred"}),
    [](const auto& AInfo) {
      std::string name = AInfo.param.Name;
      for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// The operating-system rows sit at this platform's errno values, many of which differ from
// other platforms' numbering (ETIMEDOUT is 110 here, ENOSYS 38, ELOOP 40).
struct TErrnoCase {
  const char* Name;
  int Errno;
  const char* Expected;
};

TEST(ErrorTextErrno, ReadsThisPlatformsErrnoValues) {
  const TErrnoCase cases[] = {
      {"ETIMEDOUT", ETIMEDOUT, "Connection timed out"},
      {"EHOSTUNREACH", EHOSTUNREACH, "No route to host"},
      {"ECONNREFUSED", ECONNREFUSED, "Connection refused"},
      {"ECONNRESET", ECONNRESET, "Connection reset by peer"},
      {"ENOSYS", ENOSYS, "Function not implemented"},
      {"ENAMETOOLONG", ENAMETOOLONG, "File name too long"},
      {"ELOOP", ELOOP, "Too many symbolic links encountered"},
      {"ENOTEMPTY", ENOTEMPTY, "Directory not empty"},
      {"EADDRNOTAVAIL", EADDRNOTAVAIL, "Cannot assign requested address"},
      {"EAGAIN", EAGAIN, "Resource temporarily unavailable / Try again"},
      {"EWOULDBLOCK", EWOULDBLOCK, "Resource temporarily unavailable / Try again"},
      {"EOPNOTSUPP", EOPNOTSUPP, "Operation not supported on transport endpoint"},
      {"ENOMEM", ENOMEM, "Not enough space / Out of memory"},
      {"EILSEQ", EILSEQ, "Illegal byte sequence"},
      {"ECANCELED", ECANCELED, "Operation Canceled"},
      {"EOVERFLOW", EOVERFLOW, "Value too large for defined data type"},
      {"EPROTO", EPROTO, "Protocol error"},
  };
  for (const TErrnoCase& c : cases)
    EXPECT_EQ(ErrorText("", AVERROR(c.Errno)), c.Expected) << c.Name << " = " << c.Errno;
}

TEST(ErrorTable, EveryCodeOccursOnceAndIsNegative) {
  std::set<int32_t> seen;
  for (const TErrorItem& row : ErrorTable) {
    EXPECT_TRUE(seen.insert(row.err).second) << "code " << row.err << " occurs twice";
    EXPECT_LT(row.err, 0) << row.msg;
    EXPECT_FALSE(row.msg.empty()) << "code " << row.err;
  }
}

// A number that has no errno name of its own is some other real error here: no row may
// answer it with a made-up text.
TEST(ErrorTable, HasNoPlaceholderTexts) {
  for (const TErrorItem& row : ErrorTable) EXPECT_NE(row.msg, "Unknown error") << row.err;
}

}  // namespace
