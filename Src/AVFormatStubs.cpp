#include "AVFormatStubs.h"

KIV_DEFINE_STUB_VARIABLES(KIV_AVFORMAT_ENTRY_POINTS)

namespace kiv::AVFormatStubs {

void FixupStubs(const TPathFileName& ALibName, TLibHandle AHandle) {
  KIV_BEGIN_STUBS
  KIV_BIND_LIST(KIV_AVFORMAT_ENTRY_POINTS)
  KIV_END_STUBS
  // Formats need no registration any more; the network layer still wants its start-up.
  av::avformat_network_init();
}

void UnfixStubs() {
  if (av::avformat_network_deinit) av::avformat_network_deinit();
  KIV_RESET_LIST(KIV_AVFORMAT_ENTRY_POINTS)
}

}  // namespace kiv::AVFormatStubs
