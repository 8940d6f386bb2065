// The command line of the console and reading its source files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zorvex/MathItem.h"

namespace console {

// Unknown option, bad value, unreadable file: reported on stderr, exit 2.
struct UsageError {
    std::string message;
};

struct Options {
    std::vector<std::string> executes;
    std::vector<std::string> files;
    bool typed = false;
    char escapeChar = '\0';
    bool caseSensitive = false;
    std::optional<std::uint32_t> maxNesting;
    std::uint32_t timeLimit = 0;  // ms of one evaluation; 0: none
    int digits = 15;              // significant digits of reals shown
    int fixed = -1;               // decimals of reals shown; -1: off
    bool bytes = false;           // no UTF-8 conversion whatever the locale
    std::vector<std::string> loads;
    std::vector<std::string> saves;
    bool dump = false;
    zorvex::TDumpFormat dumpFormat = zorvex::dfQualified;
    bool interactive = false;  // -i: a console after the sources
    bool help = false;
    bool version = false;
};

extern const char kUsage[];

Options ParseArguments(int argc, char** argv);
zorvex::TDumpFormat ParseDumpFormat(const std::string& list);
std::string DumpFormatName(zorvex::TDumpFormat format);

// A whole number from `low` to `high`; raises UsageError naming `what`.
std::uint32_t ParseNumber(const std::string& text, std::uint32_t low, std::uint32_t high, const std::string& what);

// A text as a file is read: it ends at the first zero byte.
std::string AsFileText(std::string text);
// Opens a file for reading, or raises UsageError; OpenSource takes "-" for
// standard input.
int OpenFile(const std::string& name);
int OpenSource(const std::string& name);
// Raises UsageError unless the file can be opened for reading.
void CheckReadable(const std::string& name);

// Text given by the user, cut as the runtime cuts names in its messages.
std::string Excerpt(const std::string& text);

}  // namespace console
