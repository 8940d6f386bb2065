// The tokenizer and DebugParseExpression:
// every lexeme, its class and position, every tokenizer message, the escape
// character, sign folding and the number literal rules.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "OperatorTable.h"
#include "zorvex/Component.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

using namespace zorvex;

namespace {

// Owns the items of one parse.
struct Parsed {
    TMItems items;
    ~Parsed() { items.FreeAndClear(); }
    int Count() const { return items.Count(); }
    TMItem* operator[](int i) const { return items.Get(i); }
};

std::unique_ptr<Parsed> Parse(TMathInterpreter& interp, const std::string& text) {
    auto parsed = std::make_unique<Parsed>();
    interp.ParseExpression(text, parsed->items);
    return parsed;
}

// "Class@pos Class@pos ..." of the parse of `text`.
std::string Kinds(TMathInterpreter& interp, const std::string& text) {
    auto parsed = Parse(interp, text);
    std::string out;
    for (int i = 0; i < parsed->Count(); ++i) {
        if (!out.empty()) out += ' ';
        out += (*parsed)[i]->ClassName();
        out += '@';
        out += std::to_string((*parsed)[i]->ParsePosition);
    }
    return out;
}

// Message of the zorvex::Exception raised by ParseExpression, or a marker.
std::string ParseError(TMathInterpreter& interp, const std::string& text) {
    TMItems items;
    std::string message = "<no exception>";
    try {
        interp.ParseExpression(text, items);
    } catch (const EAssertionFailed& e) {
        message = std::string("<assertion> ") + e.what();
    } catch (const Exception& e) {
        message = e.Message();
    }
    items.FreeAndClear();
    return message;
}

// The single literal of `text`.
Variant LiteralOf(TMathInterpreter& interp, const std::string& text) {
    auto parsed = Parse(interp, text);
    if (parsed->Count() != 1) {
        ADD_FAILURE() << "'" << text << "' gave " << parsed->Count() << " items";
        return Variant();
    }
    auto* literal = dynamic_cast<TMLiteral*>((*parsed)[0]);
    if (literal == nullptr) {
        ADD_FAILURE() << "'" << text << "' gave " << (*parsed)[0]->ClassName();
        return Variant();
    }
    return literal->Value;
}

#define EXPECT_INT_LIT(text, value)                       \
    do {                                                  \
        Variant v_ = LiteralOf(interp, text);             \
        ASSERT_TRUE(v_.IsInteger()) << text;              \
        EXPECT_EQ(v_.AsInteger(), (value)) << text;       \
    } while (0)

#define EXPECT_REAL_LIT(text, value)                                   \
    do {                                                               \
        Variant v_ = LiteralOf(interp, text);                          \
        ASSERT_TRUE(v_.IsReal()) << text;                              \
        EXPECT_EQ(v_.AsReal(), static_cast<double>(value)) << text;    \
    } while (0)

#define EXPECT_STR_LIT(text, value)                       \
    do {                                                  \
        Variant v_ = LiteralOf(interp, text);             \
        ASSERT_TRUE(v_.IsString()) << text;               \
        EXPECT_EQ(v_.AsString(), std::string(value)) << text; \
    } while (0)

class Tokenizer : public ::testing::Test {
protected:
    TMathInterpreter interp;
};

// ---------------------------------------------------------------- lexemes

TEST_F(Tokenizer, EmptyAndBlankTextGiveNoItems) {
    EXPECT_EQ(Kinds(interp, ""), "");
    EXPECT_EQ(Kinds(interp, " \t\r\n "), "");
}

TEST_F(Tokenizer, BlanksAreTabLineFeedCarriageReturnSpace) {
    EXPECT_EQ(Kinds(interp, "\t1\n+\r2 "), "TMLiteral@2 TMPlus@4 TMLiteral@6");
}

TEST_F(Tokenizer, EverySymbolOperatorWithPosition) {
    EXPECT_EQ(Kinds(interp, "a!=b"), "TMVarRef@1 TMNotEqual@2 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "a<=b"), "TMVarRef@1 TMLessOrEqual@2 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "a<b"), "TMVarRef@1 TMLess@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a>=b"), "TMVarRef@1 TMLargerOrEqual@2 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "a>b"), "TMVarRef@1 TMLarger@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a==b"), "TMVarRef@1 TMEqual@2 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "a=b"), "TMVarRef@1 TMAssignValue@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a:=b"), "TMVarRef@1 TMAssignSymbolic@3 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "a^b"), "TMVarRef@1 TMPower@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a*b"), "TMVarRef@1 TMMultiply@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a/b"), "TMVarRef@1 TMDivide@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a+b"), "TMVarRef@1 TMPlus@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "a-b"), "TMVarRef@1 TMMinus@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "(a,b)"), "TMLeftBracket@1 TMVarRef@2 TMComma@3 TMVarRef@4 TMRightBracket@5");
}

