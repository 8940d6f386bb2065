#include "Options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace console {

const char kUsage[] =
    "Usage: zorvex [OPTIONS] [FILE...]\n"
    "Evaluate expressions and print one result per line.\n"
    "\n"
    "Sources run in order on one interpreter: every -e text, then every FILE\n"
    "('-' is standard input). A FILE is a script: expressions one or more to a\n"
    "line, '#' comments, and a line goes on while a bracket or a string is open\n"
    "or it ends with an operator. Without -e or FILE, standard input is read so\n"
    "(interactively when it is a terminal; type .help there).\n"
    "\n"
    "Options:\n"
    "  -e, --execute TEXT     run TEXT (repeatable)\n"
    "  -i, --interactive      after the sources, continue at the prompt\n"
    "      --typed            prefix each result with its kind\n"
    "      --escape-char C    escape character inside string literals\n"
    "      --case-sensitive   symbol names are case-sensitive\n"
    "      --max-nesting N    maximum user function nesting (default 1000)\n"
    "      --time-limit MS    stop an evaluation after MS milliseconds\n"
    "                         (default 0: no limit)\n"
    "      --digits N         show reals with N significant digits, 1 to 17\n"
    "                         (default 15)\n"
    "      --fixed N          show reals with N decimals, 0 to 17\n"
    "      --bytes            read and write bytes as they are, whatever the\n"
    "                         character set of the locale\n"
    "      --load FILE        load symbols from FILE before the sources\n"
    "      --save FILE        save symbols to FILE after the sources\n"
    "      --dump             print every symbol after the sources\n"
    "      --dump-format LIST comma-separated 'detailed', 'qualified';\n"
    "                         empty for plain (default: qualified)\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status: 0 all expressions succeeded, 1 some failed, 2 usage error.\n"
    "Errors typed at the interactive prompt do not count.\n";

namespace {

std::string ErrnoText(const std::string& what, const std::string& name, int err) {
    return what + " '" + Excerpt(name) + "': " + std::strerror(err);
}

}  // namespace

std::uint32_t ParseNumber(const std::string& text, std::uint32_t low, std::uint32_t high, const std::string& what) {
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
        ok = ok && c >= '0' && c <= '9';
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok) throw UsageError{"invalid " + what + " value '" + Excerpt(text) + "'"};
    if (value < low || value > high) throw UsageError{what + " value out of range '" + text + "'"};
    return static_cast<std::uint32_t>(value);
}

zorvex::TDumpFormat ParseDumpFormat(const std::string& list) {
    zorvex::TDumpFormat format = 0;
    std::size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string word = list.substr(start, comma - start);
        if (word == "detailed")
            format |= zorvex::dfDetailed;
        else if (word == "qualified")
            format |= zorvex::dfQualified;
        else if (!word.empty())
            throw UsageError{"invalid --dump-format item '" + Excerpt(word) + "' (use detailed, qualified)"};
        start = comma + 1;
    }
    return format;
}

std::string DumpFormatName(zorvex::TDumpFormat format) {
    std::string name;
    if (format & zorvex::dfDetailed) name = "detailed";
    if (format & zorvex::dfQualified) name += name.empty() ? "qualified" : ",qualified";
    return name.empty() ? "plain" : name;
}

Options ParseArguments(int argc, char** argv) {
    Options opt;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            opt.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Long options also take "--name=value".
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (arg.size() > 2 && arg.rfind("-e", 0) == 0) {
            name = "-e";
            inlineValue = arg.substr(2);
        } else if (arg.rfind("--", 0) == 0) {
            std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= argc) throw UsageError{"option '" + Excerpt(name) + "' requires an argument"};
            return argv[++i];
        };
        auto noValue = [&] {
            if (inlineValue) throw UsageError{"option '" + Excerpt(name) + "' takes no argument"};
        };

        if (name == "-e" || name == "--execute") {
            opt.executes.push_back(value());
        } else if (name == "-i" || name == "--interactive") {
            noValue();
            opt.interactive = true;
        } else if (name == "--typed") {
            noValue();
            opt.typed = true;
        } else if (name == "--escape-char") {
            std::string c = value();
            if (c.size() != 1) throw UsageError{"--escape-char needs exactly one character, got '" + Excerpt(c) + "'"};
            opt.escapeChar = c[0];
        } else if (name == "--case-sensitive") {
            noValue();
            opt.caseSensitive = true;
        } else if (name == "--max-nesting") {
            opt.maxNesting = ParseNumber(value(), 0, UINT32_MAX, "--max-nesting");
        } else if (name == "--time-limit") {
            opt.timeLimit = ParseNumber(value(), 0, UINT32_MAX, "--time-limit");
        } else if (name == "--digits") {
            opt.digits = static_cast<int>(ParseNumber(value(), 1, 17, "--digits"));
            opt.fixed = -1;  // the later of the two wins
        } else if (name == "--fixed") {
            opt.fixed = static_cast<int>(ParseNumber(value(), 0, 17, "--fixed"));
        } else if (name == "--bytes") {
            noValue();
            opt.bytes = true;
        } else if (name == "--load") {
            opt.loads.push_back(value());
        } else if (name == "--save") {
            opt.saves.push_back(value());
        } else if (name == "--dump") {
            noValue();
            opt.dump = true;
        } else if (name == "--dump-format") {
            opt.dumpFormat = ParseDumpFormat(value());
        } else if (name == "-h" || name == "--help") {
            noValue();
            opt.help = true;
        } else if (name == "--version") {
            noValue();
            opt.version = true;
        } else {
            throw UsageError{"unknown option '" + Excerpt(arg) + "'"};
        }
    }
    return opt;
}

std::string AsFileText(std::string text) {
    std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

int OpenSource(const std::string& name) { return name == "-" ? STDIN_FILENO : OpenFile(name); }

int OpenFile(const std::string& name) {
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw UsageError{ErrnoText("cannot open", name, errno)};
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        throw UsageError{ErrnoText("cannot read", name, EISDIR)};
    }
    return fd;
}

void CheckReadable(const std::string& name) { close(OpenFile(name)); }

std::string Excerpt(const std::string& text) {
    constexpr std::size_t kMax = 60;
    return text.size() <= kMax ? text : text.substr(0, kMax) + "...";
}

}  // namespace console
