// Entry points of SoundTouch's C interface, in binding order. No headers ship with the
// runtime package, so the signatures are declared here as the library exports them.
#pragma once

#include "StubSupport.h"

namespace kiv::av {
using TSoundTouchHandle = void*;
using TSTCreate = TSoundTouchHandle (*)();
using TSTHandleProc = void (*)(TSoundTouchHandle);
using TSTVersionString = const char* (*)();
using TSTVersionString2 = void (*)(char* versionString, int bufferSize);
using TSTVersionId = unsigned int (*)();
using TSTSetFloat = void (*)(TSoundTouchHandle, float);
using TSTSetUInt = void (*)(TSoundTouchHandle, unsigned int);
using TSTPutSamples = void (*)(TSoundTouchHandle, const float* samples, unsigned int numSamples);
using TSTSetSetting = int (*)(TSoundTouchHandle, int settingId, int value);
using TSTGetSetting = int (*)(TSoundTouchHandle, int settingId);
using TSTCount = unsigned int (*)(TSoundTouchHandle);
using TSTReceiveSamples = unsigned int (*)(TSoundTouchHandle, float* outBuffer,
                                           unsigned int maxSamples);
using TSTIsEmpty = int (*)(TSoundTouchHandle);
}  // namespace kiv::av

#define KIV_SOUNDTOUCH_ENTRY_POINTS(FN, EX)                                                 \
  EX(soundtouch_createInstance, "soundtouch_createInstance", TSTCreate, false)              \
  EX(soundtouch_destroyInstance, "soundtouch_destroyInstance", TSTHandleProc, false)        \
  EX(soundtouch_getVersionString, "soundtouch_getVersionString", TSTVersionString, false)   \
  EX(soundtouch_getVersionString2, "soundtouch_getVersionString2", TSTVersionString2, false) \
  EX(soundtouch_getVersionId, "soundtouch_getVersionId", TSTVersionId, false)               \
  EX(soundtouch_setRate, "soundtouch_setRate", TSTSetFloat, false)                          \
  EX(soundtouch_setTempo, "soundtouch_setTempo", TSTSetFloat, false)                        \
  EX(soundtouch_setRateChange, "soundtouch_setRateChange", TSTSetFloat, false)              \
  EX(soundtouch_setTempoChange, "soundtouch_setTempoChange", TSTSetFloat, false)            \
  EX(soundtouch_setPitch, "soundtouch_setPitch", TSTSetFloat, false)                        \
  EX(soundtouch_setPitchOctaves, "soundtouch_setPitchOctaves", TSTSetFloat, false)          \
  EX(soundtouch_setPitchSemiTones, "soundtouch_setPitchSemiTones", TSTSetFloat, false)      \
  EX(soundtouch_setChannels, "soundtouch_setChannels", TSTSetUInt, false)                   \
  EX(soundtouch_setSampleRate, "soundtouch_setSampleRate", TSTSetUInt, false)               \
  EX(soundtouch_flush, "soundtouch_flush", TSTHandleProc, false)                            \
  EX(soundtouch_putSamples, "soundtouch_putSamples", TSTPutSamples, false)                  \
  EX(soundtouch_clear, "soundtouch_clear", TSTHandleProc, false)                            \
  EX(soundtouch_setSetting, "soundtouch_setSetting", TSTSetSetting, false)                  \
  EX(soundtouch_getSetting, "soundtouch_getSetting", TSTGetSetting, false)                  \
  EX(soundtouch_numUnprocessedSamples, "soundtouch_numUnprocessedSamples", TSTCount, false) \
  EX(soundtouch_receiveSamples, "soundtouch_receiveSamples", TSTReceiveSamples, false)      \
  EX(soundtouch_numSamples, "soundtouch_numSamples", TSTCount, false)                       \
  EX(soundtouch_isEmpty, "soundtouch_isEmpty", TSTIsEmpty, false)

KIV_DECLARE_STUB_UNIT(SoundTouchStubs, KIV_SOUNDTOUCH_ENTRY_POINTS)
