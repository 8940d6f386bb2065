#include "Terminal.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace console {

namespace {

bool NamesUtf8(std::string_view name) {
    std::string lower;
    for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

// The character set the locale variables ask for, also when the C library
// lacks that locale: the first of LC_ALL, LC_CTYPE and LANG that is set.
bool LocaleIsUtf8() {
    if (std::setlocale(LC_CTYPE, "") != nullptr) {
        const char* codeset = nl_langinfo(CODESET);
        return codeset != nullptr && NamesUtf8(codeset);
    }
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return NamesUtf8(value);
    }
    return false;
}

}  // namespace

Terminal Terminal::Detect() {
    Terminal t;
    t.inputIsTerminal = isatty(STDIN_FILENO) == 1;
    t.outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    // Only the character set: numbers keep the "C" locale.
    t.utf8 = LocaleIsUtf8();
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

std::string NotUtf8(unsigned char byte) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", byte);
    return std::string("the text is not valid UTF-8 (byte ") + hex + ")";
}

bool Utf8ToLatin1(std::string& text, std::string& error, std::size_t& column) {
    // Never longer than the UTF-8 it comes from: written over it.
    std::size_t out = 0;
    column = 0;
    for (std::size_t i = 0; i < text.size(); ++column) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            text[out++] = text[i++];
            continue;
        }
        // Overlong forms, surrogates and code points past U+10FFFF are no
        // UTF-8 either.
        const std::size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        unsigned long code = c & (0x7F >> length);
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            valid = (cont & 0xC0) == 0x80;
            code = (code << 6) | (cont & 0x3F);
        }
        static const unsigned long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            error = NotUtf8(c);
        } else if (code > 0xFF) {
            char name[24];
            std::snprintf(name, sizeof name, "U+%04lX", code);
            error = std::string("the character ") + name +
                    " is not in Latin-1, the only characters expressions can hold";
        } else {
            text[out++] = static_cast<char>(code);
            i += length;
            continue;
        }
        text.resize(out);
        return false;
    }
    text.resize(out);
    return true;
}

}  // namespace console
