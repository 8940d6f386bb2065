// One interpreter and what the console does with it: runs texts and
// scripts, prints results and errors, answers `ans`, and the dot commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Options.h"
#include "Script.h"
#include "Terminal.h"
#include "zorvex/MathInterpreter.h"

namespace console {

// How reals are shown: significant digits, or a fixed number of decimals.
struct RealFormat {
    int digits = 15;
    int fixed = -1;  // off
};

// A value as people read it; arrays too.
std::string Display(const zorvex::Variant& v, const RealFormat& format = {});

// Where in `text` the error points (0-based), or npos. An error inside a
// user function's body points at the outermost call in `text`.
std::size_t ErrorOffset(const zorvex::Exception& error, const std::string& text,
                        const zorvex::TMathInterpreter& interp);

class Console {
public:
    Console(const Options& opt, const Terminal& terminal);

    zorvex::TMathInterpreter& Interpreter() { return interp_; }

    // Once on: results of Null print nothing, typed errors point at the
    // line and no longer count as failures of the run.
    void StartSession(int promptWidth);

    // Runs every expression of a text; false when it was interrupted.
    bool RunText(const std::string& text);

    enum class Outcome { Ended, Quit, Interrupted };
    // Runs the lines of a source as a script: dot commands, comments,
    // texts over several lines. `typed`: a person types them at the prompt.
    Outcome RunScript(LineSource& source, bool typed);

    // False when interrupted.
    bool Load(const std::string& file);
    void Save(const std::string& file);
    void Dump();
    bool Failed() const { return failed_; }

    // What Tab may offer for a word, a command or a file name, and what
    // follows a completed name ("(" after a function that takes operands).
    std::vector<std::string> Words() const;
    std::string AfterName(const std::string& name) const;
    static const std::vector<std::string>& Commands();
    static bool TakesFile(const std::string& command);

private:
    struct Piece {
        std::string text;
        std::size_t offset;  // in the text it came from
    };
    enum class Origin { Runtime, Console };

    // False when interrupted. With `typed`, errors point into it.
    // Runs the expressions of a text one by one as they are split off.
    bool RunPieces(const std::string& text, const std::string* typed);
    // One expression; false when the rest of the text must not run.
    bool RunPiece(const Piece& piece, const std::string* typed);
    bool RunTyped(const std::string& text, bool typed);
    void ShowResult(const zorvex::Variant& v);
    // An error line; with the typed text, a caret under `offset` first.
    // Messages of the console hold names as they were given, not Latin-1.
    void Report(const std::string& message, Origin origin = Origin::Runtime, const std::string* typed = nullptr,
                std::size_t offset = std::string::npos);
    void Caret(const std::string& typed, std::size_t offset);
    // An evaluation stopped by Ctrl-C or a budget.
    void ReportStop(const zorvex::EInterrupted& e, const std::string& note = {});
    void Print(const std::string& latin1);

    // One line of a script that starts with ".": false to leave.
    bool Command(const std::string& line);
    bool Hint(const std::string& text);
    void Help(const std::string& name);
    void Functions();
    void ListSymbols(zorvex::TDumpFormat format);
    void Set(const std::string& args);
    bool RunFile(const std::string& file);  // false: .quit was read
    void LoadCommand(const std::string& file);
    void Configure(zorvex::TMathInterpreter& interp) const;

    const Options& opt_;
    const Terminal& terminal_;
    zorvex::TMathInterpreter interp_;
    RealFormat format_;
    bool session_ = false;
    int promptWidth_ = 0;
    bool failed_ = false;
    bool moved_ = false;  // output since the text was read
    bool hasAns_ = false;
    zorvex::Variant ans_;
};

}  // namespace console
