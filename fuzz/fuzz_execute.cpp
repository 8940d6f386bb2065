// Any text through Execute, prepared execution and the dumps: only the
// library's own errors, never an assertion or a crash, and the interpreter
// answers afterwards.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "InterpreterAccess.h"

using namespace zorvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TMathInterpreter mi;
    fuzz::Limit(mi);
    // A first byte picks the settings, so that they are explored too.
    if (size > 0 && (data[0] & 1)) mi.SetCaseSensitiveSymbols(true);
    if (size > 0 && (data[0] & 2)) mi.SetEscapeChar('\\');
    // Compiled forms as machine code at once, not after many runs.
    if (size > 0 && (data[0] & 4)) InterpreterAccess::SetMachineCode(mi, true);
    TStrings errors;
    fuzz::Survives([&] { mi.Execute(text, &errors); });
    for (const std::string& piece : TMathInterpreter::SplitExpressions(text, mi.EscapeChar())) {
        int handle = -1;
        fuzz::Survives([&] { handle = mi.PrepareExpression(piece); });
        if (handle >= 0) {
            fuzz::Survives([&] { mi.ExecutePreparedExpression(handle); });
            fuzz::Survives([&] { mi.PreparedExpressions()[handle]->Dump(dfDetailed | dfQualified); });
        }
    }
    fuzz::Survives([&] { mi.Dump(";", dfDetailed); });
    fuzz::Survives([&] { mi.Dump(";", dfQualified); });
    fuzz::ExpectUsable(mi);
    fuzz::ExpectNothingHeld(mi);
    return 0;
}
