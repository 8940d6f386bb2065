#include "Terminal.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace console {

Terminal Terminal::Detect() {
    Terminal t;
    t.inputIsTerminal = isatty(STDIN_FILENO) == 1;
    t.outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    // Only the character set: numbers keep the "C" locale.
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    t.utf8 = codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    const char* term = std::getenv("TERM");
    t.colour = t.outputIsTerminal && std::getenv("NO_COLOR") == nullptr &&
               !(term != nullptr && std::strcmp(term, "dumb") == 0);
    return t;
}

int Terminal::Width() const {
    winsize size{};
    if (outputIsTerminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string Terminal::Latin1ToUtf8(const std::string& latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool Utf8ToLatin1(const std::string& utf8, std::string& latin1, std::string& error, std::size_t& column) {
    latin1.clear();
    column = 0;
    for (std::size_t i = 0; i < utf8.size(); ++column) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            latin1 += utf8[i++];
            continue;
        }
        int length = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (c >= 0xF8) length = 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > utf8.size()) {
            error = "the typed text is not valid UTF-8";
            return false;
        }
        unsigned long code = c & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto cont = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            if ((cont & 0xC0) != 0x80) {
                error = "the typed text is not valid UTF-8";
                return false;
            }
            code = (code << 6) | (cont & 0x3F);
        }
        if (code > 0xFF) {
            char name[24];
            std::snprintf(name, sizeof name, "U+%04lX", code);
            error = std::string("the character ") + name +
                    " is not in Latin-1, the only characters expressions can hold";
            return false;
        }
        latin1 += static_cast<char>(code);
        i += static_cast<std::size_t>(length);
    }
    return true;
}

}  // namespace console