// Every row of the operator table, a new one included: its lexeme reads as
// its class (in any letter case; a prefix row where an operand is due), and
// the class sits in the branch of the class tree that fixes what the row says.
TEST_F(Tokenizer, EveryOperatorOfTheTable) {
    for (int i = 1; i < static_cast<int>(op::Operation::Count); ++i) {
        const op::Row& row = op::kRows[i];
        for (const bool upper : {false, true}) {
            std::string lexeme(row.lexeme);
            if (upper)
                for (char& c : lexeme)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            const bool prefix = row.operands == 1;
            const std::string text = prefix ? lexeme + " a" : "a " + lexeme + " b";
            SCOPED_TRACE(text);
            auto parsed = Parse(interp, text);
            ASSERT_EQ(parsed->Count(), prefix ? 2 : 3);
            auto* item = dynamic_cast<TMOperator*>((*parsed)[prefix ? 0 : 1]);
            ASSERT_NE(item, nullptr);
            EXPECT_STREQ(item->ClassName(), row.className);
            EXPECT_EQ(item->ParsePosition, (prefix ? 1 : 3) + row.positionOffset);
            EXPECT_EQ(item->NumberOfOperands(), row.operands);
            EXPECT_EQ(item->DumpOperator(), row.dump);
            auto branch = [&](auto* cast, TOperatorPriority p) {
                if (cast != nullptr) {
                    EXPECT_EQ(item->Priority(), p);
                }
            };
            branch(dynamic_cast<TMUnaryOperator*>(item), opUnaryOperator);
            branch(dynamic_cast<TMBinaryOperatorMultiplication*>(item), opMultiply);
            branch(dynamic_cast<TMBinaryOperatorAddition*>(item), opPlus);
            branch(dynamic_cast<TMBinaryOperatorRelation*>(item), opRelation);
            branch(dynamic_cast<TMBinaryOperatorBoolean*>(item), opBoolean);
            branch(dynamic_cast<TMAssign*>(item), opAssign);
            EXPECT_EQ(dynamic_cast<TMBinaryOperator*>(item) != nullptr, row.operands == 2);
            EXPECT_EQ(item->Associativity(), dynamic_cast<TMLeftToRightAssociative*>(item) != nullptr ? oaLeftToRight
                                                                                                    : oaRightToLeft);
        }
    }
}

TEST_F(Tokenizer, OperatorsWithBlanksKeepPositionsOfFirstChar) {
    EXPECT_EQ(Kinds(interp, "  x  ==  1"), "TMVarRef@3 TMEqual@6 TMLiteral@10");
    EXPECT_EQ(Kinds(interp, " x := 1"), "TMVarRef@2 TMAssignSymbolic@5 TMLiteral@7");
}

TEST_F(Tokenizer, AssignmentsAndEquality) {
    EXPECT_EQ(Kinds(interp, "x:=1"), "TMVarRef@1 TMAssignSymbolic@3 TMLiteral@4");
    EXPECT_EQ(Kinds(interp, "x=1"), "TMVarRef@1 TMAssignValue@2 TMLiteral@3");
    EXPECT_EQ(Kinds(interp, "x==1"), "TMVarRef@1 TMEqual@2 TMLiteral@4");
    // "===" is "==" followed by "="
    EXPECT_EQ(Kinds(interp, "x===1"), "TMVarRef@1 TMEqual@2 TMAssignValue@4 TMLiteral@5");
    // "=" at the very end
    EXPECT_EQ(Kinds(interp, "x="), "TMVarRef@1 TMAssignValue@2");
    EXPECT_EQ(Kinds(interp, "x<"), "TMVarRef@1 TMLess@2");
    EXPECT_EQ(Kinds(interp, "x>"), "TMVarRef@1 TMLarger@2");
}

TEST_F(Tokenizer, LessGreaterIsNotAnOperator) {
    EXPECT_EQ(Kinds(interp, "a<>b"), "TMVarRef@1 TMLess@2 TMLarger@3 TMVarRef@4");
}

