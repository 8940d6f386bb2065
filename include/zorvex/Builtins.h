// The built-in functions as people see them: for completion, help texts,
// syntax colouring and checks in a host program.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "zorvex/Export.h"

namespace zorvex {

// Groups of the catalogue, for listing the built-ins to people.
enum TIntrinsicGroup : std::uint8_t {
    igArithmetic,
    igExponential,
    igTrigonometry,
    igAngle,
    igText,
    igConversion,
    igNumberBase,
    igConditional,
    igFinancial
};
constexpr int IntrinsicGroupCount = 9;
// "Arithmetic and rounding", "Trigonometry", ...
ZORVEX_API const char* IntrinsicGroupName(TIntrinsicGroup group);

// One built-in function. The texts are the library's own and live as long
// as it does.
struct BuiltinInfo {
    std::string_view Name;       // as the catalogue spells it: "ArcTan2"
    int OperandCount;            // how many operands a call takes: 2
    std::string_view Operands;   // their names: "y, x" ("" for none)
    TIntrinsicGroup Group;
    std::string_view GroupName;  // IntrinsicGroupName(Group)
    std::string_view Meaning;    // one line: "angle of the point (x, y) in radians"
};

// Every built-in, in catalogue order (the order of IntrinsicFunctionCallClasses).
ZORVEX_API std::span<const BuiltinInfo> Builtins();
// The built-in a name denotes, in any letter case, as the language reads
// names; null for a name that is none.
ZORVEX_API const BuiltinInfo* FindBuiltin(std::string_view name);

}  // namespace zorvex
