// The maker's texts shown by the main window and the about box. There are two variants: one
// for systems whose language is Chinese, one for every other language.
#pragma once

#include <string>

namespace framebrowser {

// True when the system's language is Chinese.
bool SystemLanguageIsChinese();

// The maker's web site address, without a trailing "/".
std::string MakerWebSiteAddress(bool AChinese = SystemLanguageIsChinese());

// The copyright line of the about box.
std::string MakerCopyright(bool AChinese = SystemLanguageIsChinese());

}  // namespace framebrowser