TEST_F(Tokenizer, PlusIsNeverUnary) {
    EXPECT_EQ(Kinds(interp, "+3"), "TMPlus@1 TMLiteral@2");
    auto parsed = Parse(interp, "+3");
    EXPECT_EQ(static_cast<TMLiteral*>((*parsed)[1])->Value.AsInteger(), 3);
}

// ---------------------------------------------------------------- errors

TEST_F(Tokenizer, ExclamationWithoutEquals) {
    EXPECT_EQ(ParseError(interp, "a ! b"),
              "TMathInterpreter.ParseExpression() After \"!\", \"=\" is expected on position: 4.");
    // "!" at the very end: the position after it is length + 1
    EXPECT_EQ(ParseError(interp, "a!"),
              "TMathInterpreter.ParseExpression() After \"!\", \"=\" is expected on position: 3.");
    EXPECT_EQ(ParseError(interp, "!"), "TMathInterpreter.ParseExpression() After \"!\", \"=\" is expected on position: 2.");
}

TEST_F(Tokenizer, ColonWithoutEquals) {
    EXPECT_EQ(ParseError(interp, "a : b"),
              "TMathInterpreter.Parse() \":=\" expected, but only \":\" found on position: 3");
    EXPECT_EQ(ParseError(interp, "a:"), "TMathInterpreter.Parse() \":=\" expected, but only \":\" found on position: 2");
}

TEST_F(Tokenizer, UnknownCharacters) {
    EXPECT_EQ(ParseError(interp, ".5"), "TMathInterpreter.Parse() Unknown char - ASCII code: #46, on position: 1.");
    EXPECT_EQ(ParseError(interp, "a # b"), "TMathInterpreter.Parse() Unknown char - ASCII code: #35, on position: 3.");
    const struct {
        char c;
        int code;
    } cases[] = {{';', 59}, {'$', 36}, {'[', 91}, {']', 93}, {'{', 123}, {'}', 125}, {'&', 38},
                 {'%', 37}, {'`', 96}, {'\x01', 1}, {'\x0b', 11}, {'\x0c', 12}, {'\x7f', 127}, {'?', 63},
                 {'@', 64}, {'|', 124}, {'~', 126}, {'\\', 92}};
    for (const auto& c : cases) {
        std::string text = "1+";
        text += c.c;
        EXPECT_EQ(ParseError(interp, text), "TMathInterpreter.Parse() Unknown char - ASCII code: #" +
                                                std::to_string(c.code) + ", on position: 3.")
            << c.code;
    }
}

TEST_F(Tokenizer, HighCharactersOnlyInsideStrings) {
    EXPECT_EQ(ParseError(interp, "x\xC8"), "TMathInterpreter.Parse() Unknown char - ASCII code: #200, on position: 2.");
    EXPECT_EQ(ParseError(interp, "\xFF"), "TMathInterpreter.Parse() Unknown char - ASCII code: #255, on position: 1.");
    EXPECT_EQ(ParseError(interp, "\x80"), "TMathInterpreter.Parse() Unknown char - ASCII code: #128, on position: 1.");
    EXPECT_STR_LIT("'\xB0\xFF\x80'", "\xB0\xFF\x80");
}

TEST_F(Tokenizer, ItemsBeforeAnErrorStayInTheList) {
    TMItems items;
    EXPECT_THROW(interp.ParseExpression("1 + x # 2", items), Exception);
    EXPECT_EQ(items.Count(), 3);
    if (items.Count() == 3) {
        EXPECT_STREQ(items.Get(0)->ClassName(), "TMLiteral");
        EXPECT_STREQ(items.Get(1)->ClassName(), "TMPlus");
        EXPECT_STREQ(items.Get(2)->ClassName(), "TMVarRef");
    }
    items.FreeAndClear();
}

TEST_F(Tokenizer, ParseExpressionFreesItemsAlreadyInTheList) {
    TMItems items;
    items.Add(new TMLiteral(Variant(7)));
    items.Add(nullptr);
    items.Add(new TMPlus());
    interp.ParseExpression("x", items);  // the old entries are freed (checked by the sanitizer build)
    ASSERT_EQ(items.Count(), 1);
    EXPECT_STREQ(items.Get(0)->ClassName(), "TMVarRef");
    interp.ParseExpression("", items);
    EXPECT_EQ(items.Count(), 0);
    items.FreeAndClear();
}

// ---------------------------------------------------------------- number literals

TEST_F(Tokenizer, IntegerLiterals) {
    EXPECT_INT_LIT("15", 15);
    EXPECT_INT_LIT("0", 0);
    EXPECT_INT_LIT("007", 7);
    EXPECT_INT_LIT("2147483647", 2147483647);
    EXPECT_EQ(Kinds(interp, "  15"), "TMLiteral@3");
}

