// Internal: the operators of the language, one row each in Operators.def.
// Everything about an operator is written once: its lexeme, its class, how
// it binds and dumps (its row), its rule over values and its rule over
// doubles (its rule struct here). The tokenizer, tree building, evaluation,
// the dumps and the compiled form of prepared expressions all read them;
// only the class itself is declared with the other items, since its name
// shows in dumps and messages.
//
// A new binary operator takes a row in Operators.def, a rule struct here
// (or an existing one) and the line that declares its class in MathItem.h.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "ItemUtil.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

namespace zorvex {

class ItemArena;

namespace op {

// How the compiled form may apply an operator to doubles, and what it makes.
enum class Doubles : std::uint8_t {
    None,     // not at all: the tree evaluates it
    Numbers,  // numbers; a Real when an operand is one (Integer with Integer is the tree's)
    Reals,    // numbers, taken as Reals; a Real
    Compare,  // numbers; a Boolean
    Logic,    // Booleans; a Boolean
    Negate,   // a Real; a Real
    Invert,   // a Boolean; a Boolean
};

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline double Truth(bool b) { return b ? 1.0 : 0.0; }

// What a row's rules leave out.
struct Rule {
    static constexpr Doubles kDoubles = Doubles::None;
    // The double rule is given finite operands only; others answer NaN.
    static constexpr bool kFiniteOperands = false;
    // Machine code applies the double rule as this scalar SSE2 instruction
    // (its opcode after F2 0F), or 0: as a call of Raw. Whether the operands
    // may change places (IEEE + and *).
    static constexpr std::uint8_t kSse = 0;
    static constexpr bool kCommutes = false;
    // Links of one group form a flat chain (a+b-c..., a*b/c..., a and b or c...).
    static constexpr int kChain = 0;
    // Whether CheckOperatorCount runs before the operands are read.
    static constexpr bool kCountFirst = false;
    // Each operand is converted to a Real as soon as it is evaluated.
    static constexpr bool kToReal = false;
    // Evaluation takes several times the frame of plain arithmetic.
    static constexpr bool kHeavy = false;
    // Kinds its items carry besides those of their class.
    static constexpr std::uint32_t kKinds = 0;
    // Its items stand this many characters after the start of the lexeme.
    static constexpr int kPositionOffset = 0;
};

// ---- the rules of each operator

struct NegateRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Negate;
    static constexpr std::uint32_t kKinds = ikUnaryMinus;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& x) { return VarNeg(x); }
    static double Raw(double x) { return -x; }
};

// "not" demands a Boolean: its class raises for anything else.
struct NotRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Invert;
    static constexpr bool kFiniteOperands = true;
    static constexpr bool kHeavy = true;
    static void Check(const TMOperator& op, const TMExpression& operand, const Variant& x);
    static Variant Value(const Variant& x) { return VarNot(x); }
    static double Raw(double x) { return Truth(x == 0.0); }
};

// Power's rule with its failing cases as NaN.
inline double PowerOrNaN(double base, double exponent) {
    if (exponent == 0.0) return 1.0;
    if (exponent == 2.0) return base * base;
    if (base == 0.0) {
        if (exponent < 0.0) return kNaN;
    } else if (base < 0.0 && exponent != std::trunc(exponent)) {
        return kNaN;
    }
    return std::pow(base, exponent);
}

struct PowerRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Reals;
    static constexpr bool kFiniteOperands = true;
    static constexpr bool kCountFirst = true;
    static constexpr bool kToReal = true;
    static Variant Value(const Variant& l, const Variant& r) { return Reals(l.AsReal(), r.AsReal()); }
    // Of operands already converted.
    static Variant Reals(double l, double r) { return Variant(Power(l, r)); }
    static double Raw(double l, double r) { return PowerOrNaN(l, r); }
};

struct MultiplyRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Numbers;
    static constexpr int kChain = 2;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& l, const Variant& r) { return VarMul(l, r); }
    static double Raw(double l, double r) { return l * r; }
    static constexpr std::uint8_t kSse = 0x59;
    static constexpr bool kCommutes = true;
};

