// Symbol persistence and execution of whole texts from streams and files.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

#include "ItemUtil.h"
#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// "name =" with nothing after the "=": how a variable holding Null or Empty
// is written. Returns the name, or an empty string for any other entry.
std::string EmptyVariableEntry(const std::string& entry) {
    std::size_t p = 0;
    const std::size_t n = entry.size();
    while (p < n && IsBlank(entry[p])) ++p;
    const std::size_t start = p;
    if (p >= n || !((entry[p] >= 'A' && entry[p] <= 'Z') || (entry[p] >= 'a' && entry[p] <= 'z') || entry[p] == '_'))
        return {};
    while (p < n && ((entry[p] >= 'A' && entry[p] <= 'Z') || (entry[p] >= 'a' && entry[p] <= 'z') ||
                     (entry[p] >= '0' && entry[p] <= '9') || entry[p] == '_'))
        ++p;
    const std::string name = entry.substr(start, p - start);
    while (p < n && IsBlank(entry[p])) ++p;
    if (p >= n || entry[p] != '=') return {};
    ++p;
    while (p < n && IsBlank(entry[p])) ++p;
    return p == n ? name : std::string();
}

// Built-in names and keywords are no variables; such entries run as written.
bool IsPlainName(const std::string& name) {
    std::unique_ptr<TMIntrinsicFunctionCall> builtin(CreateIntrinsicFunctionCall(name));
    return !builtin && !IsKeyword(name);
}

bool IsIdentifierStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentifierChar(char c) { return IsIdentifierStart(c) || (c >= '0' && c <= '9'); }

// A name the tokenizer reads back as the same symbol.
bool IsSavableName(const std::string& name) {
    if (name.empty() || !IsIdentifierStart(name[0])) return false;
    for (char c : name)
        if (!IsIdentifierChar(c)) return false;
    return IsPlainName(name);
}

[[noreturn]] void Unsavable(const std::string& name, const char* why) {
    throw Exception("TMathInterpreter.DumpStreamable() Symbol: \"" + Excerpt(name) + "\" can not be saved: " + why);
}

// Where the file a save writes really lives, so that a link stays a link.
std::filesystem::path SaveTarget(const std::string& fileName) {
    std::error_code ec;
    std::filesystem::path target(fileName);
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) return resolved;
    }
    return target;
}

// A directory opens as a stream on some systems and then reads as nothing.
void OpenForReading(std::ifstream& file, const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::is_directory(fileName, ec)) file.open(fileName, std::ios::binary);
    if (!file.is_open()) throw EFileError("Cannot open file \"" + fileName + "\".");
}

std::string ReadAll(std::istream& stream) {
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    if (stream.bad()) throw EStreamError("Stream read error");
    std::string text = buffer.str();
    // The text ends at the first zero byte.
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

}  // namespace

// Refuses, before anything is written, what would not load back as it is.
std::string TMathInterpreter::DumpStreamable() const {
    std::string text;
    for (int i = 0; i < symbols_.Count(); ++i) {
        auto* symbol = static_cast<TMSymbol*>(symbols_.At(i));
        if (symbol == nullptr) continue;
        if (!IsSavableName(symbol->Identifier())) Unsavable(symbol->Identifier(), "its name is no identifier.");
        if (auto* function = ItemAs<TMFunction>(symbol, ikFunction)) {
            for (int k = 0; k < function->Parameters().Count(); ++k) {
                auto* param = static_cast<TMSymbol*>(function->Parameters().At(k));
                if (param != nullptr && !IsSavableName(param->Identifier()))
                    Unsavable(symbol->Identifier(), "a parameter's name is no identifier.");
            }
        }
        std::string entry = symbol->Dump(0);
        if (entry.find('\0') != std::string::npos)
            Unsavable(symbol->Identifier(), "a text in it holds a zero character, which symbols text can not hold.");
        if (entry.empty()) continue;
        if (!text.empty()) text += ";\r\n";
        text += entry;
    }
    return text;
}

void TMathInterpreter::LoadSymbolsText(const std::string& text) {
    struct Loading {
        explicit Loading(bool& f) : flag(f), saved(f) { flag = true; }
        ~Loading() { flag = saved; }
        bool& flag;
        bool saved;
    } loading(loadingSymbols_);
    for (const std::string& entry : SplitExpressions(text, escapeChar_)) {
        const std::string name = EmptyVariableEntry(entry);
        if (name.empty() || !IsPlainName(name)) {
            ExecuteExpression(entry);
            continue;
        }
        TMSymbol* symbol = symbols_.FindSymbol(name);
        if (symbol == nullptr) {
            auto var = std::make_unique<TMVar>();
            var->ParsePosition = 1;
            var->List = &symbols_;
            var->SetIdentifier(name);
            symbols_.Add(var.get());
            symbol = var.release();
        }
        symbol->SetValue(Variant::Null());
    }
}

