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
    "('-' is standard input). Without -e or FILE, standard input is read line\n"
    "by line (interactively when it is a terminal; type .help there).\n"
    "\n"
    "Options:\n"
    "  -e, --execute TEXT     run TEXT (repeatable)\n"
    "  -i, --interactive      after the sources, continue at the prompt\n"
    "      --typed            prefix each result with its kind\n"
    "      --escape-char C    escape character inside string literals\n"
    "      --case-sensitive   symbol names are case-sensitive\n"
    "      --max-nesting N    maximum user function nesting (default 1000)\n"
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

std::uint32_t ParseNesting(const std::string& text) {
    if (text.empty() || text.size() > 10) throw UsageError{"invalid --max-nesting value '" + text + "'"};
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') throw UsageError{"invalid --max-nesting value '" + text + "'"};
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > UINT32_MAX) throw UsageError{"--max-nesting value out of range '" + text + "'"};
    return static_cast<std::uint32_t>(value);
}

std::string ErrnoText(const std::string& what, const std::string& name, int err) {
    return what + " '" + name + "': " + std::strerror(err);
}

std::string ReadFd(int fd, const std::string& displayName) {
    std::string data;
    char buffer[65536];
    for (;;) {
        // One read of zero bytes is the end: at a terminal that is the first
        // Ctrl-D, and no second one is waited for.
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return data;
        } else if (errno != EINTR) {
            throw UsageError{ErrnoText("cannot read", displayName, errno)};
        }
    }
}

}  // namespace

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
            throw UsageError{"invalid --dump-format item '" + word + "' (use detailed, qualified)"};
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
            if (i + 1 >= argc) throw UsageError{"option '" + name + "' requires an argument"};
            return argv[++i];
        };
        auto noValue = [&] {
            if (inlineValue) throw UsageError{"option '" + name + "' takes no argument"};
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
            if (c.size() != 1) throw UsageError{"--escape-char needs exactly one character, got '" + c + "'"};
            opt.escapeChar = c[0];
        } else if (name == "--case-sensitive") {
            noValue();
            opt.caseSensitive = true;
        } else if (name == "--max-nesting") {
            opt.maxNesting = ParseNesting(value());
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
            throw UsageError{"unknown option '" + arg + "'"};
        }
    }
    return opt;
}

std::string AsFileText(std::string text) {
    std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

void CheckReadable(const std::string& name) {
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw UsageError{ErrnoText("cannot open", name, errno)};
    struct stat info {};
    const bool isDirectory = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    close(fd);
    if (isDirectory) throw UsageError{ErrnoText("cannot read", name, EISDIR)};
}

std::string ReadSourceFile(const std::string& name) {
    std::string text;
    if (name == "-") {
        text = ReadFd(STDIN_FILENO, "standard input");
    } else {
        int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw UsageError{ErrnoText("cannot open", name, errno)};
        try {
            text = ReadFd(fd, name);
        } catch (...) {
            close(fd);
            throw;
        }
        close(fd);
    }
    text = AsFileText(std::move(text));
    // The line break stays, so the next line still starts a line.
    if (text.rfind("#!", 0) == 0) text.erase(0, text.find('\n') == std::string::npos ? text.size() : text.find('\n'));
    return text;
}

}  // namespace console