struct DivideRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Reals;
    static constexpr bool kFiniteOperands = true;
    static constexpr int kChain = 2;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& l, const Variant& r) { return VarRDiv(l, r); }
    static double Raw(double l, double r) { return l / r; }
    static constexpr std::uint8_t kSse = 0x5E;
};

struct IntDivRule : Rule {
    static constexpr int kChain = 2;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& l, const Variant& r) { return VarDiv(l, r); }
};

struct ModRule : Rule {
    static constexpr int kChain = 2;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& l, const Variant& r) { return VarMod(l, r); }
};

struct PlusRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Numbers;
    static constexpr int kChain = 1;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& l, const Variant& r) { return VarAdd(l, r); }
    static double Raw(double l, double r) { return l + r; }
    static constexpr std::uint8_t kSse = 0x58;
    static constexpr bool kCommutes = true;
};

struct MinusRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Numbers;
    static constexpr int kChain = 1;
    static constexpr bool kCountFirst = true;
    static Variant Value(const Variant& l, const Variant& r) { return VarSub(l, r); }
    static double Raw(double l, double r) { return l - r; }
    static constexpr std::uint8_t kSse = 0x5C;
};

// A relation holds when the three-way comparison stands so to 0.
template <class Holds>
struct RelationRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Compare;
    static constexpr bool kFiniteOperands = true;
    static Variant Value(const Variant& l, const Variant& r) { return Variant(Holds{}(VarCmp(l, r), 0)); }
    static double Raw(double l, double r) { return Truth(Holds{}(l, r)); }
};
struct Less {
    template <class T> bool operator()(T a, T b) const { return a < b; }
};
struct LessOrEqual {
    template <class T> bool operator()(T a, T b) const { return a <= b; }
};
struct Equal {
    template <class T> bool operator()(T a, T b) const { return a == b; }
};
struct LargerOrEqual {
    template <class T> bool operator()(T a, T b) const { return a >= b; }
};
struct Larger {
    template <class T> bool operator()(T a, T b) const { return a > b; }
};
struct NotEqual {
    template <class T> bool operator()(T a, T b) const { return a != b; }
};

struct AndRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Logic;
    static constexpr bool kFiniteOperands = true;
    static constexpr int kChain = 3;
    static Variant Value(const Variant& l, const Variant& r) { return VarAnd(l, r); }
    static double Raw(double l, double r) { return Truth(l != 0.0 && r != 0.0); }
};

struct OrRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Logic;
    static constexpr bool kFiniteOperands = true;
    static constexpr int kChain = 3;
    static Variant Value(const Variant& l, const Variant& r) { return VarOr(l, r); }
    static double Raw(double l, double r) { return Truth(l != 0.0 || r != 0.0); }
};

struct XorRule : Rule {
    static constexpr Doubles kDoubles = Doubles::Logic;
    static constexpr bool kFiniteOperands = true;
    static constexpr int kChain = 3;
    static Variant Value(const Variant& l, const Variant& r) { return VarXor(l, r); }
    static double Raw(double l, double r) { return Truth((l != 0.0) != (r != 0.0)); }
};

struct ShlRule : Rule {
    static constexpr int kChain = 3;
    static Variant Value(const Variant& l, const Variant& r) { return VarShl(l, r); }
};

struct ShrRule : Rule {
    static constexpr int kChain = 3;
    static Variant Value(const Variant& l, const Variant& r) { return VarShr(l, r); }
};

// Assignments evaluate by their own classes. They dump as written, so that
// a function body that assigns reads back.
struct AssignRule : Rule {
    static constexpr bool kHeavy = true;
};
// ":=" stands at its "=".
struct DefineRule : AssignRule {
    static constexpr std::uint32_t kKinds = ikAssignSymbolic;
    static constexpr int kPositionOffset = 1;
};

// ---- the table: Operators.def, read by each of the lists below

// The operation of an operator item; None for operators outside the table
// (the built-in functions).
enum class Operation : std::uint8_t {
    None,
#define ZORVEX_OPERATION(Class, ...) Class,
#define ZORVEX_OPERATOR_ROW ZORVEX_OPERATION
#include "Operators.def"
#undef ZORVEX_OPERATION
        Count
};

