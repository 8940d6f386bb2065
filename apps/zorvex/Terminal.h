// What the console's standard streams are connected to, and the text
// encoding between the runtime's Latin-1 bytes and the locale's UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace console {

struct Terminal {
    bool inputIsTerminal = false;
    bool outputIsTerminal = false;
    bool utf8 = false;    // the locale's character set
    bool bytes = false;   // --bytes: no conversion whatever the locale
    bool colour = false;  // output is a terminal, NO_COLOR unset, TERM not dumb

    // Reads the process's streams, locale and environment.
    static Terminal Detect();
    // Columns of the output terminal; 80 when unknown.
    int Width() const;

    // Whether text crosses the console's edge as UTF-8.
    bool Converts() const { return utf8 && !bytes; }
    // Text the runtime made, for the output.
    std::string Show(const std::string& latin1) const { return Converts() ? Latin1ToUtf8(latin1) : latin1; }

    static std::string Latin1ToUtf8(const std::string& latin1);
};

// UTF-8 text turned into the runtime's Latin-1 bytes, in place. On failure
// `error` says why, `column` is the 0-based character index of the culprit
// and `text` holds the characters before it.
bool Utf8ToLatin1(std::string& text, std::string& error, std::size_t& column);
// The message for a byte that starts no valid UTF-8 character.
std::string NotUtf8(unsigned char byte);

}  // namespace console
