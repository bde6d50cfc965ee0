#include "cli/LocaleText.h"

#include <iconv.h>
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <vector>

namespace vyx::cli {

void UseEnvironmentLocale() {
    std::setlocale(LC_ALL, "");
}

std::string ArgumentToUtf8(const std::string& text) {
    const std::string codeset = nl_langinfo(CODESET);
    // The C locale reports ASCII, yet shells still hand over UTF-8 there.
    if (codeset == "UTF-8" || codeset == "ANSI_X3.4-1968") {
        return text;
    }
    iconv_t converter = iconv_open("UTF-8", codeset.c_str());
    // (iconv_t)-1 is iconv_open's documented failure value.
    if (converter == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
        return text;
    }
    std::vector<char> in(text.begin(), text.end());
    std::vector<char> out(text.size() * 4 + 4);
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) {
        return text;
    }
    return std::string(out.data(), out.size() - outLeft);
}

}  // namespace vyx::cli
