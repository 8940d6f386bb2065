// Symbol persistence and execution of whole texts from streams and files.
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

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
    if (builtin) return false;
    static const char* const keywords[] = {"div", "mod", "delete", "rename", "not", "and",
                                           "or",  "xor", "shl",    "shr",    "true", "false"};
    const std::string lower = LowerCase(name);
    for (const char* k : keywords)
        if (lower == k) return false;
    return true;
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

std::string TMathInterpreter::DumpStreamable() const { return Dump(";\r\n", 0); }

void TMathInterpreter::LoadSymbolsText(const std::string& text) {
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

void TMathInterpreter::LoadSymbolsFromStream(std::istream& stream) {
    ClearSymbols();
    LoadSymbolsText(ReadAll(stream));
}

void TMathInterpreter::SaveSymbolsToStream(std::ostream& stream) {
    const std::string text = DumpStreamable();
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!stream) throw EStreamError("Stream write error");
}

void TMathInterpreter::LoadSymbolsFromFile(const std::string& fileName) {
    std::ifstream file;
    OpenForReading(file, fileName);
    const std::string text = ReadAll(file);
    ClearSymbols();
    LoadSymbolsText(text);
}

void TMathInterpreter::SaveSymbolsToFile(const std::string& fileName) {
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file) throw EFileError("Cannot create file \"" + fileName + "\".");
    SaveSymbolsToStream(file);
    file.close();
    if (!file) throw EFileError("Cannot write file \"" + fileName + "\".");
}

Variant TMathInterpreter::ExecuteFromFile(const std::string& fileName, TStrings* errors) {
    std::ifstream file;
    OpenForReading(file, fileName);
    return ExecuteFromStream(file, errors);
}

Variant TMathInterpreter::ExecuteFromStream(std::istream& stream, TStrings* errors) {
    return Execute(ReadAll(stream), errors);
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
    LoadSymbolsText(reader.ReadString());
}

void TMathInterpreter::WriteSymbols(TWriter& writer) { writer.WriteString(DumpStreamable()); }

}  // namespace zorvex
