#include "zorvex/MathIntrinsic.h"

#include <array>
#include <string_view>
#include <unordered_map>

#include "IntrinsicEval.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

#define ZORVEX_DEFINE_INTRINSIC(Name, ...) \
    Variant TM##Name::GetValue() { return Eval##Name(*this); }
ZORVEX_INTRINSICS(ZORVEX_DEFINE_INTRINSIC)
#undef ZORVEX_DEFINE_INTRINSIC

#define ZORVEX_REGISTER_INTRINSIC(Name, N, Operands, Meaning, Group) \
    {"TM" #Name, N, []() -> TMIntrinsicFunctionCall* { return new TM##Name(); }, Operands, Meaning, Group},
const TMIntrinsicFunctionCallClass IntrinsicFunctionCallClasses[IntrinsicFunctionCount] = {
    ZORVEX_INTRINSICS(ZORVEX_REGISTER_INTRINSIC)};
#undef ZORVEX_REGISTER_INTRINSIC

const char* IntrinsicGroupName(TIntrinsicGroup group) {
    static const char* const names[IntrinsicGroupCount] = {
        "Arithmetic and rounding", "Powers, roots and logarithms", "Trigonometry", "Angles",
        "Text", "Conversion", "Number bases", "Conditional", "Financial"};
    const auto index = static_cast<int>(group);
    return index >= 0 && index < IntrinsicGroupCount ? names[index] : "";
}

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
    if (Interpreter != nullptr) Interpreter->Guard().Check();
}

int TMIntrinsicFunctionCall::ArgPosition(int index) const {
    TMExpression* e = GetOperandExpressions(index);
    return e ? e->ParsePosition : 0;
}

namespace {
// Upper-cased name to the first catalogue index of that name; the same
// answers as scanning the catalogue in order.
const std::unordered_map<std::string, int>& Lookup() {
    static const std::unordered_map<std::string, int> table = [] {
        std::unordered_map<std::string, int> t;
        for (int i = 0; i < IntrinsicFunctionCount; ++i)
            t.emplace(UpperCase(TMIntrinsicFunctionCall::FuncName(IntrinsicFunctionCallClasses[i])), i);
        return t;
    }();
    return table;
}
}  // namespace

TMIntrinsicFunctionCall* CreateIntrinsicFunctionCall(const std::string& name) {
    // No built-in name is longer than this; skip the upper-casing for long words.
    if (name.empty() || name.size() > 22) return nullptr;
    auto it = Lookup().find(UpperCase(name));
    if (it == Lookup().end()) return nullptr;
    return IntrinsicFunctionCallClasses[it->second].Create();
}

}  // namespace zorvex
