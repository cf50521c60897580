// Entry point of the media SDK dispatcher. Its headers are not needed to bind it, so the
// signature is declared here: MFXInit(implementation, version, session out).
#pragma once

#include "StubSupport.h"

namespace kiv::av {
using TMFXInit = int (*)(int impl, void* ver, void** session);
}  // namespace kiv::av

#define KIV_MFX_ENTRY_POINTS(FN, EX) EX(MFXInit, "MFXInit", TMFXInit, false)

KIV_DECLARE_STUB_UNIT(MFXStubs, KIV_MFX_ENTRY_POINTS)
