#include "KivUtilsText.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "AVCodecStubs.h"
#include "AVFormatStubs.h"
#include "AVUtilStubs.h"
#include "KivLoad.h"

namespace kiv {

namespace {

constexpr AVRational TimeBaseQ{1, AV_TIME_BASE};
constexpr int64_t DefaultFrameDuration = AV_TIME_BASE / 25;

// An entry point that must be bound here: a library that is not loaded raises
// "Library %s not loaded." instead of a call through a null pointer.
template <typename TFunction>
TFunction Bound(TFunction AEntry, TLibrary ALibrary) {
  if (!AEntry && KivLoader) KivLoader->CheckLibAV(TLibraries{ALibrary});
  KivAssert(AEntry != nullptr, "KivUtils");
  return AEntry;
}

std::string Trim(const char* AText) {
  std::string text = AText ? AText : "";
  auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  auto first = std::find_if_not(text.begin(), text.end(), isSpace);
  auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
  return first < last ? std::string(first, last) : std::string();
}

struct TImageTag {
  AVCodecID Id;
  const char* Extension;
};

// The image2 demuxer's extension table, searched in order (pic occurs twice: the first wins).
constexpr TImageTag ImageTags[] = {
    {AV_CODEC_ID_MJPEG, "jpeg"},
    {AV_CODEC_ID_MJPEG, "jpg"},
    {AV_CODEC_ID_MJPEG, "jps"},
    {AV_CODEC_ID_MJPEG, "mpo"},
    {AV_CODEC_ID_LJPEG, "ljpg"},
    {AV_CODEC_ID_JPEGLS, "jls"},
    {AV_CODEC_ID_PNG, "png"},
    {AV_CODEC_ID_PNG, "pns"},
    {AV_CODEC_ID_PNG, "mng"},
    {AV_CODEC_ID_PPM, "ppm"},
    {AV_CODEC_ID_PPM, "pnm"},
    {AV_CODEC_ID_PGM, "pgm"},
    {AV_CODEC_ID_PGMYUV, "pgmyuv"},
    {AV_CODEC_ID_PBM, "pbm"},
    {AV_CODEC_ID_PAM, "pam"},
    {AV_CODEC_ID_ALIAS_PIX, "pix"},
    {AV_CODEC_ID_DDS, "dds"},
    {AV_CODEC_ID_MPEG1VIDEO, "mpg1-img"},
    {AV_CODEC_ID_MPEG2VIDEO, "mpg2-img"},
    {AV_CODEC_ID_MPEG4, "mpg4-img"},
    {AV_CODEC_ID_FFV1, "ffv1-img"},
    {AV_CODEC_ID_RAWVIDEO, "y"},
    {AV_CODEC_ID_RAWVIDEO, "raw"},
    {AV_CODEC_ID_BMP, "bmp"},
    {AV_CODEC_ID_TARGA, "tga"},
    {AV_CODEC_ID_TIFF, "tiff"},
    {AV_CODEC_ID_TIFF, "tif"},
    {AV_CODEC_ID_SGI, "sgi"},
    {AV_CODEC_ID_PTX, "ptx"},
    {AV_CODEC_ID_PCX, "pcx"},
    {AV_CODEC_ID_QDRAW, "pic"},
    {AV_CODEC_ID_QDRAW, "pct"},
    {AV_CODEC_ID_QDRAW, "pict"},
    {AV_CODEC_ID_SUNRAST, "sun"},
    {AV_CODEC_ID_SUNRAST, "ras"},
    {AV_CODEC_ID_SUNRAST, "rs"},
    {AV_CODEC_ID_SUNRAST, "im1"},
    {AV_CODEC_ID_SUNRAST, "im8"},
    {AV_CODEC_ID_SUNRAST, "im24"},
    {AV_CODEC_ID_SUNRAST, "im32"},
    {AV_CODEC_ID_SUNRAST, "sunras"},
    {AV_CODEC_ID_JPEG2000, "j2c"},
    {AV_CODEC_ID_JPEG2000, "jp2"},
    {AV_CODEC_ID_JPEG2000, "jpc"},
    {AV_CODEC_ID_JPEG2000, "j2k"},
    {AV_CODEC_ID_DPX, "dpx"},
    {AV_CODEC_ID_EXR, "exr"},
    {AV_CODEC_ID_PICTOR, "pic"},
    {AV_CODEC_ID_V210X, "yuv10"},
    {AV_CODEC_ID_WEBP, "webp"},
    {AV_CODEC_ID_XBM, "xbm"},
    {AV_CODEC_ID_XFACE, "xface"},
    {AV_CODEC_ID_XWD, "xwd"},
};
static_assert(std::size(ImageTags) == 53);

// Letter case is ignored for ASCII letters only, as av_strcasecmp does; doing it here keeps
// file names encoding the same whether or not the libraries are loaded.
bool SameTextAscii(const char* A, const char* B) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  for (; *A && *B; ++A, ++B)
    if (lower(*A) != lower(*B)) return false;
  return *A == *B;
}

// Closes an iconv descriptor when it goes out of scope.
class TIconv {
 public:
  TIconv(const char* ATo, const char* AFrom) : FHandle(iconv_open(ATo, AFrom)) {}
  ~TIconv() {
    if (Valid()) iconv_close(FHandle);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Handle() const { return FHandle; }

 private:
  iconv_t FHandle;
};

// AText converted between two character sets; false when the text has a character the target
// set lacks, or a byte sequence invalid in the source set.
bool ConvertCharset(const std::string& AText, const char* ATo, const char* AFrom,
                    std::string& AResult) {
  TIconv converter(ATo, AFrom);
  if (!converter.Valid()) return false;
  std::string input = AText;
  char* in = input.data();
  size_t inLeft = input.size();
  std::vector<char> output(input.size() * 4 + 16);
  size_t used = 0;
  for (;;) {
    char* out = output.data() + used;
    size_t outLeft = output.size() - used;
    size_t result = iconv(converter.Handle(), &in, &inLeft, &out, &outLeft);
    used = output.size() - outLeft;
    if (result == static_cast<size_t>(-1) && errno == E2BIG) {
      output.resize(output.size() * 2);
      continue;
    }
    // A character replaced by a substitute counts as missing: the name would change.
    if (result != 0 || inLeft != 0) return false;
    // A stateful character set may still have to return to its initial shift state.
    if (iconv(converter.Handle(), nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
      return false;
    used = output.size() - outLeft;
    break;
  }
  AResult.assign(output.data(), used);
  return true;
}

// The character set of the program's locale; null when it is UTF-8 and nothing needs to change.
const char* LocaleCharset() {
  const char* charset = nl_langinfo(CODESET);
  if (!charset || !*charset || SameTextAscii(charset, "UTF-8") || SameTextAscii(charset, "UTF8"))
    return nullptr;
  return charset;
}

// A name the locale's character set cannot carry keeps its bytes: they still name the file the
// user chose, where a substitute character would name another.
std::string ToLocale(const std::string& AUtf8) {
  const char* charset = LocaleCharset();
  std::string result;
  return charset && ConvertCharset(AUtf8, charset, "UTF-8", result) ? result : AUtf8;
}

std::string FromLocale(const std::string& ALocal) {
  const char* charset = LocaleCharset();
  if (!charset) return ALocal;
  // A name that ToLocale kept as it was (valid UTF-8 that the locale's set cannot carry)
  // comes back as it went.
  std::string result;
  if (ConvertCharset(ALocal, "UTF-8", "UTF-8", result) &&
      !ConvertCharset(ALocal, charset, "UTF-8", result))
    return ALocal;
  return ConvertCharset(ALocal, "UTF-8", charset, result) ? result : ALocal;
}

// The name buffer starts at 2048 bytes. A longer name is neither cut nor refused: the buffer
// grows so that the name reaches the file system unchanged, which then reports its own clear
// error (such as "File name too long").
constexpr size_t NameBufferSize = 2048;

std::vector<char>& NameBuffer() {
  static std::vector<char> buffer(NameBufferSize);
  return buffer;
}

std::string CodecNameOf(AVCodecID AId, uint32_t ATag, bool AEncoder, bool ALongName) {
  const AVCodec* codec = AEncoder ? Bound(av::avcodec_find_encoder, avCodec)(AId)
                                  : Bound(av::avcodec_find_decoder, avCodec)(AId);
  if (codec) {
    std::string name = codec->name ? codec->name : "";
    std::string longName = ALongName ? Trim(codec->long_name) : std::string();
    return longName.empty() ? name : name + "(" + longName + ")";
  }
  if (AId == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // Codec contexts of this FFmpeg carry no codec name of their own: the tag comes next.
  char chars[4];
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    chars[i] = static_cast<char>((ATag >> (8 * i)) & 0xFF);
    printable = printable && chars[i] >= 32 && chars[i] <= 126;
  }
  char text[32];
  if (printable)
    std::snprintf(text, sizeof text, "%c%c%c%c / 0x%04X", chars[0], chars[1], chars[2], chars[3],
                  ATag);
  else
    std::snprintf(text, sizeof text, "0x%04X", ATag);
  return text;
}

}  // namespace

std::string DurationToStr(int64_t ATime) {
  if (ATime == AV_NOPTS_VALUE) return "N/A";
  // Unsigned addition wraps where a signed one near the largest value would be undefined.
  int64_t time = static_cast<int64_t>(static_cast<uint64_t>(ATime) + 5000u);
  int32_t seconds = static_cast<int32_t>(time / AV_TIME_BASE);
  int64_t microseconds = time % AV_TIME_BASE;
  int32_t minutes = seconds / 60;
  seconds %= 60;
  int32_t hours = minutes / 60;
  minutes %= 60;
  int milliseconds = static_cast<int>(microseconds * 1000 / AV_TIME_BASE);
  char text[64];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", hours, minutes, seconds, milliseconds);
  return text;
}

std::string TimestampToStr(int64_t ATimestamp, AVRational ATimeBase) {
  if (ATimestamp != AV_NOPTS_VALUE && av_cmp_q(ATimeBase, TimeBaseQ) != 0)
    ATimestamp = Bound(av::av_rescale_q, avUtil)(ATimestamp, ATimeBase, TimeBaseQ);
  return DurationToStr(ATimestamp);
}

int64_t FrameRateToDuration(AVRational AFrameRate) {
  if (AFrameRate.num == 0 || AFrameRate.den == 0) return DefaultFrameDuration;
  return int64_t(AV_TIME_BASE) * AFrameRate.den / AFrameRate.num;
}

int32_t GuessImageCodec(const char* AFileName) {
  if (!AFileName) return 0;
  if (av::ff_guess_image2_codec) return av::ff_guess_image2_codec(AFileName);
  const char* dot = std::strrchr(AFileName, '.');
  if (!dot) return 0;
  for (const TImageTag& tag : ImageTags)
    if (SameTextAscii(dot + 1, tag.Extension)) return tag.Id;
  return 0;
}

const char* EncodeFileName(const TPathFileName& AFileName) {
  std::string bytes = GuessImageCodec(AFileName.c_str()) ? ToLocale(AFileName) : AFileName;
  std::vector<char>& buffer = NameBuffer();
  if (bytes.size() >= buffer.size()) buffer.resize(bytes.size() + 1);
  std::fill(buffer.begin(), buffer.end(), '\0');
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  return buffer.data();
}

TPathFileName DecodeFileName(const char* AFileName) {
  if (!AFileName) return {};
  return GuessImageCodec(AFileName) ? FromLocale(AFileName) : TPathFileName(AFileName);
}

std::string DictValue(const AVDictionary* ADict, const std::string& AKey,
                      const std::string& ADefault) {
  if (!ADict) return ADefault;
  // Metadata values are UTF-8 whatever the locale, so they are taken as they are.
  const AVDictionaryEntry* entry = Bound(av::av_dict_get, avUtil)(ADict, AKey.c_str(), nullptr, 0);
  return entry && entry->value ? std::string(entry->value) : ADefault;
}

std::string GetCodecName(const AVCodecParameters* APar, bool AEncoder, bool ALongName) {
  KivAssert(APar != nullptr, "KivUtils");
  return CodecNameOf(APar->codec_id, APar->codec_tag, AEncoder, ALongName);
}

std::string GetCodecName(const AVCodecContext* ACodecCtx, bool AEncoder, bool ALongName) {
  KivAssert(ACodecCtx != nullptr, "KivUtils");
  return CodecNameOf(ACodecCtx->codec_id, ACodecCtx->codec_tag, AEncoder, ALongName);
}

std::string PictureTypeName(int32_t APictureType) {
  static constexpr const char* Names[] = {
      "Unknown",              // AV_PICTURE_TYPE_NONE
      "Intra",                // AV_PICTURE_TYPE_I
      "Predicted",            // AV_PICTURE_TYPE_P
      "Bi-dir predicted",     // AV_PICTURE_TYPE_B
      "S(GMC)-VOP MPEG4",     // AV_PICTURE_TYPE_S
      "Switching Intra",      // AV_PICTURE_TYPE_SI
      "Switching Predicted",  // AV_PICTURE_TYPE_SP
      "BI type",              // AV_PICTURE_TYPE_BI
  };
  static_assert(AV_PICTURE_TYPE_BI == 7);
  if (APictureType < 0 || APictureType >= static_cast<int32_t>(std::size(Names))) return "Unknown";
  return Names[APictureType];
}

}  // namespace kiv
