#include "Console.h"

#include <cctype>
#include <iostream>

#include "zorvex/Exception.h"
#include "zorvex/MathItem.h"

namespace console {

using zorvex::Variant;
using zorvex::VarKind;

namespace {

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

// The 1-based position a message names first ("position: 3", "Position: 4",
// "position :5"), or 0. A position inside a user function's body is not in
// the typed line.
std::size_t PositionIn(const std::string& message) {
    if (message.find("Most outer function") != std::string::npos) return 0;
    for (std::size_t at = 0; (at = message.find("osition", at)) != std::string::npos;) {
        at += 7;
        std::size_t p = at;
        while (p < message.size() && (message[p] == ' ' || message[p] == ':')) ++p;
        std::size_t value = 0, digits = 0;
        while (p < message.size() && std::isdigit(static_cast<unsigned char>(message[p])) && digits < 9) {
            value = value * 10 + static_cast<std::size_t>(message[p++] - '0');
            ++digits;
        }
        if (digits > 0 && value > 0) return value;
    }
    return 0;
}

constexpr char kRed[] = "\033[31m";
constexpr char kPlain[] = "\033[0m";

}  // namespace

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

Console::Console(const Options& opt, const Terminal& terminal) : opt_(opt), terminal_(terminal) {
    interp_.SetCaseSensitiveSymbols(opt.caseSensitive);
    interp_.SetEscapeChar(opt.escapeChar);
    interp_.SetDumpFormat(opt.dumpFormat);
    if (opt.maxNesting) interp_.SetMaxFunctionNesting(*opt.maxNesting);
    // `ans` lives outside the table: only a name the table lacks is asked
    // for, so a user's own ans wins and nothing of it is saved.
    interp_.SetOnUnknownSymbol([this](zorvex::TMathInterpreter& sender, const std::string& name,
                                      const Variant& parameters, Variant& value) {
        if (hasAns_ && parameters.IsNull() && value.IsEmpty() && sender.IsEqualString(name, "ans")) value = ans_;
    });
}

void Console::StartSession(int promptWidth) {
    session_ = true;
    promptWidth_ = promptWidth;
}

void Console::Print(const std::string& latin1) { std::cout << terminal_.Show(latin1); }

void Console::ShowResult(const Variant& v) {
    if (!v.IsNull() && !v.IsEmpty()) {
        ans_ = v;
        hasAns_ = true;
    }
    if (!opt_.typed) {
        if (session_ && (v.IsNull() || v.IsEmpty())) return;
        Print(Display(v));
    } else if (v.IsNull() || v.IsEmpty()) {
        std::cout << KindName(v.Kind());
    } else {
        std::cout << KindName(v.Kind()) << ' ';
        Print(Display(v));
    }
    std::cout << '\n';
}

void Console::Report(const std::string& message, const std::string* line, std::size_t column) {
    if (!session_) failed_ = true;
    const bool colour = terminal_.colour;
    if (session_ && terminal_.outputIsTerminal && line != nullptr && column != std::string::npos) {
        // Under the line as typed after the prompt; else the line again.
        std::string pad(static_cast<std::size_t>(promptWidth_), ' ');
        if (static_cast<std::size_t>(promptWidth_) + column + 1 >= static_cast<std::size_t>(terminal_.Width())) {
            Print(*line);
            std::cout << '\n';
            pad.clear();
        }
        for (std::size_t i = 0; i < column; ++i) pad += i < line->size() && (*line)[i] == '\t' ? '\t' : ' ';
        std::cout << pad << (colour ? kRed : "") << '^' << (colour ? kPlain : "") << '\n';
    }
    std::cout << (colour ? kRed : "") << "error: ";
    Print(message);
    std::cout << (colour ? kPlain : "") << '\n';
}

bool Console::RunPieces(const std::vector<Piece>& pieces, const std::string* line) {
    for (const Piece& piece : pieces) {
        try {
            ShowResult(interp_.ExecuteExpression(piece.text));
        } catch (const zorvex::EInterrupted& e) {
            if (terminal_.outputIsTerminal) std::cout << '\n';  // past the ^C the terminal echoed
            Report(e.Message());
            return false;
        } catch (const zorvex::Exception& e) {
            const std::size_t position = PositionIn(e.Message());
            Report(e.Message(), line, position > 0 ? piece.offset + position - 1 : std::string::npos);
        } catch (const std::bad_alloc&) {
            Report("Out of memory");
        } catch (const std::exception& e) {
            Report(e.what());
        }
        // A person watching sees each result as it comes.
        if (terminal_.outputIsTerminal) std::cout.flush();
    }
    return true;
}

bool Console::RunText(const std::string& text) {
    std::vector<Piece> pieces;
    try {
        for (std::string& piece : zorvex::TMathInterpreter::SplitExpressions(text, interp_.EscapeChar()))
            pieces.push_back({std::move(piece), 0});
    } catch (const std::exception& e) {
        Report(e.what());
        return true;
    }
    return RunPieces(pieces, nullptr);
}

bool Console::RunLine(const std::string& typed) {
    std::string line = typed;
    if (terminal_.inputIsTerminal && terminal_.utf8) {
        std::string error;
        std::size_t column = 0;
        if (!Utf8ToLatin1(typed, line, error, column)) {
            // The typed line itself may not be printable as bytes; point only.
            Report(error, &line, column);
            return true;
        }
    }
    line = AsFileText(line);
    const std::size_t start = line.find_first_not_of(" \t");
    if (start != std::string::npos && line[start] == '.') return Command(line.substr(start));
    // The language has no comments; session files and scripts want them.
    if (start != std::string::npos && line[start] == '#') return true;

    std::vector<Piece> pieces;
    try {
        std::size_t from = 0;
        for (std::string& piece : zorvex::TMathInterpreter::SplitExpressions(line, interp_.EscapeChar())) {
            // The pieces are the line's own characters, in order.
            const std::size_t at = line.find(piece, from);
            from = at == std::string::npos ? from : at + piece.size();
            pieces.push_back({std::move(piece), at == std::string::npos ? 0 : at});
        }
    } catch (const std::exception& e) {
        Report(e.what());
        return true;
    }
    RunPieces(pieces, &line);
    return true;
}

void Console::Load(const std::string& file) {
    try {
        interp_.LoadSymbolsFromFile(file);
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

void Console::Save(const std::string& file) {
    try {
        interp_.SaveSymbolsToFile(file);
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

void Console::Dump() {
    // Through the interpreter, so its settings (the escape character) hold.
    // One symbol that cannot be dumped does not hide the others.
    const zorvex::TMSymbols& symbols = interp_.Symbols();
    for (int i = 0; i < symbols.Count(); ++i) {
        try {
            const auto* symbol = static_cast<const zorvex::TMSymbol*>(symbols.Get(i));
            Print(interp_.DumpSymbol(symbol->Identifier(), interp_.DumpFormat()));
            std::cout << '\n';
        } catch (const std::exception& e) {
            Report(e.what());
        }
    }
}

}  // namespace console
