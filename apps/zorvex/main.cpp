// zorvex: evaluates expressions from the command line, files or standard
// input on one interpreter and prints one line per expression; at a
// terminal, an interactive console.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Console.h"
#include "Interrupts.h"
#include "LineEditor.h"
#include "Options.h"
#include "Script.h"
#include "Terminal.h"

#ifndef ZORVEX_VERSION
#define ZORVEX_VERSION "unknown"
#endif

namespace {

using namespace console;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kPrompt[] = "zorvex> ";
// As wide as the first, so that a caret finds its column under either.
constexpr char kMorePrompt[] = "   ...> ";
constexpr int kPromptWidth = 8;

// The interactive console with line editing; false when the terminal does
// not allow it, and the plain reader takes over.
bool RunEdited(Console& console, const Terminal& terminal) {
#ifdef ZORVEX_HAVE_LIBEDIT
    // Escape sequences belong on a screen, not in a file or pipe.
    if (!terminal.outputIsTerminal) return false;
    LineEditor editor(console, kPrompt, kMorePrompt, terminal.utf8);
    if (!editor.Open()) return false;
    console.RunScript(editor, true);
    return true;
#else
    (void)console;
    (void)terminal;
    return false;
#endif
}

// A source given on the command line: a -e text or an opened FILE.
struct Source {
    std::string text;
    int fd = -1;
    std::string name;
};

int Run(int argc, char** argv) {
    Terminal terminal = Terminal::Detect();
    Options opt;
    std::vector<Source> sources;
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
        terminal.bytes = opt.bytes;
        // Every file is opened before anything runs, so an unreadable one
        // leaves no half-done work behind.
        for (const std::string& f : opt.loads) CheckReadable(f);
        // Under a UTF-8 locale a -e text reaches the runtime as Latin-1, as
        // every line read does; results come back the same way.
        for (const std::string& e : opt.executes) {
            std::string text = e, error;
            std::size_t column = 0;
            if (terminal.Converts() && !Utf8ToLatin1(text, error, column))
                throw UsageError{"-e text: " + error + " (--bytes takes bytes as they are)"};
            sources.push_back({AsFileText(text), -1, {}});
        }
        for (const std::string& f : opt.files)
            sources.push_back({{}, OpenSource(f), f == "-" ? std::string("standard input") : f});
    } catch (const UsageError& e) {
        for (const Source& s : sources)
            if (s.fd > STDIN_FILENO) close(s.fd);
        std::cerr << "zorvex: " << e.message << "\nTry 'zorvex --help' for more information.\n";
        return kExitUsage;
    }

    Console console(opt, terminal);
    const bool lines = sources.empty() || opt.interactive;
    const bool interactive = lines && terminal.inputIsTerminal;
    std::unique_ptr<InterruptTarget> target;
    if (interactive) {
        CatchInterrupts();
        target = std::make_unique<InterruptTarget>(console.Interpreter());
    }

    // Ctrl-C with -i skips what is left and goes on to the prompt.
    bool going = true;
    for (const std::string& file : opt.loads) going = going && console.Load(file);
    for (Source& s : sources) {
        if (!going) {
            if (s.fd > STDIN_FILENO) close(s.fd);
            continue;
        }
        if (s.fd < 0) {
            going = console.RunText(s.text);
            continue;
        }
        FdLines file(s.fd, s.name, s.fd != STDIN_FILENO);
        const Console::Outcome outcome = console.RunScript(file, false);
        going = outcome == Console::Outcome::Ended;
        // .quit in a file leaves before the prompt too.
        if (outcome == Console::Outcome::Quit) opt.interactive = false;
    }

    if (interactive && (opt.interactive || sources.empty())) {
        std::cout << "Zorvex " ZORVEX_VERSION " expression console. Type .help for help, .quit to leave.\n";
        console.StartSession(kPromptWidth);
        ClearInterrupted();
        if (!RunEdited(console, terminal)) {
            FdLines typed(STDIN_FILENO, "standard input", false, kPrompt, kMorePrompt);
            console.RunScript(typed, true);
        }
    } else if (lines && (opt.interactive || sources.empty())) {
        FdLines input(STDIN_FILENO, "standard input", false);
        console.RunScript(input, false);
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
