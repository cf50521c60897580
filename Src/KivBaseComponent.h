// The component base: components that belong to an owner, the properties every component has,
// the about box seam and the process-wide floating-point exception control.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "KivExport.h"

namespace kiv {

// An object that may belong to an owner. An owner frees what it owns when it is freed; an
// owned component freed first leaves its owner's list. Owned components live on the heap.
class KIV_API TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int AIndex) const { return FComponents.at(AIndex); }

  // The class's own name, e.g. "TKivLogger".
  virtual std::string ClassName() const { return "TComponent"; }

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
};

// Shows the about box for a component name (its class name without the leading "T") and a
// version. A program with a user interface installs one; without one ShowAbout does nothing.
using TShowAboutBoxProc =
    std::function<void(const std::string& AComponentName, const std::string& AVersion)>;
KIV_API void SetShowAboutBox(TShowAboutBoxProc AProc);

class KIV_API TKivBaseComponent : public TComponent {
 public:
  explicit TKivBaseComponent(TComponent* AOwner);

  std::string ClassName() const override { return "TKivBaseComponent"; }

  const std::string& About() const { return FAbout; }
  void SetAbout(const std::string& AValue) { FAbout = AValue; }
  const std::string& Version() const { return FVersion; }

  // Milliseconds one blocking call into libavformat may take; 0 or less: no limit.
  int32_t ReadTimeout() const { return FReadTimeout; }
  virtual void SetReadTimeout(int32_t Value) { FReadTimeout = Value; }
  // Stored only.
  int32_t WriteTimeout() const { return FWriteTimeout; }
  virtual void SetWriteTimeout(int32_t Value) { FWriteTimeout = Value; }

  void ShowAbout() const;

  // Masking of the six SSE floating-point exceptions on the calling thread, nestable: only the
  // outermost pair changes the register; the restore brings back the start-up mask.
  static void DisableFPUExceptions();
  static void RestoreFPUExceptions();
  static bool FPUExceptionsDisabled();

 private:
  std::string FAbout;
  std::string FVersion;
  int32_t FReadTimeout = 30000;
  int32_t FWriteTimeout = 30000;
};

// Seek flags; the set's bits equal AVSEEK_FLAG_BACKWARD, _BYTE, _ANY and _FRAME.
enum TSeekFlag : int { sfBackward, sfByte, sfAny, sfFrame };

class TSeekFlags {
 public:
  constexpr TSeekFlags() = default;
  constexpr explicit TSeekFlags(int ABits) : FBits(ABits) {}
  constexpr TSeekFlags(std::initializer_list<TSeekFlag> AFlags) {
    for (TSeekFlag flag : AFlags) FBits |= Bit(flag);
  }
  constexpr bool Contains(TSeekFlag AFlag) const { return (FBits & Bit(AFlag)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr int Bits() const { return FBits; }
  constexpr TSeekFlags operator+(TSeekFlags AOther) const {
    return TSeekFlags(FBits | AOther.FBits);
  }
  constexpr TSeekFlags operator-(TSeekFlags AOther) const {
    return TSeekFlags(FBits & ~AOther.FBits);
  }
  constexpr bool operator==(const TSeekFlags&) const = default;

 private:
  static constexpr int Bit(TSeekFlag AFlag) { return 1 << AFlag; }
  int FBits = 0;
};

}  // namespace kiv
