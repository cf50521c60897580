// The log file: one line per entry, appended, in the character set of the user's locale.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "KivLog.h"
#include "KivLogInternal.h"

namespace kiv::logging {

namespace {

std::string SystemErrorText(int AError) { return std::strerror(AError); }

// "hh:nn:ss zzz" of the local time.
std::string LocalTimeText() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d %.3d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(now.tv_nsec / 1000000));
  return text;
}

size_t Utf8SequenceLength(unsigned char ALead) {
  if (ALead < 0x80) return 1;
  if ((ALead & 0xE0) == 0xC0) return 2;
  if ((ALead & 0xF0) == 0xE0) return 3;
  if ((ALead & 0xF8) == 0xF0) return 4;
  return 1;
}

bool IsUtf8(const std::string& ACodeset) {
  return strcasecmp(ACodeset.c_str(), "UTF-8") == 0 || strcasecmp(ACodeset.c_str(), "UTF8") == 0;
}

}  // namespace

void TLogStream::Open(const TPathFileName& AFileName) {
  Close();
  int fd = ::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0)
    throw ELogFileError("Cannot open log file " + AFileName + ": " + SystemErrorText(errno));
  // Readers may look on; a second writer is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK)
      throw ELogFileError("Cannot open log file " + AFileName + ": it is in use by another writer");
    throw ELogFileError("Cannot lock log file " + AFileName + ": " + SystemErrorText(error));
  }
  FFd = fd;
  FFileName = AFileName;
}

void TLogStream::Write(const std::string& ABytes) {
  const char* data = ABytes.data();
  size_t left = ABytes.size();
  while (left > 0) {
    ssize_t written = ::write(FFd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw ELogFileError("Cannot write log file " + FFileName + ": " + SystemErrorText(errno));
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
}

void TLogStream::Truncate() {
  if (::ftruncate(FFd, 0) != 0)
    throw ELogFileError("Cannot clear log file " + FFileName + ": " + SystemErrorText(errno));
}

void TLogStream::Close() {
  if (FFd < 0) return;
  ::close(FFd);  // releases the lock
  FFd = -1;
  FFileName.clear();
}

void WriteLogFile(const TLogInfo& AInfo) {
  TLogModule& m = Module();
  if (!m.LogStream.IsOpen()) m.LogStream.Open(m.LogFileName);
  char thread[24];
  std::snprintf(thread, sizeof thread, "%.8lX", static_cast<unsigned long>(AInfo.ThreadID));
  std::string line = LocalTimeText() + " [" + thread + "] " + LogLevelName(AInfo.LogLevel) + ": " +
                     AInfo.LogMsg + "\r\n";
  m.LogStream.Write(ConvertText(line, SystemCodeset()));
}

const std::string& SystemCodeset() {
  // The user's locale, read without touching the program's own locale setting.
  static const std::string codeset = [] {
    std::string name = "UTF-8";
    locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!user) user = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    if (user) {
      name = nl_langinfo_l(CODESET, user);
      freelocale(user);
    }
    return name;
  }();
  return codeset;
}

std::string ConvertText(const std::string& AText, const std::string& ACodeset) {
  if (IsUtf8(ACodeset)) return AText;
  iconv_t converter = iconv_open(ACodeset.c_str(), "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return AText;
  std::string result;
  char chunk[256];
  char* in = const_cast<char*>(AText.data());
  size_t inLeft = AText.size();
  while (inLeft > 0) {
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
    result.append(chunk, out);
    if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // A character the code page lacks, or broken UTF-8: one '?' for its sequence.
    result += '?';
    size_t skip = std::min(Utf8SequenceLength(static_cast<unsigned char>(*in)), inLeft);
    in += skip;
    inLeft -= skip;
  }
  iconv_close(converter);
  return result;
}

}  // namespace kiv::logging
