#include "AVCodecStubs.h"

// Nothing to register after binding: codecs are known to the library as it is loaded.
KIV_DEFINE_PLAIN_STUB_UNIT(AVCodecStubs, KIV_AVCODEC_ENTRY_POINTS)
