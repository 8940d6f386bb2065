// zorvex: evaluates expressions from the command line, files or standard
// input on one interpreter and prints one line per expression.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

#ifdef ZORVEX_HAVE_LIBEDIT
#include <histedit.h>
#include <signal.h>
#include <sys/stat.h>

#include <clocale>
#endif

#ifndef ZORVEX_VERSION
#define ZORVEX_VERSION "unknown"
#endif

namespace {

using zorvex::TMathInterpreter;
using zorvex::Variant;
using zorvex::VarKind;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: zorvex [OPTIONS] [FILE...]\n"
    "Evaluate expressions and print one result per line.\n"
    "\n"
    "Sources run in order on one interpreter: every -e text, then every FILE\n"
    "('-' is standard input). Without -e or FILE, standard input is read line\n"
    "by line (interactively when it is a terminal).\n"
    "\n"
    "Options:\n"
    "  -e, --execute TEXT     run TEXT (repeatable)\n"
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
    "Exit status: 0 all expressions succeeded, 1 some failed, 2 usage error.\n";

struct UsageError {
    std::string message;
};

struct Source {
    std::string text;
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
    bool help = false;
    bool version = false;
};

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

// A text as a file is read: it ends at the first zero byte. Line breaks stay:
// the tokenizer takes them as blanks, so an expression may span lines, and a
// string literal spanning lines keeps them, as when the file is loaded.
std::string AsFileText(std::string text) {
    std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

std::string ReadWhole(std::FILE* f, const std::string& displayName) {
    std::string data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    if (std::ferror(f)) {
        int err = errno;
        throw UsageError{"cannot read '" + displayName + "': " + std::strerror(err)};
    }
    return data;
}

std::string ReadSourceFile(const std::string& name) {
    if (name == "-") return ReadWhole(stdin, "standard input");
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) {
        int err = errno;
        throw UsageError{"cannot open '" + name + "': " + std::strerror(err)};
    }
    try {
        std::string data = ReadWhole(f, name);
        std::fclose(f);
        return data;
    } catch (...) {
        std::fclose(f);
        throw;
    }
}

const char* KindName(VarKind kind) {
    switch (kind) {
        case VarKind::Empty: return "empty";
        case VarKind::Null: return "null";
        case VarKind::Integer: return "integer";
        case VarKind::Real: return "real";
        case VarKind::Boolean: return "boolean";
        case VarKind::String: return "string";
        case VarKind::Array: return "array";
    }
    return "unknown";
}

// VarToStr refuses arrays; people still want to see them.
std::string Display(const Variant& v) {
    if (!v.IsArray()) return zorvex::VarToStr(v);
    std::string out = "[";
    bool first = true;
    for (const Variant& item : v.ArrayItems()) {
        if (!first) out += ", ";
        first = false;
        out += Display(item);
    }
    out += "]";
    return out;
}

class Console {
public:
    explicit Console(const Options& opt) : opt_(opt) {
        interp_.SetCaseSensitiveSymbols(opt.caseSensitive);
        interp_.SetEscapeChar(opt.escapeChar);
        interp_.SetDumpFormat(opt.dumpFormat);
        if (opt.maxNesting) interp_.SetMaxFunctionNesting(*opt.maxNesting);
    }

    void Load(const std::string& file) {
        Guard([&] { interp_.LoadSymbolsFromFile(file); });
    }
    void Save(const std::string& file) {
        Guard([&] { interp_.SaveSymbolsToFile(file); });
    }

    void Dump() {
        // One symbol that cannot be dumped does not hide the others.
        const zorvex::TMSymbols& symbols = interp_.Symbols();
        for (int i = 0; i < symbols.Count(); ++i) {
            Guard([&] {
                const zorvex::TMItem* item = symbols.Get(i);
                if (item) std::cout << item->Dump(opt_.dumpFormat) << '\n';
            });
        }
    }

    // Runs every expression of one text; `quiet` drops the blank lines of
    // Null and Empty results, as a person at a terminal expects.
    void RunText(const std::string& text, bool quiet) {
        std::vector<std::string> pieces;
        if (!Guard([&] { pieces = TMathInterpreter::SplitExpressions(text, opt_.escapeChar); })) return;
        for (const std::string& piece : pieces) {
            Guard([&] {
                Variant result = interp_.ExecuteExpression(piece);
                std::string line = Format(result);
                if (!(quiet && (result.IsNull() || result.IsEmpty()))) std::cout << line << '\n';
            });
        }
    }