// The table as data, for what is decided at run time.
struct Row {
    std::string_view lexeme;
    TOperatorPriority priority;
    TOperatorAssociativity associativity;
    int operands;
    const char* dump;
    const char* className;
    int positionOffset;
    Doubles doubles;
    bool finiteOperands;
    int chain;
    bool heavy;
    TMOperator* (*create)(ItemArena* arena);
};

// A new item of the class, in an arena (null: on the heap).
template <class Class>
TMOperator* Make(ItemArena* arena) {
    return new (arena) Class();
}

inline constexpr Row kRows[] = {
    {},
#define ZORVEX_ROW(Class, lexeme, priority, associativity, operands, dump, evaluation, Rules)                        \
    {lexeme, priority, associativity, operands, dump, #Class, Rules::kPositionOffset, Rules::kDoubles, Rules::kFiniteOperands, \
     Rules::kChain, Rules::kHeavy, &Make<Class>},
#define ZORVEX_OPERATOR_ROW ZORVEX_ROW
#include "Operators.def"
#undef ZORVEX_ROW
};

inline const Row& RowOf(Operation o) { return kRows[static_cast<int>(o)]; }

// How each row binds, packed small for tree building.
struct Binding {
    TOperatorPriority priority;
    TOperatorAssociativity associativity;
    std::uint8_t operands;
    bool heavy;
};
inline constexpr auto kBindings = [] {
    std::array<Binding, std::size(kRows)> b{};
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = {kRows[i].priority, kRows[i].associativity, static_cast<std::uint8_t>(kRows[i].operands), kRows[i].heavy};
    return b;
}();
inline const Binding& BindingOf(Operation o) { return kBindings[static_cast<std::size_t>(o)]; }

// The rules of an operation, for what is decided when compiling.
template <Operation O>
struct RulesOf;
#define ZORVEX_RULES_OF(Class, lexeme, priority, associativity, operands, dump, evaluation, ...) \
    template <>                                                                                \
    struct RulesOf<Operation::Class> : __VA_ARGS__ {                                           \
        static constexpr int kOperands = operands;                                             \
        static constexpr bool kOwnValue = ZORVEX_OWN_##evaluation;                             \
    };
#define ZORVEX_OWN_Table false
#define ZORVEX_OWN_Own true
#define ZORVEX_OPERATOR_ROW ZORVEX_RULES_OF
#include "Operators.def"
#undef ZORVEX_RULES_OF
#undef ZORVEX_OWN_Table
#undef ZORVEX_OWN_Own
template <>
struct RulesOf<Operation::None> : Rule {
    static constexpr int kOperands = 0;
    static constexpr bool kOwnValue = true;
};

// Calls f.template operator()<O>() with the operation as a constant.
template <class F>
decltype(auto) Dispatch(Operation o, F&& f) {
    switch (o) {
#define ZORVEX_DISPATCH(Class, ...) \
    case Operation::Class: return f.template operator()<Operation::Class>();
#define ZORVEX_OPERATOR_ROW ZORVEX_DISPATCH
#include "Operators.def"
#undef ZORVEX_DISPATCH
        default: return f.template operator()<Operation::None>();
    }
}

// The value of a binary operation on its operands' values, exactly as its
// class evaluates it.
Variant Apply(Operation o, const Variant& l, const Variant& r);

// ---- reading lexemes

