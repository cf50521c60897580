#include "KivBaseComponent.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <memory>
#include <string>
#include <vector>

using namespace kiv;

namespace {

// The register as the program started, before any test ran.
const unsigned StartMXCSR = _mm_getcsr();
constexpr unsigned ExceptionMask = 0x1F80;

// Records its own destruction.
class TProbe : public TKivBaseComponent {
 public:
  TProbe(TComponent* AOwner, std::vector<std::string>& AFreed, std::string AName)
      : TKivBaseComponent(AOwner), FFreed(AFreed), FName(std::move(AName)) {}
  ~TProbe() override { FFreed.push_back(FName); }
  std::string ClassName() const override { return "TKivProbe"; }

 private:
  std::vector<std::string>& FFreed;
  std::string FName;
};

TEST(KivBaseComponent, NewComponentHasTheDefaults) {
  TKivBaseComponent component(nullptr);
  EXPECT_EQ(component.About(), "");
  EXPECT_EQ(component.Version(), "6.5c");
  EXPECT_EQ(component.ReadTimeout(), 30000);
  EXPECT_EQ(component.WriteTimeout(), 30000);
  component.SetReadTimeout(0);
  component.SetWriteTimeout(-5);
  EXPECT_EQ(component.ReadTimeout(), 0);
  EXPECT_EQ(component.WriteTimeout(), -5);
}

TEST(KivBaseComponent, OwnerFreesWhatItOwns) {
  std::vector<std::string> freed;
  auto owner = std::make_unique<TKivBaseComponent>(nullptr);
  new TProbe(owner.get(), freed, "first");
  auto* second = new TProbe(owner.get(), freed, "second");
  new TProbe(second, freed, "grandchild");
  ASSERT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(second->Owner(), owner.get());
  owner.reset();
  EXPECT_EQ(freed, (std::vector<std::string>{"second", "grandchild", "first"}));
}

TEST(KivBaseComponent, OwnedComponentFreedFirstLeavesItsOwner) {
  std::vector<std::string> freed;
  TKivBaseComponent owner(nullptr);
  auto* first = new TProbe(&owner, freed, "first");
  new TProbe(&owner, freed, "second");
  delete first;
  ASSERT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(freed, std::vector<std::string>{"first"});
}

TEST(KivBaseComponent, ShowAboutPassesNameWithoutPrefixAndVersion) {
  std::vector<std::string> freed;
  TProbe probe(nullptr, freed, "probe");
  probe.ShowAbout();  // no box installed: nothing happens
  std::string name, version;
  SetShowAboutBox([&](const std::string& AName, const std::string& AVersion) {
    name = AName;
    version = AVersion;
  });
  probe.ShowAbout();
  SetShowAboutBox(nullptr);
  EXPECT_EQ(name, "KivProbe");
  EXPECT_EQ(version, "6.5c");
}

TEST(KivBaseComponent, SeekFlagsSetArithmetic) {
  TSeekFlags flags{sfBackward, sfAny};
  EXPECT_TRUE(flags.Contains(sfAny));
  EXPECT_FALSE(flags.Contains(sfByte));
  EXPECT_EQ((flags - TSeekFlags{sfBackward}).Bits(), TSeekFlags{sfAny}.Bits());
  EXPECT_EQ((flags + TSeekFlags{sfFrame}).Bits(), 1 | 4 | 8);
}

// Each case leaves the counter at zero and the register as the program started.
class FPUExceptions : public ::testing::Test {
 protected:
  void TearDown() override {
    while (TKivBaseComponent::FPUExceptionsDisabled()) TKivBaseComponent::RestoreFPUExceptions();
    _mm_setcsr(StartMXCSR);
  }
  // Division by zero and overflow unmasked, as code that wants floating-point traps runs.
  static unsigned Unmasked() { return StartMXCSR & ~0x0600u; }
};

TEST_F(FPUExceptions, NestedPairsChangeTheRegisterOnlyAtTheOutermostLevel) {
  _mm_setcsr(Unmasked());
  TKivBaseComponent::DisableFPUExceptions();
  TKivBaseComponent::DisableFPUExceptions();
  EXPECT_EQ(_mm_getcsr() & ExceptionMask, ExceptionMask);
  TKivBaseComponent::RestoreFPUExceptions();
  EXPECT_TRUE(TKivBaseComponent::FPUExceptionsDisabled());
  EXPECT_EQ(_mm_getcsr() & ExceptionMask, ExceptionMask);
  TKivBaseComponent::RestoreFPUExceptions();
  EXPECT_FALSE(TKivBaseComponent::FPUExceptionsDisabled());
  // The start-up mask comes back, not the one in force before the first disable.
  EXPECT_EQ(_mm_getcsr() & ExceptionMask, StartMXCSR & ExceptionMask);
  _mm_setcsr(Unmasked());
  TKivBaseComponent::RestoreFPUExceptions();
  EXPECT_EQ(_mm_getcsr(), Unmasked());
}

TEST_F(FPUExceptions, RestoreWithoutDisableChangesNothing) {
  _mm_setcsr(Unmasked());
  TKivBaseComponent::RestoreFPUExceptions();
  EXPECT_EQ(_mm_getcsr(), Unmasked());
  EXPECT_FALSE(TKivBaseComponent::FPUExceptionsDisabled());
}

}  // namespace
