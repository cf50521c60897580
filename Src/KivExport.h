// The library is built with every symbol hidden; KIV_API marks what other programs may use.
#pragma once

#define KIV_API __attribute__((visibility("default")))
