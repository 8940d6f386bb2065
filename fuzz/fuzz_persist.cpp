// Whatever a text leaves in the table saves, and loads into a fresh
// interpreter as the same table, or the save refuses before writing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "FuzzSupport.h"

using namespace zorvex;

namespace {

// Escape characters a first byte picks from (bits 1 to 4): none, the usual
// ones, and characters that mean something else outside strings.
constexpr char kEscapes[16] = {'\0', '\\', '\'', '"', ';', '#', 'a', ' ', ',', '(', '\x01', '\r', '\n', '\xff', '=', ')'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TMathInterpreter mi;
    fuzz::Limit(mi);
    if (size > 0 && (data[0] & 1)) mi.SetCaseSensitiveSymbols(true);
    const char escape = size > 0 ? kEscapes[(data[0] >> 1) & 15] : '\0';
    mi.SetEscapeChar(escape);
    TStrings errors;
    fuzz::Survives([&] { mi.Execute(text, &errors); });
    // A text ending in the escape character, made of the input's last bytes,
    // in a variable and in a function body.
    if (escape != '\0') {
        const std::string tail = text.substr(size - std::min<std::size_t>(size, 6)) + escape;
        if (fuzz::Survives([&] { mi.ExecuteExpression("fuzz_tail = 0"); }))
            fuzz::Survives([&] { mi.SetVariables("fuzz_tail", Variant(tail)); });
        std::string literal = "'";
        for (char c : tail) {
            if (c == '\'')
                literal += '\'';
            else if (c == escape)
                literal += escape;
            literal += c;
        }
        fuzz::Survives([&] { mi.ExecuteExpression("fuzz_body := " + literal + "' + fuzz_tail"); });
    }
    std::ostringstream out;
    std::string refusal;
    try {
        mi.SaveSymbolsToStream(out);
    } catch (const EAssertionFailed& e) {
        fuzz::Fail("assertion reached", e.Message());
    } catch (const Exception& e) {
        refusal = e.Message();
    }
    if (!refusal.empty()) {
        // Only a zero character in a text, or a tree too deep to write, may
        // keep a table from being saved; nothing is written then.
        if (refusal.find("zero character") == std::string::npos && refusal.find("stack space") == std::string::npos)
            fuzz::Fail("save refused", refusal);
        if (!out.str().empty()) fuzz::Fail("refused save wrote", out.str());
        return 0;
    }
    TMathInterpreter fresh;
    fuzz::Limit(fresh);
    fresh.SetCaseSensitiveSymbols(mi.CaseSensitiveSymbols());
    fresh.SetEscapeChar(escape);
    std::istringstream in(out.str());
    try {
        fresh.LoadSymbolsFromStream(in);
    } catch (const Exception& e) {
        fuzz::Fail("saved table does not load", e.Message() + "\n" + out.str());
    }
    std::string again;
    fuzz::Survives([&] { again = fresh.DumpStreamable(); });
    if (again != out.str()) fuzz::Fail("table changed on the way", out.str() + "\n----\n" + again);
    fuzz::ExpectUsable(fresh);
    return 0;
}
