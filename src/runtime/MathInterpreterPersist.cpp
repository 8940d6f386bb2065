// Symbol persistence and execution of whole texts from streams and files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <random>

#include "InterpreterImpl.h"
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
    throw ETypeError("TMathInterpreter.DumpStreamable() Symbol: \"" + Excerpt(name) + "\" can not be saved: " + why);
}

// Why the symbols text can not hold a value, or null.
const char* UnsavableValue(const Variant& value) {
    if (value.IsArray()) return "it holds an array, which symbols text can not hold.";
    if (value.IsReal() && !std::isfinite(value.AsReal()))
        return std::isnan(value.AsReal()) ? "it holds NaN, which symbols text can not hold."
                                          : "it holds an infinity, which symbols text can not hold.";
    if (value.IsString() && value.AsString().find('\0') != std::string::npos)
        return "a text in it holds a zero character, which symbols text can not hold.";
    return nullptr;
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

[[noreturn]] void FileFailure(const char* what, const std::string& fileName, const std::string& why = {}) {
    throw EFileError(std::string(what) + " \"" + Excerpt(fileName) + "\"" + (why.empty() ? "." : ": " + why + "."));
}

// A directory opens as a stream on some systems and then reads as nothing.
void OpenForReading(std::ifstream& file, const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::is_directory(fileName, ec)) file.open(fileName, std::ios::binary);
    if (!file.is_open()) FileFailure("Cannot open file", fileName);
}

// Whether this process may write there, by its effective rights.
bool Writable(const std::string& path, int mode = W_OK) { return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0; }

const char* KindOfFile(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "no regular file";
}

// A new file of a name no other has, beside `target`: temporary files that
// saves killed midway left behind never stand in the way. It takes the mode
// (and, where allowed, the owner) of the file it is to replace.
std::string CreateBeside(const std::filesystem::path& target, const std::string& fileName, const struct stat* old) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<int> letter(0, static_cast<int>(sizeof kLetters) - 2);
    // Room for the suffix within the longest file name.
    const std::string base = target.filename().string().substr(0, 200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix = ".tmp";
        for (int i = 0; i < 8; ++i) suffix += kLetters[letter(random)];
        const std::string name = (target.parent_path() / (base + suffix)).string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (old != nullptr) {
                [[maybe_unused]] const int owned = ::fchown(fd, old->st_uid, old->st_gid);
                ::fchmod(fd, old->st_mode & 07777);
            }
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) FileFailure("Cannot create file", fileName, std::strerror(errno));
    }
    FileFailure("Cannot create file", fileName, "no free name for the temporary file beside it");
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The stream's text, up to its first zero byte, without a leading UTF-8 byte
// order mark. Reading stops at the zero byte, or with an error once the text
// passes the length limit: an endless stream neither hangs nor fills memory.
std::string ReadAll(std::istream& stream, const char* operation) {
    constexpr std::size_t kChunk = 64 * 1024;
    auto tooLong = [operation] {
        throw ELimitError(std::string(operation) + "() Text is longer than the maximum length of " +
                          std::to_string(MaxTextLength) + " characters; nothing of it was run.");
    };
    std::string text;
    while (stream) {
        const std::size_t size = text.size();
        // Grows as usual, but once near the limit straight to all it may take.
        if (size + kChunk > text.capacity()) {
            const std::size_t want = std::max(2 * text.capacity(), size + kChunk);
            text.reserve(want < MaxTextLength ? want : MaxTextLength + kBom.size() + kChunk);
        }
        text.resize(size + kChunk);
        try {
            stream.read(text.data() + size, static_cast<std::streamsize>(kChunk));
        } catch (...) {
            // A stream set to throw: its end is no error, its failure is ours.
            if (!stream.fail() || stream.bad()) throw EStreamError("Stream read error");
        }
        text.resize(size + static_cast<std::size_t>(stream.gcount()));
        const std::size_t zero = text.find('\0', size);
        if (zero != std::string::npos) {
            text.resize(zero);
            break;
        }
        if (text.size() > MaxTextLength + kBom.size()) tooLong();
    }
    if (stream.bad()) throw EStreamError("Stream read error");
    if (std::string_view(text).starts_with(kBom)) text.erase(0, kBom.size());
    if (text.size() > MaxTextLength) tooLong();
    return text;
}

}  // namespace

// Refuses, before anything is written, what would not load back as it is.
std::string TMathInterpreter::DumpStreamable() const {
    const TMSymbols& symbols = impl_->symbols;
    std::string text;
    for (int i = 0; i < symbols.Count(); ++i) {
        auto* symbol = static_cast<TMSymbol*>(symbols.At(i));
        if (symbol == nullptr) continue;
        if (!IsSavableName(symbol->Identifier())) Unsavable(symbol->Identifier(), "its name is no identifier.");
        const char* why = nullptr;
        if (symbol->IsVariable()) {
            // A constant is the host's, like its functions.
            auto* var = static_cast<TMVar*>(symbol);
            if (var->IsConstant()) continue;
            why = var->IsValueHolder() ? UnsavableValue(var->ValueRef()) : UnsavableValue(var->GetValue());
        } else if (auto* function = ItemAs<TMFunction>(symbol, ikFunction)) {
            for (int k = 0; k < function->Parameters().Count(); ++k) {
                auto* param = static_cast<TMSymbol*>(function->Parameters().At(k));
                if (param != nullptr && !IsSavableName(param->Identifier()))
                    Unsavable(symbol->Identifier(), "a parameter's name is no identifier.");
            }
            WalkTree(function->Expression(), [&](TMItem* item) {
                if (why == nullptr && item->Is(ikLiteral)) why = UnsavableValue(static_cast<TMLiteral*>(item)->Value);
            });
        }
        if (why != nullptr) Unsavable(symbol->Identifier(), why);
        std::string entry = symbol->Dump(0);
        if (entry.empty()) continue;
        if (!text.empty()) text += ";\r\n";
        text += entry;
    }
    return text;
}

