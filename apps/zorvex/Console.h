// One interpreter and what the console does with it: runs texts and typed
// lines, prints results and errors, answers `ans`, and the dot commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "Options.h"
#include "Terminal.h"
#include "zorvex/MathInterpreter.h"

namespace console {

// A value as people read it; arrays too.
std::string Display(const zorvex::Variant& v);

class Console {
public:
    Console(const Options& opt, const Terminal& terminal);

    zorvex::TMathInterpreter& Interpreter() { return interp_; }

    // Once on: results of Null print nothing, errors point at the typed
    // line and no longer count as failures of the run.
    void StartSession(int promptWidth);

    // Runs every expression of a text; false when it was interrupted.
    bool RunText(const std::string& text);
    // A line read from standard input: a dot command or a text. False once
    // the user asked to leave.
    bool RunLine(const std::string& line);

    void Load(const std::string& file);
    void Save(const std::string& file);
    void Dump();
    bool Failed() const { return failed_; }

    // What Tab may offer for a word, a command or a file name.
    std::vector<std::string> Words() const;
    static const std::vector<std::string>& Commands();
    static bool TakesFile(const std::string& command);

private:
    struct Piece {
        std::string text;
        std::size_t offset;  // in the line
    };

    bool RunPieces(const std::vector<Piece>& pieces, const std::string* line);
    void ShowResult(const zorvex::Variant& v);
    // An error line; with the typed line, a caret under the column first.
    void Report(const std::string& message, const std::string* line = nullptr, std::size_t column = std::string::npos);
    void Print(const std::string& latin1);

    bool Command(const std::string& line);
    void Help(const std::string& name);
    void Functions();
    void ListSymbols(zorvex::TDumpFormat format);
    void Set(const std::string& args);
    void RunFile(const std::string& file);

    const Options& opt_;
    const Terminal& terminal_;
    zorvex::TMathInterpreter interp_;
    bool session_ = false;
    int promptWidth_ = 0;
    bool failed_ = false;
    bool hasAns_ = false;
    zorvex::Variant ans_;
};

}  // namespace console
