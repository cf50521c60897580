// Operating-system primitives: shared-library loading and entry-point binding.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "KivExport.h"
#include "KivTypes.h"

namespace kiv {

// Raised by BindEntryPoint when a required name is not exported.
class KIV_API EBindError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TLibHandle = void*;

// Error codes of a failed open. dlopen reports only a text, so the code tells the two
// situations a caller can act on apart.
inline constexpr int32_t LoadErrorNotFound = 2;   // ENOENT: the file exists nowhere
inline constexpr int32_t LoadErrorBadFormat = 8;  // ENOEXEC: found, but no loadable library

// Creates the process-wide state of LoadLibraryFromDir and FreeLibraryHandle. A module that
// frees libraries in its finalisation calls it in its initialisation: static objects are
// destroyed in the reverse order of their creation, so the state then outlives that module.
void InitLibraryLoading();

// Opens Dir + FileName when that file exists, otherwise FileName by bare name through the
// system's search path. Returns nullptr on failure and sets AErrorCode and AErrorText.
KIV_API TLibHandle LoadLibraryFromDir(const TPathFileName& ADir, const TPathFileName& AFileName,
                                      int32_t& AErrorCode, std::string& AErrorText);

// Releases a handle returned by LoadLibraryFromDir.
KIV_API void FreeLibraryHandle(TLibHandle AHandle);

// A system text without its trailing control characters, spaces and full stops.
KIV_API std::string TrimSystemMessage(std::string AText);

// True when a file (or a link to one) of that name exists.
KIV_API bool FileExists(const TPathFileName& AFileName);

// printf-style formatting into a string, under the program's locale.
KIV_API std::string Format(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
KIV_API std::string FormatV(const char* AFormat, va_list AArgs);

// The text before the first ASeparator in ASource (all of it when there is none); with
// ARemove, ASource keeps only what follows the separator (nothing when there is none).
KIV_API std::string FetchToken(std::string& ASource, const std::string& ASeparator, bool ARemove);

// A size as "%.2f GB", "%.2f MB", "%.2f KB" (above 2^30, 2^20, 2^10 bytes) or "%d Byte", with
// the decimal separator of the program's LC_NUMERIC.
KIV_API std::string FileSizeToStr(int64_t ASize);

// The size of a file in bytes; -1 when there is no such file or it cannot be read.
KIV_API int64_t FileSizeOf(const TPathFileName& AFileName);

// The full path of the running program.
KIV_API TPathFileName ExeFileName();

// The running program's directory, ending with "/".
KIV_API TPathFileName ExeFilePath();

// Resolves a name into an untyped address; nullptr when it is not exported.
KIV_API void* ResolveEntryPoint(TLibHandle AHandle, const char* AName, std::string& AErrorText);

// Stores the address of AName in AVariable. A missing required name raises EBindError with
// "Load function %s@%s error: %s"; a missing optional name leaves AVariable null.
KIV_API void BindEntryPointAddress(const TPathFileName& ALibName, TLibHandle AHandle,
                                   const char* AName, void*& AAddress, bool AOptional);

template <typename TFunction>
void BindEntryPoint(const TPathFileName& ALibName, TLibHandle AHandle, const char* AName,
                    TFunction& AVariable, bool AOptional = false) {
  void* address = nullptr;
  BindEntryPointAddress(ALibName, AHandle, AName, address, AOptional);
  AVariable = reinterpret_cast<TFunction>(address);
}

}  // namespace kiv
