#include "Console.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Interrupts.h"
#include "zorvex/Exception.h"
#include "zorvex/MathItem.h"
#include "zorvex/SysUtils.h"

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

// Where the first reference to or call of `name` stands in `text`, outside
// strings; npos when nowhere. A name the runtime cut ("abc...") matches
// every name it starts.
std::size_t FindName(const std::string& text, std::string name, const zorvex::TMathInterpreter& interp) {
    const bool cut = name.size() > 3 && name.compare(name.size() - 3, 3, "...") == 0;
    if (cut) name.resize(name.size() - 3);
    const char escape = interp.EscapeChar();
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            for (++i; i < text.size(); ++i) {
                if (escape != '\0' && text[i] == escape) {
                    ++i;
                } else if (text[i] == c) {
                    if (i + 1 < text.size() && text[i + 1] == c) ++i;
                    else break;
                }
            }
            ++i;
        } else if (IsIdentifierStart(c)) {
            const std::size_t start = i;
            while (i < text.size() && IsIdentifierChar(text[i])) ++i;
            const std::string word = text.substr(start, cut ? std::min(i - start, name.size()) : i - start);
            if (interp.IsEqualString(word, name)) return start;
        } else if (IsDigit(c)) {
            i = NumberEnd(text, i);
        } else {
            ++i;
        }
    }
    return std::string::npos;
}

// Whether the expression ends with an operator; then where it starts.
std::size_t TrailingOperator(const std::string& text) {
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    if (last == std::string::npos) return std::string::npos;
    if (IsOperatorChar(text[last])) return last;
    std::size_t start = last + 1;
    while (start > 0 && IsIdentifierChar(text[start - 1])) --start;
    return IsOperatorWord(std::string_view(text).substr(start, last + 1 - start)) ? start : std::string::npos;
}

constexpr char kRed[] = "\033[31m";
constexpr char kPlain[] = "\033[0m";
constexpr char kFunctionSuffix[] = " Most outer function: \"";

}  // namespace

std::size_t ErrorOffset(const zorvex::Exception& error, const std::string& text,
                        const zorvex::TMathInterpreter& interp) {
    const std::string& message = error.Message();
    // The position inside a user function's body is not in this text: the
    // call that led there is.
    const std::size_t function = message.rfind(kFunctionSuffix);
    if (function != std::string::npos) {
        const std::size_t start = function + sizeof kFunctionSuffix - 1;
        const std::size_t end = message.find('"', start);
        return end == std::string::npos ? end : FindName(text, message.substr(start, end - start), interp);
    }
    if (error.Position() <= 0) return std::string::npos;
    const auto position = static_cast<std::size_t>(error.Position());
    if (position > text.size() + 1) return std::string::npos;
    // An operand missing at the end is missing where the text ends, whichever
    // operator noticed.
    if (message.find("operand(s) expected") != std::string::npos) {
        const std::size_t trailing = TrailingOperator(text);
        if (trailing != std::string::npos) return trailing;
    }
    return position - 1;
}

// VarToStr refuses arrays; people still want to see them.
std::string Display(const Variant& v, const RealFormat& format) {
    if (v.IsReal() && (format.fixed >= 0 || format.digits != RealFormat{}.digits)) {
        // Room for the 309 digits of the largest double and 17 decimals.
        char text[400];
        if (format.fixed >= 0)
            std::snprintf(text, sizeof text, "%.*F", format.fixed, v.AsReal());
        else
            std::snprintf(text, sizeof text, "%.*G", format.digits, v.AsReal());
        return text;
    }
    if (!v.IsArray()) return zorvex::VarToStr(v);
    std::string out = "[";
    bool first = true;
    for (const Variant& item : v.ArrayItems()) {
        if (!first) out += ", ";
        first = false;
        out += Display(item, format);
    }
    out += "]";
    return out;
}