    bool Failed() const { return failed_; }

private:
    std::string Format(const Variant& v) const {
        if (!opt_.typed) return Display(v);
        if (v.IsNull() || v.IsEmpty()) return KindName(v.Kind());
        return std::string(KindName(v.Kind())) + " " + Display(v);
    }

    template <class F>
    bool Guard(F&& action) {
        try {
            action();
            return true;
        } catch (const zorvex::Exception& e) {
            Report(e.what());
        } catch (const std::bad_alloc&) {
            Report("Out of memory");
        } catch (const std::exception& e) {
            Report(e.what());
        } catch (...) {
            Report("Unknown error");
        }
        return false;
    }

    void Report(const char* message) {
        failed_ = true;
        std::cout << "error: " << message << '\n';
    }

    const Options& opt_;
    TMathInterpreter interp_;
    bool failed_ = false;
};

constexpr char kPrompt[] = "zorvex> ";

// Standard input line by line; at a terminal, with a prompt.
void RunLines(Console& console, bool interactive) {
    std::string line;
    for (;;) {
        if (interactive) std::cout << kPrompt << std::flush;
        if (!std::getline(std::cin, line)) break;
        console.RunText(AsFileText(line), interactive);
        if (interactive) std::cout.flush();
    }
    if (interactive) std::cout << '\n';
}

#ifdef ZORVEX_HAVE_LIBEDIT

const char* Prompt(EditLine*) { return kPrompt; }

// Line editing and history at a terminal, kept in ~/.zorvex_history.
class LineEditor {
public:
    LineEditor() = default;
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;
    ~LineEditor() {
        if (editor_) el_end(editor_);
        if (history_) history_end(history_);
    }

    bool Open() {
        // Characters beyond ASCII need the user's encoding; numbers keep "C".
        std::setlocale(LC_CTYPE, "");
        history_ = history_init();
        editor_ = history_ ? el_init("zorvex", stdin, stdout, stderr) : nullptr;
        if (!editor_) return false;
        HistEvent event;
        history(history_, &event, H_SETSIZE, kHistorySize);
        history(history_, &event, H_SETUNIQUE, 1);
        el_set(editor_, EL_CLIENTDATA, this);
        el_set(editor_, EL_HIST, history, history_);
        el_set(editor_, EL_EDITOR, "emacs");
        el_set(editor_, EL_SIGNAL, 1);
        el_set(editor_, EL_PROMPT, Prompt);
        // Ctrl-C and Ctrl-Z reach the editor as keys: a signal arriving just
        // before the editor waits for a key would be lost, and the terminal
        // left in line mode.
        el_set(editor_, EL_SETTY, "-d", "-isig", nullptr);
        // The wide form keeps the names as given; the narrow one leaks copies.
        el_wset(editor_, EL_ADDFN, L"zorvex-discard", L"Discard the line", Discard);
        el_set(editor_, EL_BIND, "^C", "zorvex-discard", nullptr);
        el_wset(editor_, EL_ADDFN, L"zorvex-suspend", L"Suspend the console", Suspend);
        el_set(editor_, EL_BIND, "^Z", "zorvex-suspend", nullptr);
        // Keys many terminals send that libedit leaves unbound.
        el_set(editor_, EL_BIND, "\033[1~", "ed-move-to-beg", nullptr);
        el_set(editor_, EL_BIND, "\033[4~", "ed-move-to-end", nullptr);
        el_set(editor_, EL_BIND, "\033[3~", "ed-delete-next-char", nullptr);
        el_set(editor_, EL_BIND, "\033[1;5D", "ed-prev-word", nullptr);
        el_set(editor_, EL_BIND, "\033[1;5C", "em-next-word", nullptr);
        el_source(editor_, nullptr);  // the user's ~/.editrc
        LoadHistory();
        return true;
    }

    enum class Input { Line, Discarded, End };

    Input ReadLine(std::string& line) {
        discarded_ = false;
        int count = 0;
        const char* text = el_gets(editor_, &count);
        if (discarded_) return Input::Discarded;
        if (!text || count <= 0) return Input::End;
        line.assign(text, static_cast<std::size_t>(count));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        return Input::Line;
    }

    void Remember(const std::string& line) {
        if (line.find_first_not_of(" \t\r\f\v") == std::string::npos) return;
        HistEvent event;
        history(history_, &event, H_ENTER, line.c_str());
        SaveHistory();
    }

private:
    static constexpr int kHistorySize = 1000;

