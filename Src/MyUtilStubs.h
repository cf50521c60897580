// Entry points of the C library, in binding order. The C library exports snprintf and
// vsnprintf where other runtimes have _snprintf and _vsnprintf; those names are bound into
// the variables _snprintf and _vsnprintf. strchr, strrchr and strstr are typed as
// the C functions, since C++ overloads them.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "StubSupport.h"

#define KIV_MYUTIL_ENTRY_POINTS(FN, EX)                                  \
  FN(atoi)                                                               \
  FN(fclose)                                                             \
  FN(ferror)                                                             \
  FN(fopen)                                                              \
  FN(fprintf)                                                            \
  FN(fread)                                                              \
  FN(fseek)                                                              \
  FN(ftell)                                                              \
  FN(fwrite)                                                             \
  EX(_snprintf, "snprintf", int (*)(char*, size_t, const char*, ...), false) \
  FN(sscanf)                                                             \
  EX(strchr, "strchr", char* (*)(const char*, int), false)                                                            \
  FN(strcmp)                                                             \
  FN(strcspn)                                                            \
  FN(strncmp)                                                            \
  EX(strrchr, "strrchr", char* (*)(const char*, int), false)                                                           \
  EX(strstr, "strstr", char* (*)(const char*, const char*), false)                                                            \
  FN(strtod)                                                             \
  FN(strtok)                                                             \
  FN(strtol)                                                             \
  FN(vsprintf)                                                           \
  EX(_vsnprintf, "vsnprintf", int (*)(char*, size_t, const char*, va_list), false)

KIV_DECLARE_STUB_UNIT(MyUtilStubs, KIV_MYUTIL_ENTRY_POINTS)