Console::Console(const Options& opt, const Terminal& terminal) : opt_(opt), terminal_(terminal) {
    interp_.SetCaseSensitiveSymbols(opt.caseSensitive);
    interp_.SetEscapeChar(opt.escapeChar);
    interp_.SetDumpFormat(opt.dumpFormat);
    if (opt.maxNesting) interp_.SetMaxFunctionNesting(*opt.maxNesting);
    interp_.SetEvaluationTimeLimit(opt.timeLimit);
    format_.digits = opt.digits;
    format_.fixed = opt.fixed;
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

void Console::Print(const std::string& latin1) {
    std::cout << terminal_.Show(latin1);
    moved_ = true;
}

void Console::ShowResult(const Variant& v) {
    if (!v.IsNull() && !v.IsEmpty()) {
        ans_ = v;
        hasAns_ = true;
    }
    if (!opt_.typed) {
        if (session_ && (v.IsNull() || v.IsEmpty())) return;
        Print(Display(v, format_));
    } else if (v.IsNull() || v.IsEmpty()) {
        std::cout << KindName(v.Kind());
    } else {
        std::cout << KindName(v.Kind()) << ' ';
        Print(Display(v, format_));
    }
    std::cout << '\n';
    moved_ = true;
}

void Console::Report(const std::string& message, Origin origin, const std::string* typed, std::size_t offset) {
    if (!session_) failed_ = true;
    if (session_ && terminal_.outputIsTerminal && typed != nullptr && offset != std::string::npos)
        Caret(*typed, offset);
    const bool colour = terminal_.colour;
    std::cout << (colour ? kRed : "") << "error: " << (origin == Origin::Runtime ? terminal_.Show(message) : message)
              << (colour ? kPlain : "") << '\n';
    moved_ = true;
}

// Under the line as typed after the prompt; the line again first when
// something came between, the error is on an earlier line of the text, or
// the column is past the screen's edge.
void Console::Caret(const std::string& typed, std::size_t offset) {
    const std::size_t before = offset == 0 ? std::string::npos : typed.rfind('\n', offset - 1);
    const std::size_t start = before == std::string::npos ? 0 : before + 1;
    const std::size_t end = std::min(typed.find('\n', start), typed.size());
    const std::string line = typed.substr(start, end - start);
    const std::size_t column = offset - start;
    std::string pad(static_cast<std::size_t>(promptWidth_), ' ');
    if (static_cast<std::size_t>(promptWidth_) + column + 1 >= static_cast<std::size_t>(terminal_.Width())) {
        Print(line);
        std::cout << '\n';
        pad.clear();
    } else if (moved_ || end != typed.size()) {
        std::cout << pad;
        Print(line);
        std::cout << '\n';
    }
    for (std::size_t i = 0; i < column; ++i) pad += i < line.size() && line[i] == '\t' ? '\t' : ' ';
    std::cout << pad << (terminal_.colour ? kRed : "") << '^' << (terminal_.colour ? kPlain : "") << '\n';
}

void Console::ReportStop(const zorvex::EInterrupted& e, const std::string& note) {
    // Past the ^C the terminal echoed.
    if (e.Reason() == zorvex::EInterrupted::Request && terminal_.outputIsTerminal) std::cout << '\n';
    Report(e.Message() + note);
}

bool Console::RunPieces(const std::string& text, const std::string* typed) {
    bool go = true;
    zorvex::TMathInterpreter::ForEachExpression(text, interp_.EscapeChar(), [&](std::string_view piece) {
        go = RunPiece({std::string(piece), static_cast<std::size_t>(piece.data() - text.data())}, typed);
        return go;
    });
    return go;
}

bool Console::RunPiece(const Piece& piece, const std::string* typed) {
    try {
        ShowResult(interp_.ExecuteExpression(piece.text));
    } catch (const zorvex::EInterrupted& e) {
        // A budget ends one expression; Ctrl-C all that was asked for.
        ReportStop(e);
        if (e.Reason() == zorvex::EInterrupted::Request) return false;
    } catch (const zorvex::Exception& e) {
        const std::size_t offset = typed != nullptr ? ErrorOffset(e, piece.text, interp_) : std::string::npos;
        Report(e.Message(), Origin::Runtime, typed, offset == std::string::npos ? offset : piece.offset + offset);
    } catch (const std::bad_alloc&) {
        Report("Out of memory");
    } catch (const std::exception& e) {
        Report(e.what());
    }
    // A person watching sees each result as it comes.
    if (terminal_.outputIsTerminal) std::cout.flush();
    // Between two expressions no evaluation takes the request.
    if (Interrupted()) {
        ReportStop(Interruption());
        return false;
    }
    return true;
}

bool Console::RunText(const std::string& text) {
    moved_ = false;
    return RunPieces(text, nullptr);
}

bool Console::RunTyped(const std::string& text, bool typed) {
    moved_ = false;
    if (typed && session_ && Hint(text)) return true;
    return RunPieces(text, typed ? &text : nullptr);
}

bool Console::Hint(const std::string& text) {
    const std::string word = zorvex::LowerCase(zorvex::Trim(text));
    if (word != "help" && word != "quit" && word != "exit") return false;
    if (interp_.SymbolExists(word)) return false;
    std::cout << "(commands start with a dot: .help for help, .quit to leave)\n";
    return true;
}

Console::Outcome Console::RunScript(LineSource& source, bool typed) {
    ScriptText script;
    std::string line, error;
    for (;;) {
        LineSource::Input input;
        try {
            input = source.Read(line, script.Pending());
        } catch (const ReadError& e) {
            Report(e.message, Origin::Console);
            return Outcome::Ended;
        }
        if (input == LineSource::Input::End) {
            if (typed) std::cout << '\n';  // past the Ctrl-D
            break;
        }
        if (input == LineSource::Input::Discarded) {
            script.Clear();
            if (!typed) return Outcome::Interrupted;
            std::cout << '\n';
            ClearInterrupted();
            continue;
        }
        if (typed) ClearInterrupted();
        TrimLineEnd(line);
        const std::size_t start = line.find_first_not_of(" \t");
        if (!script.Pending() && start != std::string::npos && line[start] == '.') {
            if (!Command(line.substr(start))) return Outcome::Quit;
            if (!typed && Interrupted()) return Outcome::Interrupted;
            continue;
        }
        std::size_t column = 0;
        if (terminal_.Converts() && !Utf8ToLatin1(line, error, column)) {
            // The line itself may not be printable; the caret goes under the
            // characters before the culprit.
            moved_ = false;
            Report(error, Origin::Console, typed ? &line : nullptr, column);
            script.Clear();
            continue;
        }
        if (script.Size() + (script.Pending() ? 1 : 0) + line.size() > zorvex::MaxTextLength) {
            Report(TooLong(source.Where()), Origin::Console);
            return Outcome::Ended;
        }
        if (!script.Add(std::move(line), interp_.EscapeChar())) continue;
        const std::string complete = script.Take();
        if (!complete.empty() && !RunTyped(complete, typed) && !typed) return Outcome::Interrupted;
    }
    // At the end a text still open runs as it stands, and says what it lacks.
    const std::string rest = script.Take();
    if (!rest.empty() && !RunTyped(rest, typed)) return Outcome::Interrupted;
    return Outcome::Ended;
}

bool Console::Load(const std::string& file) {
    try {
        interp_.LoadSymbolsFromFile(file);
    } catch (const zorvex::EInterrupted& e) {
        ReportStop(e);
        return e.Reason() != zorvex::EInterrupted::Request;
    } catch (const zorvex::EFileError& e) {
        Report(e.Message(), Origin::Console);
    } catch (const std::exception& e) {
        Report(e.what());
    }
    return !Interrupted();
}

void Console::Save(const std::string& file) {
    try {
        interp_.SaveSymbolsToFile(file);
    } catch (const zorvex::EFileError& e) {
        Report(e.Message(), Origin::Console);
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
