#include "zorvex/MathIntrinsic.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

#include "IntrinsicEval.h"
#include "zorvex/Exception.h"
#include "ItemHost.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

// A function's own error, which states no position, stands where its name
// does; errors of its operands locate themselves.
#define ZORVEX_DEFINE_INTRINSIC(Name, ...)  \
    Variant TM##Name::GetValue() {          \
        try {                               \
            return Eval##Name(*this);       \
        } catch (Exception& e) {           \
            e.Locate(ParsePosition);        \
            throw;                          \
        }                                   \
    }
ZORVEX_INTRINSICS(ZORVEX_DEFINE_INTRINSIC)
#undef ZORVEX_DEFINE_INTRINSIC

#define ZORVEX_REGISTER_INTRINSIC(Name, N, Operands, Meaning, Group) \
    {"TM" #Name, N, []() -> TMIntrinsicFunctionCall* { return new TM##Name(); }, Operands, Meaning, Group},
const TMIntrinsicFunctionCallClass IntrinsicFunctionCallClasses[IntrinsicFunctionCount] = {
    ZORVEX_INTRINSICS(ZORVEX_REGISTER_INTRINSIC)};
#undef ZORVEX_REGISTER_INTRINSIC

namespace {
constexpr const char* kGroupNames[IntrinsicGroupCount] = {
    "Arithmetic and rounding", "Powers, roots and logarithms", "Trigonometry", "Angles",
    "Text", "Conversion", "Number bases", "Conditional", "Financial"};

#define ZORVEX_BUILTIN_INFO(Name, N, Operands, Meaning, Group) {#Name, N, Operands, Group, kGroupNames[Group], Meaning},
constexpr BuiltinInfo kBuiltins[IntrinsicFunctionCount] = {ZORVEX_INTRINSICS(ZORVEX_BUILTIN_INFO)};
#undef ZORVEX_BUILTIN_INFO
}  // namespace

const char* IntrinsicGroupName(TIntrinsicGroup group) {
    const auto index = static_cast<int>(group);
    return index >= 0 && index < IntrinsicGroupCount ? kGroupNames[index] : "";
}

std::span<const BuiltinInfo> Builtins() { return kBuiltins; }

std::string TMIntrinsicFunctionCall::FuncName(const TMIntrinsicFunctionCallClass& cls) {
    return std::string(cls.ClassName + 2);
}

std::string TMIntrinsicFunctionCall::FuncName() const { return std::string(ClassName() + 2); }

std::string TMIntrinsicFunctionCall::Dump(TDumpFormat format) const {
    if (format & dfDetailed) return TMOperator::Dump(format);
    return FuncName() + "(" + DumpList(Operands, format) + ")";
}

std::string TMIntrinsicFunctionCall::DumpOperator() const {
    AssertionFailed("Source/MathItem", "DumpOperator of a built-in function");
}

void TMIntrinsicFunctionCall::SetMathInterpreter(TMathInterpreter* interpreter) {
    Interpreter = interpreter;
    TMOperator::SetMathInterpreter(interpreter);
}

void TMIntrinsicFunctionCall::CheckInterrupt() const {
    if (Interpreter != nullptr) host::Check(*Interpreter);
}

int TMIntrinsicFunctionCall::ArgPosition(int index) const {
    TMExpression* e = GetOperandExpressions(index);
    return e ? e->ParsePosition : 0;
}

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::size_t Hash(std::string_view name) {
    std::size_t h = 2166136261u;
    for (char c : name) h = (h ^ static_cast<unsigned char>(Upper(c))) * 16777619u;
    return h;
}

// Catalogue indexes by the upper-cased name, open addressed: the same
// answers as scanning the catalogue in order, without making a string.
struct NameIndex {
    static constexpr std::size_t kSlots = 256;
    std::int16_t slot[kSlots];
    NameIndex() {
        std::fill(std::begin(slot), std::end(slot), std::int16_t{-1});
        for (int i = 0; i < IntrinsicFunctionCount; ++i) {
            const std::string_view name(IntrinsicFunctionCallClasses[i].ClassName + 2);
            std::size_t k = Hash(name) % kSlots;
            while (slot[k] >= 0) {
                if (Same(slot[k], name)) break;  // the first of equal names wins
                k = (k + 1) % kSlots;
            }
            if (slot[k] < 0) slot[k] = static_cast<std::int16_t>(i);
        }
    }
    static bool Same(int index, std::string_view name) {
        const std::string_view entry(IntrinsicFunctionCallClasses[index].ClassName + 2);
        if (entry.size() != name.size()) return false;
        for (std::size_t j = 0; j < name.size(); ++j)
            if (Upper(entry[j]) != Upper(name[j])) return false;
        return true;
    }
    int Find(std::string_view name) const {
        for (std::size_t k = Hash(name) % kSlots; slot[k] >= 0; k = (k + 1) % kSlots)
            if (Same(slot[k], name)) return slot[k];
        return -1;
    }
};

using ArenaCreator = TMIntrinsicFunctionCall* (*)(ItemArena*);
#define ZORVEX_ARENA_CREATOR(Name, ...) \
    [](ItemArena* arena) -> TMIntrinsicFunctionCall* { return new (arena) TM##Name(); },
const ArenaCreator kArenaCreators[IntrinsicFunctionCount] = {ZORVEX_INTRINSICS(ZORVEX_ARENA_CREATOR)};
#undef ZORVEX_ARENA_CREATOR

}  // namespace

int IntrinsicIndexOf(std::string_view name) {
    // No built-in name is longer than this.
    if (name.empty() || name.size() > 22) return -1;
    static const NameIndex index;
    return index.Find(name);
}

TMIntrinsicFunctionCall* CreateIntrinsic(int index, ItemArena* arena) { return kArenaCreators[index](arena); }

const BuiltinInfo* FindBuiltin(std::string_view name) {
    const int index = IntrinsicIndexOf(name);
    return index < 0 ? nullptr : &kBuiltins[index];
}

TMIntrinsicFunctionCall* CreateIntrinsicFunctionCall(const std::string& name) {
    const int index = IntrinsicIndexOf(name);
    return index < 0 ? nullptr : IntrinsicFunctionCallClasses[index].Create();
}

}  // namespace zorvex