void TMathInterpreter::Impl::LoadSymbolsText(const std::string& text) {
    const FlagScope loading(loadingSymbols);
    // Entries run as they are split off: a long text makes no list of them.
    zorvex::ForEachExpression(text, escapeChar, [&](std::string_view piece) {
        const std::string entry(piece);
        const std::string name = EmptyVariableEntry(entry);
        if (name.empty() || !IsPlainName(name)) {
            self.ExecuteExpression(entry);
            return;
        }
        TMSymbol* symbol = symbols.FindSymbol(name);
        if (symbol == nullptr) {
            auto var = std::make_unique<TMVar>();
            var->ParsePosition = 1;
            var->List = &symbols;
            var->SetIdentifier(name);
            symbols.Add(var.get());
            symbol = var.release();
        }
        symbol->SetValue(Variant::Null());
    });
}

// The text is read whole before the table is touched: a read that fails
// leaves the symbols as they were. A load, like the execution of a file or
// stream, is one evaluation for the interrupt request and the budgets,
// however many entries it holds.
void TMathInterpreter::LoadSymbolsFromStream(std::istream& stream) {
    impl_->Entry([&] {
        TEvaluationGuard::Run run(impl_->guard);
        const std::string text = ReadAll(stream, "TMathInterpreter.LoadSymbolsFromStream");
        impl_->ClearForLoad();
        impl_->LoadSymbolsText(text);
    });
}

void TMathInterpreter::SaveSymbolsToStream(std::ostream& stream) {
    const std::string text = DumpStreamable();
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!stream) throw EStreamError("Stream write error");
}

void TMathInterpreter::LoadSymbolsFromFile(const std::string& fileName) {
    impl_->Entry([&] {
        TEvaluationGuard::Run run(impl_->guard);
        std::ifstream file;
        OpenForReading(file, fileName);
        const std::string text = ReadAll(file, "TMathInterpreter.LoadSymbolsFromFile");
        impl_->ClearForLoad();
        impl_->LoadSymbolsText(text);
    });
}

// The symbols go to a new file beside the target, which then replaces it in
// one step: a save that fails leaves the old file exactly as it was. Only a
// regular file is replaced, and only where this process may write it.
void TMathInterpreter::SaveSymbolsToFile(const std::string& fileName) {
    namespace fs = std::filesystem;
    const fs::path target = SaveTarget(fileName);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : std::string(".");
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode))
            FileFailure("Cannot create file", fileName,
                        std::string("it is ") + KindOfFile(old.st_mode) + ", and a save replaces only a regular file");
        if (!Writable(target.string()))
            FileFailure("Cannot create file", fileName,
                        errno == EACCES || errno == EPERM ? "it is read-only" : std::strerror(errno));
    } else if (errno != ENOENT) {
        FileFailure("Cannot create file", fileName, std::strerror(errno));
    }
    if (!Writable(folder, W_OK | X_OK)) {
        if (exists)
            FileFailure("Cannot create file", fileName,
                        "its folder is read-only, and a save writes the new file there to replace the old one");
        FileFailure("Cannot create file", fileName, std::strerror(errno));
    }
    const std::string temp = CreateBeside(target, fileName, exists ? &old : nullptr);
    std::error_code ec;
    try {
        {
            std::ofstream file(temp, std::ios::binary | std::ios::trunc);
            if (!file) FileFailure("Cannot create file", fileName);
            SaveSymbolsToStream(file);
            file.close();
            if (!file) FileFailure("Cannot write file", fileName);
        }
        fs::rename(temp, target, ec);
        if (ec) FileFailure("Cannot write file", fileName, ec.message());
    } catch (...) {
        fs::remove(temp, ec);
        throw;
    }
}

Variant TMathInterpreter::ExecuteFromFile(const std::string& fileName, TStrings* errors) {
    return impl_->Entry([&] {
        TEvaluationGuard::Run run(impl_->guard);
        std::ifstream file;
        OpenForReading(file, fileName);
        return Execute(ReadAll(file, "TMathInterpreter.ExecuteFromFile"), errors);
    });
}

Variant TMathInterpreter::ExecuteFromStream(std::istream& stream, TStrings* errors) {
    return impl_->Entry([&] {
        TEvaluationGuard::Run run(impl_->guard);
        return Execute(ReadAll(stream, "TMathInterpreter.ExecuteFromStream"), errors);
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
    ZORVEX_ASSERT(impl_->symbols.Count() == 0, "Source/MathInterpreter");
    impl_->Entry([&] {
        TEvaluationGuard::Run run(impl_->guard);
        impl_->LoadSymbolsText(reader.ReadString());
    });
}

void TMathInterpreter::WriteSymbols(TWriter& writer) { writer.WriteString(DumpStreamable()); }

}  // namespace zorvex