namespace detail {
inline constexpr int kCount = static_cast<int>(Operation::Count);
constexpr bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The rows of the lexemes of symbols that begin with each character: longest
// first, and of one lexeme the binary row first.
struct Starts {
    std::uint8_t rows[4] = {};
    int count = 0;
};
constexpr bool Before(const Row& a, const Row& b) {
    return a.lexeme.size() != b.lexeme.size() ? a.lexeme.size() > b.lexeme.size() : a.operands > b.operands;
}
inline constexpr auto kStarts = [] {
    std::array<Starts, 128> starts{};
    for (int i = 1; i < kCount; ++i) {
        const std::string_view lexeme = kRows[i].lexeme;
        if (IsLetter(lexeme[0])) continue;
        Starts& s = starts[static_cast<unsigned char>(lexeme[0])];
        if (s.count == 4) throw "more lexemes begin with one character than Starts holds";
        int k = s.count++;
        for (; k > 0 && Before(kRows[i], kRows[s.rows[k - 1]]); --k) s.rows[k] = s.rows[k - 1];
        s.rows[k] = static_cast<std::uint8_t>(i);
    }
    return starts;
}();

// The rows of the lexemes that are words, and their shortest and longest.
struct Words {
    std::uint8_t rows[kCount] = {};
    int count = 0;
    std::size_t shortest = 0, longest = 0;
};
inline constexpr Words kWords = [] {
    Words w;
    for (int i = 1; i < kCount; ++i) {
        const std::size_t n = kRows[i].lexeme.size();
        if (!IsLetter(kRows[i].lexeme[0])) continue;
        w.rows[w.count++] = static_cast<std::uint8_t>(i);
        w.shortest = w.shortest == 0 || n < w.shortest ? n : w.shortest;
        w.longest = n > w.longest ? n : w.longest;
    }
    return w;
}();

// For each row, the prefix row of the same lexeme.
inline constexpr auto kPrefixTwins = [] {
    std::array<Operation, kCount> twins{};
    for (int i = 1; i < kCount; ++i)
        for (int j = 1; j < kCount; ++j)
            if (j != i && kRows[j].operands == 1 && kRows[j].lexeme == kRows[i].lexeme)
                twins[i] = static_cast<Operation>(j);
    return twins;
}();

// Whether `text` starts with `lexeme`; `lower`: in any letter case.
inline bool StartsWith(std::string_view text, std::string_view lexeme, bool lower) {
    if (text.size() < lexeme.size()) return false;
    for (std::size_t k = 0; k < lexeme.size(); ++k)
        if ((lower ? text[k] | 0x20 : text[k]) != lexeme[k]) return false;
    return true;
}
}  // namespace detail

namespace detail {
// The operator of a character that is a whole lexeme and begins no other.
inline constexpr auto kSingles = [] {
    std::array<Operation, 128> singles{};
    for (std::size_t c = 0; c < singles.size(); ++c)
        if (kStarts[c].count == 1 && kRows[kStarts[c].rows[0]].lexeme.size() == 1)
            singles[c] = static_cast<Operation>(kStarts[c].rows[0]);
    return singles;
}();
}  // namespace detail

// The operator of the longest lexeme of symbols that `text` starts with, or
// None; of two rows of that lexeme, the binary one.
inline Operation Match(std::string_view text) {
    const auto c = static_cast<unsigned char>(text[0]);
    if (c >= detail::kStarts.size()) return Operation::None;
    if (detail::kSingles[c] != Operation::None) return detail::kSingles[c];
    const detail::Starts& s = detail::kStarts[c];
    for (int k = 0; k < s.count; ++k)
        if (detail::StartsWith(text, kRows[s.rows[k]].lexeme, false)) return static_cast<Operation>(s.rows[k]);
    return Operation::None;
}

// The priority and associativity of an operator item: from the table, or
// from its class for the built-ins.
inline TOperatorPriority PriorityOf(const TMOperator* item) {
    const Operation o = ItemAccess::Code(item);
    return o != Operation::None ? BindingOf(o).priority : item->Priority();
}
inline TOperatorAssociativity AssociativityOf(const TMOperator* item) {
    const Operation o = ItemAccess::Code(item);
    return o != Operation::None ? BindingOf(o).associativity : item->Associativity();
}

// The prefix operator of the same lexeme, or None.
inline Operation PrefixTwin(Operation o) { return detail::kPrefixTwins[static_cast<int>(o)]; }

// The operator that a whole word spells in any letter case, or None.
inline Operation MatchWord(std::string_view word) {
    if (word.size() < detail::kWords.shortest || word.size() > detail::kWords.longest) return Operation::None;
    for (int k = 0; k < detail::kWords.count; ++k) {
        const std::string_view lexeme = kRows[detail::kWords.rows[k]].lexeme;
        if (lexeme.size() == word.size() && detail::StartsWith(word, lexeme, true))
            return static_cast<Operation>(detail::kWords.rows[k]);
    }
    return Operation::None;
}

}  // namespace op
}  // namespace zorvex
