// The console's dot commands; the language's tokenizer rejects ".", so they
// never clash with an expression.
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>

#include "Console.h"
#include "Interrupts.h"
#include "zorvex/Builtins.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace console {

namespace {

const char kLanguage[] =
    "Type an expression and press Enter; ';' separates several on one line.\n"
    "  literals   42  -7  3.5  1.5e-3  'text'  \"it's\"  'it''s'  true  false\n"
    "  operators, tightest first (all left to right except = and :=):\n"
    "    -x  not x  Name(...)  prefix minus, logical not, built-in calls\n"
    "    ^                     power: 2^3^2 is 64, -2^2 is 4\n"
    "    *  /  div  mod        times, divide, whole division, remainder\n"
    "    +  -                  plus (also joins texts), minus\n"
    "    <  <=  ==  !=  >=  >  comparisons\n"
    "    and  or  xor  shl  shr  logic on Booleans, bits on integers\n"
    "    =  :=                 x = 2*y stores a value; f(a, b) := a*b + 1 defines\n"
    "  functions  built-in: Sqrt(2), Max(3, 4), IfF(x > 0, 1, -1); .funcs lists them\n"
    "             your own: area(r) := Pi*r^2, then area(2)\n"
    "  delete x, f   removes symbols       ans   the last result\n"
    "Commands:\n"
    "  .help NAME       a built-in function, symbol or command\n"
    "  .funcs           the built-in functions by group\n"
    "  .vars  .dump     the symbols: as saved / in the dump format\n"
    "  .load FILE       replace the symbols by those saved in FILE\n"
    "  .save FILE       save the symbols to FILE\n"
    "  .run FILE        run the expressions in FILE\n"
    "  .clear           remove every symbol\n"
    "  .set [NAME VAL]  digits, fixed, time-limit, case-sensitive, escape-char,\n"
    "                   max-nesting, dump-format\n"
    "  .quit  .exit     leave (so does Ctrl-D)\n"
    "A line that ends with an operator or leaves a bracket or string open goes on\n"
    "at the next prompt; '#' starts a comment. Files given to zorvex or .run are\n"
    "read the same way. Tab completes names; Ctrl-C stops a calculation or\n"
    "discards what was typed.\n";

const char kMoney[] =
    "  Money received is positive and money paid negative: a loan of 1000 (pv 1000)\n"
    "  has a negative payment. Rates are per period. when: 0 for payments at the end\n"
    "  of each period, 1 for payments at the start.\n";

const char kNothingLoaded[] = " (nothing loaded; the symbols are as they were)";

struct CommandInfo {
    const char* name;
    const char* usage;
    const char* meaning;
};

const CommandInfo kCommands[] = {
    {".help", ".help [NAME]", "the language on one screen, or what NAME is"},
    {".funcs", ".funcs", "the built-in functions by group"},
    {".vars", ".vars", "every symbol as it is saved"},
    {".dump", ".dump", "every symbol in the dump format (.set dump-format)"},
    {".load", ".load FILE", "clear the symbols, then load those saved in FILE"},
    {".save", ".save FILE", "save the symbols to FILE, as --save does"},
    {".run", ".run FILE", "run the expressions in FILE and show their results"},
    {".clear", ".clear", "remove every symbol"},
    {".set", ".set [NAME VALUE]", "show the settings or change one"},
    {".quit", ".quit", "leave the console"},
    {".exit", ".exit", "leave the console"},
};

const char* const kKeywords[] = {"and", "delete", "div", "false", "mod", "not", "or", "shl", "shr", "true", "xor"};

// "FILE", "'my file'" or "~/file" as the file it names.
std::string FileArgument(std::string arg) {
    arg = zorvex::Trim(arg);
    if (arg.size() >= 2 && (arg.front() == '\'' || arg.front() == '"') && arg.back() == arg.front())
        arg = arg.substr(1, arg.size() - 2);
    const char* home = std::getenv("HOME");
    if (arg.rfind("~/", 0) == 0 && home != nullptr) arg = home + arg.substr(1);
    return arg;
}

bool IsTrue(const std::string& word, bool& value) {
    const std::string w = zorvex::LowerCase(word);
    if (w == "on" || w == "true" || w == "yes" || w == "1") return value = true, true;
    if (w == "off" || w == "false" || w == "no" || w == "0") return value = false, true;
    return false;
}

}  // namespace