TEST_F(Tokenizer, RealLiterals) {
    EXPECT_REAL_LIT("1.5e3", 1500);
    EXPECT_REAL_LIT("1E+2", 100);
    EXPECT_REAL_LIT("2.50", 2.5);
    EXPECT_REAL_LIT("1e-2", 0.01);
    EXPECT_REAL_LIT("1.25E2", 125);
    EXPECT_REAL_LIT("3.0", 3);
    EXPECT_REAL_LIT("0.1", 0.1);
    EXPECT_REAL_LIT("2147483648.0", 2147483648.0);
    EXPECT_REAL_LIT("1e10", 1e10);
}

TEST_F(Tokenizer, PointWithoutFractionIsReal) {
    // The literal `1.` is the real 1.
    EXPECT_REAL_LIT("1.", 1);
    EXPECT_REAL_LIT("12.", 12);
    EXPECT_REAL_LIT("1.e2", 100);
    EXPECT_EQ(Kinds(interp, "1.+2"), "TMLiteral@1 TMPlus@3 TMLiteral@4");
}

TEST_F(Tokenizer, BadNumberLiterals) {
    EXPECT_EQ(ParseError(interp, "1e"), "TMathInterpreter.Parse() Bad number literal: \"1e\" on position: 3.");
    EXPECT_EQ(ParseError(interp, "1e+"), "TMathInterpreter.Parse() Bad number literal: \"1e+\" on position: 4.");
    EXPECT_EQ(ParseError(interp, "1E-"), "TMathInterpreter.Parse() Bad number literal: \"1E-\" on position: 4.");
    EXPECT_EQ(ParseError(interp, "x = 2e"), "TMathInterpreter.Parse() Bad number literal: \"2e\" on position: 7.");
    // the letters after "e" are not part of the literal
    EXPECT_EQ(ParseError(interp, "2else"), "TMathInterpreter.Parse() Bad number literal: \"2e\" on position: 3.");
    EXPECT_EQ(ParseError(interp, "1.5e+x"), "TMathInterpreter.Parse() Bad number literal: \"1.5e+\" on position: 6.");
    // integer literals are limited to 0..2147483647
    EXPECT_EQ(ParseError(interp, "2147483648"),
              "TMathInterpreter.Parse() Bad number literal: \"2147483648\" on position: 11.");
    EXPECT_EQ(ParseError(interp, "99999999999999999999"),
              "TMathInterpreter.Parse() Bad number literal: \"99999999999999999999\" on position: 21.");
    // a real beyond the range of a double is no number
    EXPECT_EQ(ParseError(interp, "1e400"), "TMathInterpreter.Parse() Bad number literal: \"1e400\" on position: 6.");
}

TEST_F(Tokenizer, IntegerLimitsWithSign) {
    EXPECT_INT_LIT("-2147483647", -2147483647);
    EXPECT_EQ(ParseError(interp, "-2147483648"),
              "TMathInterpreter.Parse() Bad number literal: \"2147483648\" on position: 12.");
    EXPECT_EQ(ParseError(interp, "- 2147483648"),
              "TMathInterpreter.Parse() Bad number literal: \"2147483648\" on position: 13.");
    // the same value as a real literal is fine
    EXPECT_REAL_LIT("-2147483648.0", -2147483648.0);
}