// A load, like the execution of a file or stream, is one evaluation for the
// interrupt request and the budgets, however many entries it holds.
void TMathInterpreter::LoadSymbolsFromStream(std::istream& stream) {
    guard::Entry(*this, [&] {
        TEvaluationGuard::Run run(guard_);
        ClearSymbols();
        LoadSymbolsText(ReadAll(stream));
    });
}

void TMathInterpreter::SaveSymbolsToStream(std::ostream& stream) {
    const std::string text = DumpStreamable();
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!stream) throw EStreamError("Stream write error");
}

void TMathInterpreter::LoadSymbolsFromFile(const std::string& fileName) {
    guard::Entry(*this, [&] {
        TEvaluationGuard::Run run(guard_);
        std::ifstream file;
        OpenForReading(file, fileName);
        const std::string text = ReadAll(file);
        ClearSymbols();
        LoadSymbolsText(text);
    });
}

// The symbols go to a new file beside the target, which then replaces it in
// one step: a save that fails leaves the old file exactly as it was.
void TMathInterpreter::SaveSymbolsToFile(const std::string& fileName) {
    namespace fs = std::filesystem;
    const fs::path target = SaveTarget(fileName);
    std::error_code ec;
    if (fs::is_directory(target, ec)) throw EFileError("Cannot create file \"" + fileName + "\".");
    fs::path temp;
    for (unsigned attempt = 0;; ++attempt) {
        temp = target;
        temp += ".tmp" + std::to_string(attempt);
        // "x": only a file that did not exist is ours to write and remove.
        if (std::FILE* f = std::fopen(temp.c_str(), "wbx")) {
            std::fclose(f);
            break;
        }
        if (errno != EEXIST || attempt > 100) throw EFileError("Cannot create file \"" + fileName + "\".");
    }
    try {
        {
            std::ofstream file(temp, std::ios::binary | std::ios::trunc);
            if (!file) throw EFileError("Cannot create file \"" + fileName + "\".");
            SaveSymbolsToStream(file);
            file.close();
            if (!file) throw EFileError("Cannot write file \"" + fileName + "\".");
        }
        const fs::file_status old = fs::status(target, ec);
        if (!ec && fs::exists(old)) fs::permissions(temp, old.permissions(), ec);
        fs::rename(temp, target, ec);
        if (ec) throw EFileError("Cannot write file \"" + fileName + "\".");
    } catch (...) {
        fs::remove(temp, ec);
        throw;
    }
}

Variant TMathInterpreter::ExecuteFromFile(const std::string& fileName, TStrings* errors) {
    return guard::Entry(*this, [&] {
        TEvaluationGuard::Run run(guard_);
        std::ifstream file;
        OpenForReading(file, fileName);
        return ExecuteFromStream(file, errors);
    });
}

Variant TMathInterpreter::ExecuteFromStream(std::istream& stream, TStrings* errors) {
    return guard::Entry(*this, [&] {
        TEvaluationGuard::Run run(guard_);
        return Execute(ReadAll(stream), errors);
    });
}

void TMathInterpreter::DefineProperties(TFiler& filer) {
    std::string ancestorText;
    if (auto* ancestor = dynamic_cast<const TMathInterpreter*>(filer.Ancestor())) ancestorText = ancestor->DumpStreamable();
    const bool hasData = DumpStreamable() != ancestorText;
    filer.DefineProperty(
        "Symbols", [this](TReader& reader) { ReadSymbols(reader); },
        [this](TWriter& writer) { WriteSymbols(writer); }, hasData);
}

void TMathInterpreter::ReadSymbols(TReader& reader) {
    ZORVEX_ASSERT(symbols_.Count() == 0, "Source/MathInterpreter");
    guard::Entry(*this, [&] {
        TEvaluationGuard::Run run(guard_);
        LoadSymbolsText(reader.ReadString());
    });
}

void TMathInterpreter::WriteSymbols(TWriter& writer) { writer.WriteString(DumpStreamable()); }

}  // namespace zorvex
