// Entry points of libavdevice, in binding order.
#pragma once

#include "StubSupport.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#define KIV_AVDEVICE_ENTRY_POINTS(FN, EX) \
  FN(avdevice_register_all)

KIV_DECLARE_STUB_UNIT(AVDeviceStubs, KIV_AVDEVICE_ENTRY_POINTS)
