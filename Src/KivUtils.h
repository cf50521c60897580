// The media utilities: text helpers, option parsing and the picture format converter.
#pragma once

#if __has_include("KivUtilsText.h")
#include "KivUtilsText.h"
#endif
#if __has_include("KivUtilsOptions.h")
#include "KivUtilsOptions.h"
#endif
#if __has_include("KivUtilsConverter.h")
#include "KivUtilsConverter.h"
#endif
