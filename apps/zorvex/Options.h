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

// A text as a file is read: it ends at the first zero byte.
std::string AsFileText(std::string text);
// A source file's text ("-" is standard input): as a file is read, with a
// first line starting with "#!" left out so that scripts can be executable.
std::string ReadSourceFile(const std::string& name);
// Raises UsageError unless the file can be opened for reading.
void CheckReadable(const std::string& name);

}  // namespace console