const std::vector<std::string>& Console::Commands() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const CommandInfo& c : kCommands) n.push_back(c.name);
        return n;
    }();
    return names;
}

bool Console::TakesFile(const std::string& command) {
    return command == ".load" || command == ".save" || command == ".run";
}

std::vector<std::string> Console::Words() const {
    std::vector<std::string> words;
    for (const zorvex::BuiltinInfo& b : zorvex::Builtins()) words.emplace_back(b.Name);
    for (const char* k : kKeywords) words.emplace_back(k);
    const zorvex::TMSymbols& symbols = interp_.Symbols();
    for (int i = 0; i < symbols.Count(); ++i)
        words.push_back(static_cast<const zorvex::TMSymbol*>(symbols.Get(i))->Identifier());
    if (hasAns_ && !interp_.SymbolExists("ans")) words.emplace_back("ans");
    return words;
}

bool Console::Command(const std::string& line) {
    const std::size_t end = line.find_first_of(" \t");
    const std::string name = line.substr(0, end);
    const std::string args = end == std::string::npos ? std::string() : zorvex::Trim(line.substr(end));
    const bool none = args.empty();
    auto needs = [&](bool ok, const std::string& usage) {
        if (!ok) Report("usage: " + usage, Origin::Console);
        return ok;
    };

    if (name == ".quit" || name == ".exit") return false;
    if (name == ".help") {
        Help(args);
    } else if (name == ".funcs") {
        if (needs(none, ".funcs")) Functions();
    } else if (name == ".vars") {
        if (needs(none, ".vars")) ListSymbols(0);
    } else if (name == ".dump") {
        if (needs(none, ".dump")) ListSymbols(interp_.DumpFormat());
    } else if (name == ".clear") {
        if (needs(none, ".clear")) {
            const int count = interp_.SymbolCount();
            interp_.ClearSymbols();
            std::cout << "cleared " << count << " symbol(s)\n";
        }
    } else if (name == ".load" || name == ".save" || name == ".run") {
        if (!needs(!none, name + " FILE")) return true;
        const std::string file = FileArgument(args);
        if (name == ".run") {
            return RunFile(file);
        } else if (name == ".load") {
            LoadCommand(file);
        } else {
            try {
                interp_.SaveSymbolsToFile(file);
                std::cout << "saved " << interp_.SymbolCount() << " symbol(s)\n";
            } catch (const zorvex::EFileError& e) {
                Report(e.Message(), Origin::Console);
            } catch (const zorvex::Exception& e) {
                Report(e.Message());
            }
        }
    } else if (name == ".set") {
        Set(args);
    } else {
        Report("unknown command '" + Excerpt(name) + "' (.help lists the commands)", Origin::Console);
    }
    return true;
}

// Loading clears the table first; a file that fails part-way must not cost
// the session its symbols, so it is loaded aside and taken over once whole.
void Console::LoadCommand(const std::string& file) {
    zorvex::TMathInterpreter trial;
    trial.SetCaseSensitiveSymbols(interp_.CaseSensitiveSymbols());
    trial.SetEscapeChar(interp_.EscapeChar());
    trial.SetMaxFunctionNesting(interp_.MaxFunctionNesting());
    trial.SetEvaluationTimeLimit(interp_.EvaluationTimeLimit());
    trial.SetOnUnknownSymbol(interp_.OnUnknownSymbol());
    try {
        const InterruptTarget target(trial);
        trial.LoadSymbolsFromFile(file);
        // Between two entries no evaluation takes the request.
        if (Interrupted()) throw Interruption();
    } catch (const zorvex::EFileError& e) {
        Report(e.Message(), Origin::Console);
        return;
    } catch (const zorvex::EInterrupted& e) {
        ReportStop(e, kNothingLoaded);
        return;
    } catch (const zorvex::Exception& e) {
        Report(e.Message() + kNothingLoaded);
        return;
    }
    // Its saved text holds values, not the expressions that made them:
    // nothing runs twice.
    try {
        std::istringstream saved(trial.DumpStreamable());
        interp_.LoadSymbolsFromStream(saved);
    } catch (const zorvex::Exception& e) {
        Report(e.Message());
        return;
    }
    std::cout << "loaded " << interp_.SymbolCount() << " symbol(s)\n";
}

