#include "KivBaseComponent.h"

#include <algorithm>
#include <atomic>
#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
}

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define KIV_HAVE_MXCSR 1
#else
#include <cfenv>
#endif

namespace kiv {

static_assert(TSeekFlags{sfBackward}.Bits() == AVSEEK_FLAG_BACKWARD);
static_assert(TSeekFlags{sfByte}.Bits() == AVSEEK_FLAG_BYTE);
static_assert(TSeekFlags{sfAny}.Bits() == AVSEEK_FLAG_ANY);
static_assert(TSeekFlags{sfFrame}.Bits() == AVSEEK_FLAG_FRAME);

// ---- TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Newest first, so that a component that uses an older sibling goes before it.
  while (!FComponents.empty()) {
    TComponent* owned = FComponents.back();
    RemoveComponent(owned);
    delete owned;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  auto found = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (found != FComponents.end()) FComponents.erase(found);
  AComponent->FOwner = nullptr;
}

// ---- about box seam

namespace {

std::mutex AboutBoxGuard;
TShowAboutBoxProc& AboutBoxProc() {
  static TShowAboutBoxProc proc;
  return proc;
}

}  // namespace

void SetShowAboutBox(TShowAboutBoxProc AProc) {
  std::lock_guard lock(AboutBoxGuard);
  AboutBoxProc() = std::move(AProc);
}

// ---- TKivBaseComponent

TKivBaseComponent::TKivBaseComponent(TComponent* AOwner) : TComponent(AOwner), FVersion("6.5c") {}

void TKivBaseComponent::ShowAbout() const {
  TShowAboutBoxProc proc;
  {
    std::lock_guard lock(AboutBoxGuard);
    proc = AboutBoxProc();
  }
  if (!proc) return;
  std::string name = ClassName();
  proc(name.empty() ? name : name.substr(1), FVersion);
}

// ---- floating-point exceptions

namespace {

std::atomic<int> FPUDisableCount{0};

#ifdef KIV_HAVE_MXCSR
// Bits 7 to 12 of MXCSR mask invalid operation, denormal operand, division by zero, overflow,
// underflow and precision.
constexpr unsigned MXCSRExceptionMask = 0x1F80;
// Saved before any component exists; only its mask bits are restored later.
const unsigned StartupMXCSR = _mm_getcsr();
#else
// Without SSE the default environment has every exception masked.
const std::fenv_t StartupFEnv = [] {
  std::fenv_t env;
  std::fegetenv(&env);
  return env;
}();
#endif

}  // namespace

void TKivBaseComponent::DisableFPUExceptions() {
  if (FPUDisableCount.fetch_add(1) != 0) return;
#ifdef KIV_HAVE_MXCSR
  _mm_setcsr(_mm_getcsr() | MXCSRExceptionMask);
#else
  std::fesetenv(FE_DFL_ENV);
#endif
}

void TKivBaseComponent::RestoreFPUExceptions() {
  int count = FPUDisableCount.load();
  if (count == 0) return;
  FPUDisableCount.store(count - 1);
  if (count != 1) return;
#ifdef KIV_HAVE_MXCSR
  _mm_setcsr((_mm_getcsr() & ~MXCSRExceptionMask) | (StartupMXCSR & MXCSRExceptionMask));
#else
  std::fesetenv(&StartupFEnv);
#endif
}

bool TKivBaseComponent::FPUExceptionsDisabled() { return FPUDisableCount.load() > 0; }

}  // namespace kiv
