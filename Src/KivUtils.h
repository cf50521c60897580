// The media utilities: text helpers, option parsing and the picture format converter.
#pragma once

#include "KivUtilsConverter.h"
#include "KivUtilsOptions.h"
#include "KivUtilsText.h"