bool Console::RunFile(const std::string& file) {
    int fd = -1;
    try {
        fd = OpenFile(file);
    } catch (const UsageError& e) {
        Report(e.message, Origin::Console);
        return true;
    }
    FdLines lines(fd, file, true);
    return RunScript(lines, false) != Outcome::Quit;
}

void Console::Help(const std::string& name) {
    if (name.empty()) {
        std::cout << kLanguage;
        return;
    }
    if (const zorvex::BuiltinInfo* b = zorvex::FindBuiltin(name)) {
        std::cout << b->Name << '(' << b->Operands << ")    built-in, " << b->GroupName << "\n  " << b->Meaning << '\n';
        if (b->Group == zorvex::igFinancial) std::cout << kMoney;
        return;
    }
    // Your own names before the words of the console, which they may share.
    if (const zorvex::TMSymbol* symbol = interp_.Symbols().FindSymbol(name)) {
        Print(interp_.DumpSymbol(name, 0));
        std::cout << (symbol->IsVariable() ? "    your variable\n" : "    your function\n");
        return;
    }
    if (interp_.IsEqualString(name, "ans")) {
        std::cout << "ans    the last result, neither Null nor Empty: ";
        if (hasAns_) Print(Display(ans_, format_));
        else std::cout << "none yet";
        std::cout << '\n';
        return;
    }
    for (const CommandInfo& c : kCommands)
        if (name == c.name || "." + name == c.name) {
            std::cout << c.usage << "    " << c.meaning << '\n';
            return;
        }
    for (const char* k : kKeywords)
        if (zorvex::LowerCase(name) == k) {
            std::cout << k << "    a keyword of the language; .help shows them all\n";
            return;
        }
    Report("no built-in function, symbol or command is named '" + Excerpt(name) + "'", Origin::Console);
}

std::string Console::AfterName(const std::string& name) const {
    for (const zorvex::BuiltinInfo& b : zorvex::Builtins())
        if (b.Name == name) return b.OperandCount > 0 ? "(" : "";
    const auto* function = dynamic_cast<const zorvex::TMCustomFunction*>(interp_.Symbols().FindSymbol(name));
    return function != nullptr && function->Parameters().Count() > 0 ? "(" : "";
}

void Console::Functions() {
    std::map<int, std::vector<std::string>> groups;
    for (const zorvex::BuiltinInfo& b : zorvex::Builtins()) groups[b.Group].emplace_back(b.Name);
    const std::size_t width = static_cast<std::size_t>(terminal_.Width());
    for (const auto& [group, names] : groups) {
        std::cout << zorvex::IntrinsicGroupName(static_cast<zorvex::TIntrinsicGroup>(group)) << ":\n";
        std::string row = " ";
        for (const std::string& n : names) {
            if (row.size() + 1 + n.size() >= width && row.size() > 1) {
                std::cout << row << '\n';
                row.assign(1, ' ');
            }
            row.append(1, ' ').append(n);
        }
        std::cout << row << '\n';
    }
    std::cout << ".help NAME tells what one does.\n";
}

