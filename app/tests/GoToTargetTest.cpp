#include "GoToTarget.h"

#include <gtest/gtest.h>

using namespace framebrowser;

namespace {

TEST(GoToTargetTest, ReadsTimesAndPictureNumbers) {
  using K = TGoToTarget;
  struct {
    const char* Text;
    TGoToTarget Target;
  } const cases[] = {
      {"37", {K::gkFrame, 37}},
      {"  0 ", {K::gkFrame, 0}},
      {"00:00:01.000", {K::gkTime, 1000000}},
      {"01:02:03.004", {K::gkTime, 3723004000}},
      {"1:30", {K::gkTime, 90000000}},
      {"90.5", {K::gkTime, 90500000}},
      {"0.04", {K::gkTime, 40000}},
      {"2:00:00", {K::gkTime, 7200000000}},
      {"100:00:00.123456", {K::gkTime, 360000123456}},
      {"0:75", {}},
      {"1:60:00", {}},
      {"1:2:3:4", {}},
      {"-5", {}},
      {"1.", {}},
      {".5", {}},
      {"1.1234567", {}},
      {"abc", {}},
      {"12 frames", {}},
      {"", {}},
      {"99999999999999999999", {}},
      {"3000000000000:00:00", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseGoTo(c.Text), c.Target) << '"' << c.Text << '"';
}

}  // namespace
