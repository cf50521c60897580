#include "MakerInfo.h"

#include <QLocale>

namespace framebrowser {

bool SystemLanguageIsChinese() { return QLocale::system().language() == QLocale::Chinese; }

// The project has no home of its own yet: a reserved example domain stands in for it.
std::string MakerWebSiteAddress(bool AChinese) {
  return AChinese ? "https://kiv.example.org/zh" : "https://kiv.example.org";
}

std::string MakerCopyright(bool AChinese) {
  return AChinese ? "Copyright (C) 2026 Kiv \u5F00\u53D1\u8005"
                  : "Copyright (C) 2026 The Kiv developers";
}

}  // namespace framebrowser
