#include "libavutil_error.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace kiv {

namespace {

constexpr TErrorItem ErrorRows[] = {
    // Windows Sockets errors: a network layer built for Windows reports these numbers.
    {-10004, "Interrupted function call"},
    {-10009, "Bad file number"},
    {-10013, "Permission denied"},
    {-10014, "Bad address"},
    {-10022, "Invalid argument / Invalid data found when processing input"},
    {-10024, "Too many open files"},
    {-10035, "WSAEWOULDBLOCK"},
    {-10036, "Operation now in progress"},
    {-10037, "Operation already in progress"},
    {-10038, "Socket operation on non-socket"},
    {-10039, "Destination address required"},
    {-10040, "Message too long"},
    {-10041, "Protocol wrong type for socket"},
    {-10042, "Protocol not available"},
    {-10043, "Protocol not supported"},
    {-10044, "Socket type not supported"},
    {-10045, "Operation not supported on transport endpoint"},
    {-10046, "Protocol family not supported"},
    {-10047, "Address family not supported by protocol"},
    {-10048, "Address already in use"},
    {-10049, "Cannot assign requested address"},
    {-10050, "Network is down"},
    {-10051, "Network is unreachable"},
    {-10052, "Network dropped connection because of reset"},
    {-10053, "Software caused connection abort"},
    {-10054, "Connection reset by peer"},
    {-10055, "No buffer space available"},
    {-10056, "Transport endpoint is already connected"},
    {-10057, "Transport endpoint is not connected"},
    {-10058, "Cannot send after transport endpoint shutdown"},
    {-10059, "Too many references: cannot splice"},
    {-10060, "Connection timed out"},
    {-10061, "Connection refused"},
    {-10062, "Too many symbolic links encountered"},
    {-10063, "File name too long"},
    {-10064, "Host is down"},
    {-10065, "No route to host"},
    {-10066, "Directory not empty"},
    {-10067, "WSAEPROCLIM"},
    {-10068, "Too many users"},
    {-10069, "Quota exceeded"},
    {-10070, "Stale NFS file handle"},
    {-10071, "Too many levels of remote in path"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},

    // FFmpeg's tagged errors.
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_BUG, "Internal bug, should not have happened"},
    {AVERROR_BUG2, "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_EXTERNAL, "Generic error in an external library"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg, patches welcome"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_UNKNOWN, "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL,
     "Requested feature is flagged experimental. Set strict_std_compliance if you really want "
     "to use it."},
    {AVERROR_INPUT_CHANGED,
     "Input changed between calls. Reconfiguration is required. (can be OR-ed with "
     "AVERROR_OUTPUT_CHANGED)"},
    {AVERROR_OUTPUT_CHANGED,
     "Output changed between calls. Reconfiguration is required. (can be OR-ed with "
     "AVERROR_INPUT_CHANGED)"},
    {AVERROR_HTTP_BAD_REQUEST, "HTTP or RTSP error: bad request(400)"},
    {AVERROR_HTTP_UNAUTHORIZED, "HTTP or RTSP error: unauthorized(401)"},
    {AVERROR_HTTP_FORBIDDEN, "HTTP or RTSP error: forbidden(403)"},
    {AVERROR_HTTP_NOT_FOUND, "HTTP or RTSP error: not found(404)"},
    {AVERROR_HTTP_OTHER_4XX, "HTTP or RTSP error: other error(4xx)"},
    {AVERROR_HTTP_SERVER_ERROR, "HTTP or RTSP error: server error(5xx)"},

