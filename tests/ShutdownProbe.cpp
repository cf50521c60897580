// A program as an embedding user writes it: loads the media libraries from the folder named by
// its first argument, opens the file named by its second, decodes and converts a few pictures
// and some audio, and returns from main with everything still loaded, so that the libraries
// are released by the library's own shutdown. Exit status 0 when all of it worked.
#include <cstdio>

#include "KivBitmap.h"
#include "KivDecode.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ShutdownProbe LIBRARY-FOLDER MEDIA-FILE\n");
    return 2;
  }
  kiv::TKivDecoder decoder;
  if (!decoder.LoadAVLib(argv[1]) || !decoder.LoadFile(argv[2])) {
    std::fprintf(stderr, "ShutdownProbe: %s\n", decoder.LastErrMsg().c_str());
    return 3;
  }
  kiv::TBitmap bitmap;
  int pictures = 0;
  while (pictures < 3 && decoder.Decode(-1)) {
    if (!decoder.CopyToBitmap(bitmap)) break;
    ++pictures;
  }
  if (pictures == 0) {
    std::fprintf(stderr, "ShutdownProbe: %s\n", decoder.LastErrMsg().c_str());
    return 4;
  }
  if (decoder.AudioStreamCount() > 0 && !decoder.DecodeAudio(-1)) {
    std::fprintf(stderr, "ShutdownProbe: %s\n", decoder.LastErrMsg().c_str());
    return 5;
  }
  return 0;
}