TEST_F(Tokenizer, LettersAfterDigitsStartAnIdentifier) {
    EXPECT_EQ(Kinds(interp, "2x"), "TMLiteral@1 TMVarRef@2");
    EXPECT_EQ(Kinds(interp, "2.5x"), "TMLiteral@1 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "2_a"), "TMLiteral@1 TMVarRef@2");
    auto parsed = Parse(interp, "2x");
    EXPECT_EQ(static_cast<TMVarRef*>((*parsed)[1])->ReferencedSymbolName, "x");
}

TEST_F(Tokenizer, NumberFollowedByPointAndLetter) {
    // "1.x": the point is taken (no fraction digits), then x is an identifier
    EXPECT_EQ(Kinds(interp, "1.x"), "TMLiteral@1 TMVarRef@3");
    // a second point is an unknown char
    EXPECT_EQ(ParseError(interp, "1.2.3"), "TMathInterpreter.Parse() Unknown char - ASCII code: #46, on position: 4.");
}

// ---------------------------------------------------------------- sign folding

TEST_F(Tokenizer, SignFolding) {
    EXPECT_INT_LIT("-3", -3);
    EXPECT_INT_LIT("--3", 3);
    EXPECT_INT_LIT("---3", -3);
    EXPECT_REAL_LIT("-2.5", -2.5);
    EXPECT_REAL_LIT("--2.5", 2.5);
    // the literal takes the position of its first digit
    EXPECT_EQ(Kinds(interp, "- 3"), "TMLiteral@3");
    EXPECT_INT_LIT("- 3", -3);
    EXPECT_EQ(Kinds(interp, "- - 3"), "TMLiteral@5");
    EXPECT_INT_LIT("- - 3", 3);
}

TEST_F(Tokenizer, BinaryMinusBeforeUnaryMinus) {
    EXPECT_EQ(Kinds(interp, "a - -3"), "TMVarRef@1 TMMinus@3 TMLiteral@6");
    auto parsed = Parse(interp, "a - -3");
    EXPECT_EQ(static_cast<TMLiteral*>((*parsed)[2])->Value.AsInteger(), -3);
    // after a literal or a right bracket minus is binary and never folded
    EXPECT_EQ(Kinds(interp, "1-2"), "TMLiteral@1 TMMinus@2 TMLiteral@3");
    EXPECT_EQ(Kinds(interp, "(1)-2"), "TMLeftBracket@1 TMLiteral@2 TMRightBracket@3 TMMinus@4 TMLiteral@5");
    auto p2 = Parse(interp, "1-2");
    EXPECT_EQ(static_cast<TMLiteral*>((*p2)[2])->Value.AsInteger(), 2);
}

TEST_F(Tokenizer, UnaryMinusContexts) {
    EXPECT_EQ(Kinds(interp, "-(3)"), "TMUnaryMinus@1 TMLeftBracket@2 TMLiteral@3 TMRightBracket@4");
    EXPECT_EQ(Kinds(interp, "-x"), "TMUnaryMinus@1 TMVarRef@2");
    EXPECT_EQ(Kinds(interp, "(-x)"), "TMLeftBracket@1 TMUnaryMinus@2 TMVarRef@3 TMRightBracket@4");
    EXPECT_EQ(Kinds(interp, "f(1,-x)"),
              "TMFunctionCall@1 TMLeftBracket@2 TMLiteral@3 TMComma@4 TMUnaryMinus@5 TMVarRef@6 TMRightBracket@7");
    EXPECT_EQ(Kinds(interp, "x*-y"), "TMVarRef@1 TMMultiply@2 TMUnaryMinus@3 TMVarRef@4");
    EXPECT_EQ(Kinds(interp, "not -y"), "TMNot@1 TMUnaryMinus@5 TMVarRef@6");
    EXPECT_EQ(Kinds(interp, "x=-y"), "TMVarRef@1 TMAssignValue@2 TMUnaryMinus@3 TMVarRef@4");
    // after an identifier or a call's right bracket the minus is binary
    EXPECT_EQ(Kinds(interp, "x-y"), "TMVarRef@1 TMMinus@2 TMVarRef@3");
    EXPECT_EQ(Kinds(interp, "true-1"), "TMLiteral@1 TMMinus@5 TMLiteral@6");
    // a string literal before it makes it binary too
    EXPECT_EQ(Kinds(interp, "'a'-1"), "TMLiteral@1 TMMinus@4 TMLiteral@5");
}

TEST_F(Tokenizer, FoldedIntoNumberAfterOperators) {
    EXPECT_EQ(Kinds(interp, "2*-3"), "TMLiteral@1 TMMultiply@2 TMLiteral@4");
    EXPECT_EQ(Kinds(interp, "2^-3"), "TMLiteral@1 TMPower@2 TMLiteral@4");
    auto parsed = Parse(interp, "2^-3");
    EXPECT_EQ(static_cast<TMLiteral*>((*parsed)[2])->Value.AsInteger(), -3);
}

TEST_F(Tokenizer, MinusAfterBuiltInFunctionIsUnary) {
    // "its last item is a TMOperator (any operator, built-in function items included)"
    EXPECT_EQ(Kinds(interp, "pi - 1"), "TMPi@1 TMLiteral@6");
    auto parsed = Parse(interp, "pi - 1");
    ASSERT_EQ(parsed->Count(), 2);
    EXPECT_EQ(static_cast<TMLiteral*>((*parsed)[1])->Value.AsInteger(), -1);
    EXPECT_EQ(Kinds(interp, "sin -x"), "TMSin@1 TMUnaryMinus@5 TMVarRef@6");
}

// ---------------------------------------------------------------- strings

TEST_F(Tokenizer, StringLiterals) {
    EXPECT_STR_LIT("'abc'", "abc");
    EXPECT_STR_LIT("\"abc\"", "abc");
    EXPECT_STR_LIT("''", "");
    EXPECT_STR_LIT("\"\"", "");
    EXPECT_STR_LIT("'it''s'", "it's");
    EXPECT_STR_LIT("''''", "'");
    EXPECT_STR_LIT("\"say \"\"hi\"\"\"", "say \"hi\"");
    EXPECT_STR_LIT("\"it's\"", "it's");
    EXPECT_STR_LIT("'a \"b\" c'", "a \"b\" c");
    EXPECT_STR_LIT("' x;y '", " x;y ");
    EXPECT_STR_LIT("'a\tb'", "a\tb");
    EXPECT_EQ(Kinds(interp, " 'ab' + \"c\""), "TMLiteral@2 TMPlus@7 TMLiteral@9");
}

TEST_F(Tokenizer, AdjacentStringsAreTwoLiterals) {
    // a doubled quote only counts inside the string; 'a' 'b' are two literals
    EXPECT_EQ(Kinds(interp, "'a' 'b'"), "TMLiteral@1 TMLiteral@5");
    // 'a''b' is one literal a'b
    EXPECT_STR_LIT("'a''b'", "a'b");
    // different quote kinds do not pair up
    EXPECT_EQ(Kinds(interp, "'a'\"b\""), "TMLiteral@1 TMLiteral@4");
}

TEST_F(Tokenizer, UnclosedStrings) {
    EXPECT_EQ(ParseError(interp, "'abc"), "ParseString() Unclosed string starting at position: 1.");
    EXPECT_EQ(ParseError(interp, "x + \"abc"), "ParseString() Unclosed string starting at position: 5.");
    EXPECT_EQ(ParseError(interp, "'"), "ParseString() Unclosed string starting at position: 1.");
    // a doubled quote at the end does not close the string
    EXPECT_EQ(ParseError(interp, "'ab''"), "ParseString() Unclosed string starting at position: 1.");
    // the other quote kind does not close it
    EXPECT_EQ(ParseError(interp, "'ab\""), "ParseString() Unclosed string starting at position: 1.");
}

TEST_F(Tokenizer, EscapeCharBackslash) {
    interp.SetEscapeChar('\\');
    EXPECT_STR_LIT("'a\\'b'", "a'b");
    EXPECT_STR_LIT("'a\\\\b'", "a\\b");
    EXPECT_STR_LIT("'a\\\"b'", "a\"b");
    EXPECT_STR_LIT("\"a\\\"b\"", "a\"b");
    EXPECT_STR_LIT("'a\\ b'", "a b");
    EXPECT_STR_LIT("'\\n'", "n");  // no sequences of its own
    EXPECT_STR_LIT("'a''b'", "a'b");  // doubling still works
    EXPECT_EQ(ParseError(interp, "'abc\\'"), "ParseString() Stand-alone escape char at position: 6.");
    // escape char as the very last character: the escaped character is past the end
    EXPECT_EQ(ParseError(interp, "'abc\\"), "ParseString() Stand-alone escape char at position: 6.");
    // the escaped character is the last one of the text: stand-alone, not unclosed
    EXPECT_EQ(ParseError(interp, "'ab\\c"), "ParseString() Stand-alone escape char at position: 5.");
    // an escaped quote followed by the closing quote is fine
    EXPECT_STR_LIT("'abc\\''", "abc'");
    // outside strings the escape character is an unknown char
    EXPECT_EQ(ParseError(interp, "\\"), "TMathInterpreter.Parse() Unknown char - ASCII code: #92, on position: 1.");
}

TEST_F(Tokenizer, EscapeCharOtherThanBackslash) {
    interp.SetEscapeChar('#');
    EXPECT_STR_LIT("'a#'b'", "a'b");
    EXPECT_STR_LIT("'a##b'", "a#b");
    EXPECT_STR_LIT("'a\\b'", "a\\b");
}

TEST_F(Tokenizer, WithoutEscapeCharBackslashIsOrdinary) {
    EXPECT_EQ(interp.EscapeChar(), '\0');
    EXPECT_STR_LIT("'a\\b'", "a\\b");
    EXPECT_STR_LIT("'abc\\'", "abc\\");
    EXPECT_STR_LIT("'a\\\\b'", "a\\\\b");
}

// ---------------------------------------------------------------- identifiers and keywords

TEST_F(Tokenizer, Identifiers) {
    for (const std::string name : {"x_1", "_x", "_", "abc", "ABC", "aBc9_", "__init__"}) {
        auto parsed = Parse(interp, name);
        ASSERT_EQ(parsed->Count(), 1) << name;
        auto* ref = dynamic_cast<TMVarRef*>((*parsed)[0]);
        ASSERT_NE(ref, nullptr) << name;
        EXPECT_EQ(ref->ReferencedSymbolName, name);  // case kept
        EXPECT_EQ(ref->ParsePosition, 1);
    }
    EXPECT_EQ(Kinds(interp, "ab cd"), "TMVarRef@1 TMVarRef@4");
}

TEST_F(Tokenizer, KeywordsInAnyCase) {
    const struct {
        const char* word;
        const char* cls;
    } cases[] = {{"div", "TMIntDiv"}, {"mod", "TMMod"},   {"delete", "TMDelete"}, {"rename", "TMRename"},
                 {"not", "TMNot"},    {"and", "TMAnd"},   {"or", "TMOr"},         {"xor", "TMXor"},
                 {"shl", "TMShl"},    {"shr", "TMShr"},   {"true", "TMLiteral"},  {"false", "TMLiteral"}};
    for (bool caseSensitive : {false, true}) {
        interp.SetCaseSensitiveSymbols(caseSensitive);
        for (const auto& c : cases) {
            std::string lower = c.word, upper, mixed;
            for (std::size_t i = 0; i < lower.size(); ++i) {
                upper += static_cast<char>(lower[i] - 'a' + 'A');
                mixed += i % 2 == 0 ? static_cast<char>(lower[i] - 'a' + 'A') : lower[i];
            }
            for (const std::string& w : {lower, upper, mixed}) {
                EXPECT_EQ(Kinds(interp, w), std::string(c.cls) + "@1") << w << " cs=" << caseSensitive;
            }
        }
    }
}

TEST_F(Tokenizer, BooleanLiterals) {
    for (const char* t : {"TRUE", "True", "true", "tRuE"}) {
        Variant v = LiteralOf(interp, t);
        ASSERT_TRUE(v.IsBoolean()) << t;
        EXPECT_TRUE(v.AsBoolean()) << t;
    }
    for (const char* t : {"FALSE", "False", "false"}) {
        Variant v = LiteralOf(interp, t);
        ASSERT_TRUE(v.IsBoolean()) << t;
        EXPECT_FALSE(v.AsBoolean()) << t;
    }
    EXPECT_EQ(Kinds(interp, "DIV"), "TMIntDiv@1");
    EXPECT_EQ(Kinds(interp, "7 DIV 2"), "TMLiteral@1 TMIntDiv@3 TMLiteral@7");
}

TEST_F(Tokenizer, KeywordPrefixesAreIdentifiers) {
    EXPECT_EQ(Kinds(interp, "notx"), "TMVarRef@1");
    EXPECT_EQ(Kinds(interp, "divide"), "TMVarRef@1");
    EXPECT_EQ(Kinds(interp, "true1"), "TMVarRef@1");
    EXPECT_EQ(Kinds(interp, "or_"), "TMVarRef@1");
    EXPECT_EQ(Kinds(interp, "a or b"), "TMVarRef@1 TMOr@3 TMVarRef@6");
}

TEST_F(Tokenizer, BuiltInNamesBecomeFunctionItems) {
    EXPECT_EQ(Kinds(interp, "sin"), "TMSin@1");
    EXPECT_EQ(Kinds(interp, "SIN(x)"), "TMSin@1 TMLeftBracket@4 TMVarRef@5 TMRightBracket@6");
    EXPECT_EQ(Kinds(interp, "  Max(1,2)"),
              "TMMax@3 TMLeftBracket@6 TMLiteral@7 TMComma@8 TMLiteral@9 TMRightBracket@10");
}

TEST_F(Tokenizer, UserFunctionCall) {
    EXPECT_EQ(Kinds(interp, "f(x)"), "TMFunctionCall@1 TMLeftBracket@2 TMVarRef@3 TMRightBracket@4");
    EXPECT_EQ(Kinds(interp, "f (x)"), "TMFunctionCall@1 TMLeftBracket@3 TMVarRef@4 TMRightBracket@5");
    EXPECT_EQ(Kinds(interp, "f()"), "TMFunctionCall@1 TMLeftBracket@2 TMRightBracket@3");
    auto parsed = Parse(interp, "  myFunc(x)");
    auto* call = dynamic_cast<TMFunctionCall*>((*parsed)[0]);
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->ReferencedSymbolName, "myFunc");
    EXPECT_EQ(call->ParsePosition, 3);
    // a bracket after anything else is an ordinary bracket
    EXPECT_EQ(Kinds(interp, "1(x)"), "TMLiteral@1 TMLeftBracket@2 TMVarRef@3 TMRightBracket@4");
    EXPECT_EQ(Kinds(interp, "f(x)(y)"),
              "TMFunctionCall@1 TMLeftBracket@2 TMVarRef@3 TMRightBracket@4 TMLeftBracket@5 TMVarRef@6 "
              "TMRightBracket@7");
    // nested calls
    EXPECT_EQ(Kinds(interp, "f(g(1))"),
              "TMFunctionCall@1 TMLeftBracket@2 TMFunctionCall@3 TMLeftBracket@4 TMLiteral@5 TMRightBracket@6 "
              "TMRightBracket@7");
}

