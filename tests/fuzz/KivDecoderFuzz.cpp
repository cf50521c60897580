// libFuzzer target: every input is written to a file and opened by the decoder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "DecoderDriver.h"
#include "KivLoad.h"
#include "KivLog.h"

namespace {

std::string InputFile() { return "/dev/shm/kiv-fuzz-" + std::to_string(getpid()) + ".bin"; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!kiv::KivLoader->Load(kiv::AVLibraries)) {
    std::fprintf(stderr, "%s\n", kiv::KivLoader->LastErrMsg().c_str());
    std::abort();
  }
  kiv::CurrentLogger().SetLogLevel(kiv::llQuiet);  // the libraries' complaints are expected
  return 0;
}

// The input's last bytes pick a filter description and an option; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static const std::string name = InputFile();
  kiv::TKivDecoder decoder;
  const size_t fileSize = kivfuzz::ApplySettings(decoder, AData, ASize);
  FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(AData, 1, fileSize, file);
  std::fclose(file);
  kivfuzz::DriveDecoder(decoder, name);
  return 0;
}