    static unsigned char Discard(EditLine* editor, int) {
        LineEditor* self = nullptr;
        el_get(editor, EL_CLIENTDATA, &self);
        if (self) self->discarded_ = true;
        return CC_EOF;
    }

    // What the terminal does for Ctrl-Z, with the terminal modes restored
    // around the stop.
    static unsigned char Suspend(EditLine* editor, int) {
        el_set(editor, EL_PREP_TERM, 0);
        kill(0, SIGTSTP);
        el_set(editor, EL_PREP_TERM, 1);
        return CC_REDISPLAY;
    }

    void LoadHistory() {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return;
        path_ = std::string(home) + "/.zorvex_history";
        struct stat info;
        if (stat(path_.c_str(), &info) != 0) {
            // Only a file that is not there yet may be created.
            if (errno != ENOENT) path_.clear();
            return;
        }
        HistEvent event;
        // A file not in our format is left alone rather than overwritten.
        if (!S_ISREG(info.st_mode)) {
            path_.clear();
        } else if (info.st_size > 0 && history(history_, &event, H_LOAD, path_.c_str()) < 0) {
            path_.clear();
        }
    }

    // Written beside the old file and renamed over it, so a failed write
    // never costs the history already kept.
    void SaveHistory() {
        if (path_.empty()) return;
        std::string temp = path_ + ".XXXXXX";
        int fd = mkstemp(temp.data());
        if (fd < 0) return;
        std::FILE* f = fdopen(fd, "w");
        if (!f) {
            close(fd);
            unlink(temp.c_str());
            return;
        }
        HistEvent event;
        bool ok = history(history_, &event, H_SAVE_FP, f) >= 0;
        ok = std::fflush(f) == 0 && ok;
        ok = std::fclose(f) == 0 && ok;
        if (!ok || std::rename(temp.c_str(), path_.c_str()) != 0) unlink(temp.c_str());
    }

    EditLine* editor_ = nullptr;
    History* history_ = nullptr;
    std::string path_;
    bool discarded_ = false;
};

// The interactive console with line editing; false when the terminal does
// not allow it, and the plain loop takes over.
bool RunEdited(Console& console) {
    // Escape sequences belong on a screen, not in a file or pipe.
    if (isatty(STDOUT_FILENO) != 1) return false;
    LineEditor editor;
    if (!editor.Open()) return false;
    std::string line;
    for (;;) {
        std::cout.flush();
        LineEditor::Input input = editor.ReadLine(line);
        if (input == LineEditor::Input::End) break;
        if (input == LineEditor::Input::Discarded) {
            std::cout << '\n';
            continue;
        }
        editor.Remember(line);
        console.RunText(AsFileText(line), true);
    }
    std::cout << '\n';
    return true;
}

#else

bool RunEdited(Console&) { return false; }

#endif

int Run(int argc, char** argv) {
    Options opt;
    std::vector<std::string> texts;
    try {
        opt = ParseArguments(argc, argv);
        if (opt.help) {
            std::cout << kUsage;
            return kExitOk;
        }
        if (opt.version) {
            std::cout << "zorvex " ZORVEX_VERSION "\n";
            return kExitOk;
        }
        // Every file is read before anything runs, so an unreadable one
        // leaves no half-done work behind.
        for (const std::string& e : opt.executes) texts.push_back(AsFileText(e));
        for (const std::string& f : opt.files) texts.push_back(AsFileText(ReadSourceFile(f)));
    } catch (const UsageError& e) {
        std::cerr << "zorvex: " << e.message << "\nTry 'zorvex --help' for more information.\n";
        return kExitUsage;
    }

    Console console(opt);
    for (const std::string& file : opt.loads) console.Load(file);

    if (!opt.executes.empty() || !opt.files.empty()) {
        for (const std::string& text : texts) console.RunText(text, false);
    } else {
        const bool interactive = isatty(STDIN_FILENO) == 1;
        if (!interactive || !RunEdited(console)) RunLines(console, interactive);
    }

    for (const std::string& file : opt.saves) console.Save(file);
    if (opt.dump) console.Dump();
    return console.Failed() ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    int status;
    try {
        status = Run(argc, argv);
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "zorvex: " << e.what() << '\n';
        status = kExitFailed;
    }
    std::cout.flush();
    // A result lost on the way out is a failure, not a success.
    if (!std::cout) {
        std::cerr << "zorvex: error writing standard output\n";
        if (status == kExitOk) status = kExitFailed;
    }
    return status;
}
