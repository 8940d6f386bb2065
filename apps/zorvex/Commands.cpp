// The console's dot commands; the language's tokenizer rejects ".", so they
// never clash with an expression.
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>

#include "Console.h"
#include "zorvex/Exception.h"
#include "zorvex/MathIntrinsic.h"
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
    "  .set [NAME VAL]  case-sensitive, escape-char, max-nesting, dump-format\n"
    "  .quit  .exit     leave (so does Ctrl-D)\n"
    "Tab completes names; Ctrl-C stops a calculation or discards the line.\n";

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
    for (const auto& cls : zorvex::IntrinsicFunctionCallClasses)
        words.push_back(zorvex::TMIntrinsicFunctionCall::FuncName(cls));
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
    auto needs = [&](bool ok, const char* usage) {
        if (!ok) Report(std::string("usage: ") + usage);
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
        if (!needs(!none, (name + " FILE").c_str())) return true;
        const std::string file = FileArgument(args);
        if (name == ".run") {
            RunFile(file);
            return true;
        }
        try {
            if (name == ".load") {
                // Loading clears the table first; a file that fails part-way
                // must not cost the session its symbols, so try it aside.
                zorvex::TMathInterpreter trial;
                trial.SetCaseSensitiveSymbols(interp_.CaseSensitiveSymbols());
                trial.SetEscapeChar(interp_.EscapeChar());
                trial.SetMaxFunctionNesting(interp_.MaxFunctionNesting());
                trial.SetOnUnknownSymbol(interp_.OnUnknownSymbol());
                try {
                    trial.LoadSymbolsFromFile(file);
                } catch (const zorvex::Exception& e) {
                    Report(e.Message() + " (nothing loaded; the symbols are as they were)");
                    return true;
                }
                interp_.LoadSymbolsFromFile(file);
            } else {
                interp_.SaveSymbolsToFile(file);
            }
            std::cout << (name == ".load" ? "loaded " : "saved ") << interp_.SymbolCount() << " symbol(s)\n";
        } catch (const zorvex::Exception& e) {
            Report(e.Message());
        }
    } else if (name == ".set") {
        Set(args);
    } else {
        Report("unknown command '" + name + "' (.help lists the commands)");
    }
    return true;
}

void Console::RunFile(const std::string& file) {
    std::string text;
    try {
        text = ReadSourceFile(file);
    } catch (const UsageError& e) {
        Report(e.message);
        return;
    }
    RunText(text);
}

void Console::Help(const std::string& name) {
    if (name.empty()) {
        std::cout << kLanguage;
        return;
    }
    for (const auto& cls : zorvex::IntrinsicFunctionCallClasses) {
        const std::string func = zorvex::TMIntrinsicFunctionCall::FuncName(cls);
        if (zorvex::UpperCase(func) != zorvex::UpperCase(name)) continue;
        std::cout << func << '(' << cls.Operands << ")    built-in, " << zorvex::IntrinsicGroupName(cls.Group)
                  << "\n  " << cls.Meaning << '\n';
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
    if (interp_.SymbolExists(name)) {
        Print(interp_.DumpSymbol(name, 0));
        std::cout << "    your symbol\n";
        return;
    }
    if (interp_.IsEqualString(name, "ans") && hasAns_) {
        std::cout << "ans    the last result: ";
        Print(Display(ans_));
        std::cout << '\n';
        return;
    }
    Report("no built-in function, symbol or command is named '" + name + "'");
}

void Console::Functions() {
    std::map<int, std::vector<std::string>> groups;
    for (const auto& cls : zorvex::IntrinsicFunctionCallClasses)
        groups[cls.Group].push_back(zorvex::TMIntrinsicFunctionCall::FuncName(cls));
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
        std::cout << "case-sensitive  " << (interp_.CaseSensitiveSymbols() ? "on" : "off") << '\n'
                  << "escape-char     " << (escape == '\0' ? std::string("none") : std::string(1, escape)) << '\n'
                  << "max-nesting     " << interp_.MaxFunctionNesting() << '\n'
                  << "dump-format     " << DumpFormatName(interp_.DumpFormat()) << '\n';
        return;
    }
    std::istringstream in(args);
    std::string name, value, extra;
    in >> name >> value >> extra;
    if (value.empty() || !extra.empty()) {
        Report("usage: .set NAME VALUE (case-sensitive on|off, escape-char C|none, max-nesting N, "
               "dump-format plain|detailed|qualified|detailed,qualified)");
        return;
    }
    if (name == "case-sensitive") {
        bool on = false;
        if (!IsTrue(value, on)) return Report("case-sensitive is on or off");
        // Switching it off clears the table (names might collide): never by
        // surprise.
        if (!on && interp_.CaseSensitiveSymbols() && interp_.SymbolCount() > 0)
            return Report("switching case-sensitive off would delete the " + std::to_string(interp_.SymbolCount()) +
                          " symbol(s); .save them and .clear first");
        interp_.SetCaseSensitiveSymbols(on);
    } else if (name == "escape-char") {
        if (value == "none")
            interp_.SetEscapeChar('\0');
        else if (value.size() == 1)
            interp_.SetEscapeChar(value[0]);
        else
            return Report("escape-char is one character or none");
    } else if (name == "max-nesting") {
        char* end = nullptr;
        const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (value[0] == '-' || *end != '\0' || n > UINT32_MAX) return Report("max-nesting is 0 to 4294967295");
        interp_.SetMaxFunctionNesting(static_cast<std::uint32_t>(n));
    } else if (name == "dump-format") {
        try {
            interp_.SetDumpFormat(value == "plain" ? 0 : ParseDumpFormat(value));
        } catch (const UsageError&) {
            return Report("dump-format is plain, detailed, qualified or detailed,qualified");
        }
    } else {
        return Report("no setting '" + name + "' (case-sensitive, escape-char, max-nesting, dump-format)");
    }
}

}  // namespace console
