// zorvex: evaluates expressions from the command line, files or standard
// input on one interpreter and prints one line per expression; at a
// terminal, an interactive console.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Console.h"
#include "LineEditor.h"
#include "Options.h"
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
constexpr int kPromptWidth = 8;

zorvex::TMathInterpreter* interrupted = nullptr;
volatile sig_atomic_t sigintSeen = 0;

// Ctrl-C: stop the evaluation, keep the session.
extern "C" void OnInterrupt(int) {
    sigintSeen = 1;
    if (interrupted != nullptr) interrupted->Interrupt();
}

void CatchInterrupts(Console& console) {
    interrupted = &console.Interpreter();
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a read waiting for a line gives up
    sigaction(SIGINT, &action, nullptr);
}

// Lines of a file descriptor; a Ctrl-C while waiting drops what was typed.
class LineReader {
public:
    enum class Input { Line, Discarded, End };

    Input Read(std::string& line) {
        for (;;) {
            const std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line.assign(buffer_, 0, nl);
                buffer_.erase(0, nl + 1);
                return Input::Line;
            }
            if (ended_) {
                if (buffer_.empty()) return Input::End;
                line.swap(buffer_);
                buffer_.clear();
                return Input::Line;
            }
            char chunk[4096];
            const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
            if (n > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ended_ = true;
            } else if (sigintSeen) {
                sigintSeen = 0;
                buffer_.clear();
                return Input::Discarded;
            }
        }
    }

private:
    std::string buffer_;
    bool ended_ = false;
};

// Standard input line by line; at a terminal, with a prompt.
void RunLines(Console& console, bool prompt) {
    LineReader reader;
    std::string line;
    for (;;) {
        if (prompt) std::cout << kPrompt << std::flush;
        const LineReader::Input input = reader.Read(line);
        if (input == LineReader::Input::End) break;
        if (input == LineReader::Input::Discarded) {
            std::cout << '\n';
            continue;
        }
        console.Interpreter().ClearInterrupt();
        sigintSeen = 0;
        if (!console.RunLine(line)) return;
        std::cout.flush();
    }
    if (prompt) std::cout << '\n';
}

// The interactive console with line editing; false when the terminal does
// not allow it, and the plain loop takes over.
bool RunEdited(Console& console) {
#ifdef ZORVEX_HAVE_LIBEDIT
    // Escape sequences belong on a screen, not in a file or pipe.
    if (isatty(STDOUT_FILENO) != 1) return false;
    LineEditor editor(console, kPrompt);
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
        console.Interpreter().ClearInterrupt();
        if (!console.RunLine(line)) return true;
    }
    std::cout << '\n';
    return true;
#else
    (void)console;
    return false;
#endif
}

int Run(int argc, char** argv) {
    const Terminal terminal = Terminal::Detect();
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
        for (const std::string& f : opt.loads) CheckReadable(f);
        // Typed at a UTF-8 terminal, a -e text reaches the runtime as
        // Latin-1, as a typed line does; results come back the same way.
        for (const std::string& e : opt.executes) {
            std::string text = e, error;
            std::size_t column = 0;
            if (terminal.outputIsTerminal && terminal.utf8 && !Utf8ToLatin1(e, text, error, column))
                throw UsageError{"-e text: " + error};
            texts.push_back(AsFileText(text));
        }
        for (const std::string& f : opt.files) texts.push_back(ReadSourceFile(f));
    } catch (const UsageError& e) {
        std::cerr << "zorvex: " << e.message << "\nTry 'zorvex --help' for more information.\n";
        return kExitUsage;
    }

    Console console(opt, terminal);
    const bool sources = !texts.empty();
    const bool lines = !sources || opt.interactive;
    const bool interactive = lines && terminal.inputIsTerminal;
    if (interactive) CatchInterrupts(console);

    for (const std::string& file : opt.loads) console.Load(file);
    for (const std::string& text : texts)
        if (!console.RunText(text)) break;  // Ctrl-C with -i: on to the prompt

    if (interactive) {
        std::cout << "Zorvex " ZORVEX_VERSION " expression console. Type .help for help, .quit to leave.\n";
        console.StartSession(kPromptWidth);
        if (!RunEdited(console)) RunLines(console, true);
    } else if (lines) {
        RunLines(console, false);
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
