// A program outside the Kiv tree: it includes the installed headers, loads the FFmpeg
// libraries, opens a clip and converts its first picture to a 32-bit bitmap.
#include <kiv/KivDecode.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: KivConsumer FILE\n");
    return 2;
  }
  kiv::TKivDecoder decoder;
  if (!decoder.LoadAVLib("") || !decoder.LoadFile(argv[1]) || !decoder.Decode(-1)) {
    std::fprintf(stderr, "%s\n", decoder.LastErrMsg().c_str());
    return 1;
  }
  decoder.SetBitmapBitsPixel(32);
  const kiv::TDIBDescriptor* bitmap = decoder.GetBitmapPtr();
  if (!bitmap || !bitmap->bmBits) {
    std::fprintf(stderr, "no bitmap: %s\n", decoder.LastErrMsg().c_str());
    return 1;
  }
  std::printf("%dx%d %d bits\n", bitmap->bmWidth, bitmap->bmHeight, int(bitmap->bmBitsPixel));
  return 0;
}
