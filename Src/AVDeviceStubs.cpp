#include "AVDeviceStubs.h"

KIV_DEFINE_STUB_VARIABLES(KIV_AVDEVICE_ENTRY_POINTS)

namespace kiv::AVDeviceStubs {

void FixupStubs(const TPathFileName& ALibName, TLibHandle AHandle) {
  KIV_BIND_LIST(KIV_AVDEVICE_ENTRY_POINTS)
  av::avdevice_register_all();
}

void UnfixStubs() { KIV_RESET_LIST(KIV_AVDEVICE_ENTRY_POINTS) }

}  // namespace kiv::AVDeviceStubs