TEST_F(Tokenizer, KeywordFollowedByBracketIsNoCall) {
    EXPECT_EQ(Kinds(interp, "not(x)"), "TMNot@1 TMLeftBracket@4 TMVarRef@5 TMRightBracket@6");
    EXPECT_EQ(Kinds(interp, "true(1)"), "TMLiteral@1 TMLeftBracket@5 TMLiteral@6 TMRightBracket@7");
}

TEST_F(Tokenizer, DeleteStatementItems) {
    EXPECT_EQ(Kinds(interp, "delete a, b"), "TMDelete@1 TMVarRef@8 TMComma@9 TMVarRef@11");
    EXPECT_EQ(Kinds(interp, "rename"), "TMRename@1");
}

TEST_F(Tokenizer, LongMixedExpression) {
    EXPECT_EQ(Kinds(interp, "r = (a+1.5e1)*b div 2 mod c^-d xor not e shl 1 shr 2 and f<>g or 'x'!=\"y\""),
              "TMVarRef@1 TMAssignValue@3 TMLeftBracket@5 TMVarRef@6 TMPlus@7 TMLiteral@8 TMRightBracket@13 "
              "TMMultiply@14 TMVarRef@15 TMIntDiv@17 TMLiteral@21 TMMod@23 TMVarRef@27 TMPower@28 TMUnaryMinus@29 "
              "TMVarRef@30 TMXor@32 TMNot@36 TMVarRef@40 TMShl@42 TMLiteral@46 TMShr@48 TMLiteral@52 TMAnd@54 "
              "TMVarRef@58 TMLess@59 TMLarger@60 TMVarRef@61 TMOr@63 TMLiteral@66 TMNotEqual@69 TMLiteral@71");
}