    // Operating-system errors, keyed by errno name so that each text sits at this platform's
    // value (all names are POSIX ones). Where two names share a value only one is listed; a
    // number without a name has no row, because here it is some real error.
    {AVERROR(EINTR), "Interrupted function call"},
    {AVERROR(EBADF), "Bad file number"},
    {AVERROR(EACCES), "Permission denied"},
    {AVERROR(EFAULT), "Bad address"},
    {AVERROR(EINVAL), "Invalid argument / Invalid data found when processing input"},
    {AVERROR(EMFILE), "Too many open files"},
    {AVERROR(EINPROGRESS), "Operation now in progress"},
    {AVERROR(EALREADY), "Operation already in progress"},
    {AVERROR(ENOTSOCK), "Socket operation on non-socket"},
    {AVERROR(EDESTADDRREQ), "Destination address required"},
    {AVERROR(EMSGSIZE), "Message too long"},
    {AVERROR(EPROTOTYPE), "Protocol wrong type for socket"},
    {AVERROR(ENOPROTOOPT), "Protocol not available"},
    {AVERROR(EPROTONOSUPPORT), "Protocol not supported"},
    {AVERROR(EOPNOTSUPP), "Operation not supported on transport endpoint"},
    {AVERROR(EAFNOSUPPORT), "Address family not supported by protocol"},
    {AVERROR(EADDRINUSE), "Address already in use"},
    // Shares the text of its socket twin: "Unknown error" would hide a real, known error.
    {AVERROR(EADDRNOTAVAIL), "Cannot assign requested address"},
    {AVERROR(ENETDOWN), "Network is down"},
    {AVERROR(ENETUNREACH), "Network is unreachable"},
    {AVERROR(ENETRESET), "Network dropped connection because of reset"},
    {AVERROR(ECONNABORTED), "Software caused connection abort"},
    {AVERROR(ECONNRESET), "Connection reset by peer"},
    {AVERROR(ENOBUFS), "No buffer space available"},
    {AVERROR(EISCONN), "Transport endpoint is already connected"},
    {AVERROR(ENOTCONN), "Transport endpoint is not connected"},
    {AVERROR(ETIMEDOUT), "Connection timed out"},
    {AVERROR(ECONNREFUSED), "Connection refused"},
    {AVERROR(ELOOP), "Too many symbolic links encountered"},
    {AVERROR(ENAMETOOLONG), "File name too long"},
    {AVERROR(EHOSTUNREACH), "No route to host"},
    {AVERROR(ENOTEMPTY), "Directory not empty"},
    {AVERROR(ENOENT), "No such file or directory"},
    {AVERROR(ESRCH), "No such process"},
    {AVERROR(EIO), "I/O error"},
    {AVERROR(ENXIO), "No such device or address"},
    {AVERROR(E2BIG), "Argument list too long"},
    {AVERROR(ENOEXEC), "Exec format error"},
    {AVERROR(ECHILD), "No child processes"},
    {AVERROR(EAGAIN), "Resource temporarily unavailable / Try again"},
    {AVERROR(ENOMEM), "Not enough space / Out of memory"},
    {AVERROR(EBUSY), "Device or resource busy"},
    {AVERROR(EEXIST), "File exists"},
    {AVERROR(EXDEV), "Cross-device link"},
    {AVERROR(ENODEV), "No such device"},
    {AVERROR(ENOTDIR), "Not a directory"},
    {AVERROR(EISDIR), "Is a directory"},
    {AVERROR(ENFILE), "Too many open files in system / File table overflow"},
    {AVERROR(ENOTTY), "Inappropriate I/O control operation / Not a typewriter"},
    {AVERROR(EFBIG), "File too large"},
    {AVERROR(ENOSPC), "No space left on device"},
    {AVERROR(ESPIPE), "Illegal seek"},
    {AVERROR(EROFS), "Read-only file system"},
    {AVERROR(EMLINK), "Too many links"},
    {AVERROR(EPIPE), "Broken pipe"},
    {AVERROR(EDOM), "Math argument out of domain of func"},
    {AVERROR(ERANGE), "Math result not representable"},
    {AVERROR(EDEADLK), "Resource deadlock avoided"},
    {AVERROR(ENOLCK), "No locks available"},
    {AVERROR(ENOSYS), "Function not implemented"},
    {AVERROR(EILSEQ), "Illegal byte sequence"},
    {AVERROR(ECANCELED), "Operation Canceled"},
    {AVERROR(EOVERFLOW), "Value too large for defined data type"},
    {AVERROR(EOWNERDEAD), "Owner died"},
    {AVERROR(EPROTO), "Protocol error"},
};

constexpr bool CodesAreUnique() {
  for (size_t i = 0; i < std::size(ErrorRows); ++i)
    for (size_t j = i + 1; j < std::size(ErrorRows); ++j)
      if (ErrorRows[i].err == ErrorRows[j].err) return false;
  return true;
}
static_assert(CodesAreUnique(), "an error code occurs twice in the error table");

}  // namespace

const std::span<const TErrorItem> ErrorTable(ErrorRows);

std::string ErrorText(const std::string& APrefix, int32_t ACode) {
  std::string message;
  for (const TErrorItem& row : ErrorTable)
    if (row.err == ACode) {
      message = row.msg;
      break;
    }
  if (message.empty()) message = "Error number " + std::to_string(ACode) + " occurred";
  return APrefix.empty() ? message : APrefix + ": " + message;
}

}  // namespace kiv
