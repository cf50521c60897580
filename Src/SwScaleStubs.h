// Entry points of libswscale, in binding order.
#pragma once

#include "StubSupport.h"

extern "C" {
#include <libswscale/swscale.h>
}

#define KIV_SWSCALE_ENTRY_POINTS(FN, EX) \
  FN(sws_alloc_context) \
  FN(sws_freeContext) \
  FN(sws_get_class) \
  FN(sws_getCachedContext) \
  FN(sws_getContext) \
  FN(sws_isSupportedInput) \
  FN(sws_isSupportedOutput) \
  FN(sws_scale)

KIV_DECLARE_STUB_UNIT(SwScaleStubs, KIV_SWSCALE_ENTRY_POINTS)
