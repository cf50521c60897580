// Entry points of libswresample, in binding order.
#pragma once

#include "StubSupport.h"

extern "C" {
#include <libswresample/swresample.h>
}

#define KIV_SWRESAMPLE_ENTRY_POINTS(FN, EX) \
  FN(swr_alloc) \
  FN(swr_alloc_set_opts) \
  FN(swr_convert) \
  FN(swr_free) \
  FN(swr_get_class) \
  FN(swr_init) \
  FN(swr_set_compensation) \
  FN(swr_alloc_set_opts2)

KIV_DECLARE_STUB_UNIT(SwResampleStubs, KIV_SWRESAMPLE_ENTRY_POINTS)