void Console::ListSymbols(zorvex::TDumpFormat format) {
    const zorvex::TMSymbols& symbols = interp_.Symbols();
    if (symbols.Count() == 0) std::cout << "no symbols\n";
    for (int i = 0; i < symbols.Count(); ++i) {
        try {
            const auto* symbol = static_cast<const zorvex::TMSymbol*>(symbols.Get(i));
            Print(interp_.DumpSymbol(symbol->Identifier(), format));
            std::cout << '\n';
        } catch (const zorvex::Exception& e) {
            Report(e.Message());
        }
    }
}

void Console::Set(const std::string& args) {
    if (args.empty()) {
        const char escape = interp_.EscapeChar();
        std::cout << "digits          " << format_.digits << '\n'
                  << "fixed           " << (format_.fixed < 0 ? std::string("off") : std::to_string(format_.fixed)) << '\n'
                  << "time-limit      " << interp_.EvaluationTimeLimit() << '\n'
                  << "case-sensitive  " << (interp_.CaseSensitiveSymbols() ? "on" : "off") << '\n'
                  << "escape-char     " << (escape == '\0' ? std::string("none") : std::string(1, escape)) << '\n'
                  << "max-nesting     " << interp_.MaxFunctionNesting() << '\n'
                  << "dump-format     " << DumpFormatName(interp_.DumpFormat()) << '\n';
        return;
    }
    std::istringstream in(args);
    std::string name, value, extra;
    in >> name >> value >> extra;
    if (value.empty() || !extra.empty()) {
        Report("usage: .set NAME VALUE (digits 1..17, fixed 0..17|off, time-limit MS, case-sensitive on|off, "
               "escape-char C|none, max-nesting N, dump-format plain|detailed|qualified|detailed,qualified)",
               Origin::Console);
        return;
    }
    auto number = [&](std::uint32_t low, std::uint32_t high, std::uint32_t& out) {
        try {
            out = ParseNumber(value, low, high, name);
            return true;
        } catch (const UsageError&) {
            Report(name + " is " + std::to_string(low) + " to " + std::to_string(high), Origin::Console);
            return false;
        }
    };
    std::uint32_t n = 0;
    if (name == "digits") {
        if (number(1, 17, n)) format_.digits = static_cast<int>(n), format_.fixed = -1;
    } else if (name == "fixed") {
        if (zorvex::LowerCase(value) == "off")
            format_.fixed = -1;
        else if (number(0, 17, n))
            format_.fixed = static_cast<int>(n);
    } else if (name == "time-limit") {
        if (number(0, UINT32_MAX, n)) interp_.SetEvaluationTimeLimit(n);
    } else if (name == "case-sensitive") {
        bool on = false;
        if (!IsTrue(value, on)) return Report("case-sensitive is on or off", Origin::Console);
        // Switching it off clears the table (names might collide): never by
        // surprise.
        if (!on && interp_.CaseSensitiveSymbols() && interp_.SymbolCount() > 0)
            return Report("switching case-sensitive off would delete the " + std::to_string(interp_.SymbolCount()) +
                              " symbol(s); .save them and .clear first",
                          Origin::Console);
        interp_.SetCaseSensitiveSymbols(on);
    } else if (name == "escape-char") {
        if (value == "none")
            interp_.SetEscapeChar('\0');
        else if (value.size() == 1)
            interp_.SetEscapeChar(value[0]);
        else
            return Report("escape-char is one character or none", Origin::Console);
    } else if (name == "max-nesting") {
        if (number(0, UINT32_MAX, n)) interp_.SetMaxFunctionNesting(n);
    } else if (name == "dump-format") {
        try {
            interp_.SetDumpFormat(value == "plain" ? 0 : ParseDumpFormat(value));
        } catch (const UsageError&) {
            return Report("dump-format is plain, detailed, qualified or detailed,qualified", Origin::Console);
        }
    } else {
        return Report("no setting '" + Excerpt(name) +
                          "' (digits, fixed, time-limit, case-sensitive, escape-char, max-nesting, dump-format)",
                      Origin::Console);
    }
}

}  // namespace console