// ---------------------------------------------------------------- DebugParseExpression

TEST_F(Tokenizer, DebugParseExpression) {
    TStrings lines;
    interp.DebugParseExpression("a:=1", lines);
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"TMVarRef", "TMAssignSymbolic", "TMLiteral"}));
}

TEST_F(Tokenizer, DebugParseExpressionAppendsWithoutClearing) {
    TStrings lines;
    lines.Add("first");
    interp.DebugParseExpression("f(1) + -x", lines);
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"first", "TMFunctionCall", "TMLeftBracket", "TMLiteral",
                                                       "TMRightBracket", "TMPlus", "TMUnaryMinus", "TMVarRef"}));
    interp.DebugParseExpression("", lines);
    EXPECT_EQ(lines.Count(), 8);
    interp.DebugParseExpression("(1,2) delete", lines);
    EXPECT_EQ(lines.Count(), 14);
    EXPECT_EQ(lines[13], "TMDelete");
}

TEST_F(Tokenizer, DebugParseExpressionPropagatesTokenizerErrors) {
    TStrings lines;
    try {
        interp.DebugParseExpression("1 + 'abc", lines);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ParseString() Unclosed string starting at position: 5.");
    }
    // the interpreter stays usable
    interp.DebugParseExpression("1", lines);
    EXPECT_EQ(lines.Lines().back(), "TMLiteral");
}

TEST_F(Tokenizer, InterpreterUsableAfterErrors) {
    EXPECT_NE(ParseError(interp, "'abc"), "<no exception>");
    EXPECT_NE(ParseError(interp, "1e"), "<no exception>");
    EXPECT_NE(ParseError(interp, "#"), "<no exception>");
    Variant v = interp.ExecuteExpression("1+2");
    ASSERT_TRUE(v.IsInteger());
    EXPECT_EQ(v.AsInteger(), 3);
}

}  // namespace
