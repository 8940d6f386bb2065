// The tokenizer: expression text to a flat list of positioned items.
#include <memory>

#include "ItemUtil.h"

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

std::string Str(std::size_t v) { return std::to_string(v); }

template <class T>
T* Append(TMItems& items, std::size_t position) {
    auto item = std::make_unique<T>();
    item->ParsePosition = static_cast<int>(position);
    items.Add(item.get());
    return item.release();
}

bool IsIdentChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void AppendOwned(TMItems& items, TMItem* raw, std::size_t position) {
    std::unique_ptr<TMItem> item(raw);
    item->ParsePosition = static_cast<int>(position);
    items.Add(item.get());
    item.release();
}

struct Keyword {
    const char* text;  // lower case
    TMItem* (*create)();
};

template <class T>
TMItem* Make() {
    return new T();
}

const Keyword kKeywords[] = {
    {"div", Make<TMIntDiv>},
    {"mod", Make<TMMod>},
    {"delete", Make<TMDelete>},
    {"rename", Make<TMRename>},
    {"not", Make<TMNot>},
    {"and", Make<TMAnd>},
    {"or", Make<TMOr>},
    {"xor", Make<TMXor>},
    {"shl", Make<TMShl>},
    {"shr", Make<TMShr>},
    {"true", [] { return static_cast<TMItem*>(new TMLiteral(Variant(true))); }},
    {"false", [] { return static_cast<TMItem*>(new TMLiteral(Variant(false))); }},
};

const Keyword* FindKeyword(std::string_view word) {
    if (word.size() > 6) return nullptr;
    const std::string w = LowerCase(word);
    for (const Keyword& k : kKeywords)
        if (w == k.text) return &k;
    return nullptr;
}

}  // namespace

TMItem* CreateKeyword(std::string_view word) {
    const Keyword* k = FindKeyword(word);
    return k != nullptr ? k->create() : nullptr;
}

bool IsKeyword(std::string_view word) { return FindKeyword(word) != nullptr; }

void TMathInterpreter::ParseExpression(const std::string& text, TMItems& items) {
    items.FreeAndClear();
    const std::size_t n = text.size();
    std::size_t p = 0;  // 0-based; positions in items and messages are 1-based
    auto next = [&](std::size_t i) -> int { return i + 1 < n ? static_cast<unsigned char>(text[i + 1]) : -1; };
    unsigned rounds = 0;
    while (p < n) {
        // A text of millions of tokens takes a while to read.
        if ((++rounds & 0x3FFFu) == 0) guard_.Check();
        const char c = text[p];
        const std::size_t s = p;
        switch (c) {
            case '\t': case '\n': case '\r': case ' ':
                ++p;
                break;
            case '!':
                if (next(p) == '=') {
                    Append<TMNotEqual>(items, s + 1);
                    p += 2;
                } else {
                    throw Exception("TMathInterpreter.ParseExpression() After \"!\", \"=\" is expected on position: " +
                                    Str(p + 2) + ".");
                }
                break;
            case '\'': case '"': {
                std::string value = ParseString(text, p);
                AppendOwned(items, new TMLiteral(Variant(std::move(value))), s + 1);
                break;
            }
            case '(':
                if (auto* ref = ItemAs<TMVarRef>(items.Last(), ikVarRef)) {
                    auto call = std::make_unique<TMFunctionCall>();
                    call->ParsePosition = ref->ParsePosition;
                    call->ReferencedSymbolName = ref->ReferencedSymbolName;
                    items.Put(items.Count() - 1, call.release());
                    delete ref;
                }
                Append<TMLeftBracket>(items, s + 1);
                ++p;
                break;
            case ')': Append<TMRightBracket>(items, s + 1); ++p; break;
            case '*': Append<TMMultiply>(items, s + 1); ++p; break;
            case '+': Append<TMPlus>(items, s + 1); ++p; break;
            case ',': Append<TMComma>(items, s + 1); ++p; break;
            case '-': {
                TMItem* last = items.Last();
                if (last == nullptr || last->Is(static_cast<TMItemKind>(ikOperator | ikLeftBracket | ikComma)))
                    Append<TMUnaryMinus>(items, s + 1);
                else
                    Append<TMMinus>(items, s + 1);
                ++p;
                break;
            }
            case '/': Append<TMDivide>(items, s + 1); ++p; break;
            case ':':
                if (next(p) == '=') {
                    Append<TMAssignSymbolic>(items, s + 2);
                    p += 2;
                } else {
                    throw Exception("TMathInterpreter.Parse() \":=\" expected, but only \":\" found on position: " +
                                    Str(s + 1));
                }
                break;
            case '<':
                if (next(p) == '=') {
                    Append<TMLessOrEqual>(items, s + 1);
                    p += 2;
                } else {
                    Append<TMLess>(items, s + 1);
                    ++p;
                }
                break;
            case '=':
                if (next(p) == '=') {
                    Append<TMEqual>(items, s + 1);
                    p += 2;
                } else {
                    Append<TMAssignValue>(items, s + 1);
                    ++p;
                }
                break;
            case '>':
                if (next(p) == '=') {
                    Append<TMLargerOrEqual>(items, s + 1);
                    p += 2;
                } else {
                    Append<TMLarger>(items, s + 1);
                    ++p;
                }
                break;
            case '^': Append<TMPower>(items, s + 1); ++p; break;
            default:
                if (IsDigit(c)) {
                    ParseNumber(text, p, items);
                } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
                    while (p < n && IsIdentChar(text[p])) ++p;
                    const std::string word = text.substr(s, p - s);
                    if (TMItem* builtin = CreateIntrinsicFunctionCall(word)) {
                        AppendOwned(items, builtin, s + 1);
                    } else if (TMItem* keyword = CreateKeyword(word)) {
                        AppendOwned(items, keyword, s + 1);
                    } else {
                        auto* ref = Append<TMVarRef>(items, s + 1);
                        ref->ReferencedSymbolName = word;
                    }
                } else {
                    throw Exception("TMathInterpreter.Parse() Unknown char - ASCII code: #" +
                                    std::to_string(static_cast<unsigned char>(c)) + ", on position: " + Str(p + 1) +
                                    ".");
                }
        }
    }
}

void TMathInterpreter::ParseNumber(const std::string& text, std::size_t& p, TMItems& items) {
    const std::size_t n = text.size();
    const std::size_t s = p;
    bool negative = false;
    while (auto* minus = ItemAs<TMUnaryMinus>(items.Last(), ikUnaryMinus)) {
        items.Delete(items.Count() - 1);
        delete minus;
        negative = !negative;
    }
    bool isReal = false;
    while (p < n && IsDigit(text[p])) ++p;
    if (p < n && text[p] == '.') {
        ++p;
        while (p < n && IsDigit(text[p])) ++p;
        isReal = true;
    }
    if (p < n && (text[p] == 'e' || text[p] == 'E')) {
        ++p;
        if (p < n && (text[p] == '+' || text[p] == '-')) ++p;
        while (p < n && IsDigit(text[p])) ++p;
        isReal = true;
    }
    const std::string literal = text.substr(s, p - s);
    try {
        Variant value;
        if (isReal) {
            double d = StrToFloat(literal);
            value = Variant(negative ? -d : d);
        } else {
            std::int32_t i = StrToInt(literal);
            value = Variant(negative ? -i : i);
        }
        AppendOwned(items, new TMLiteral(std::move(value)), s + 1);
    } catch (const Exception&) {
        throw Exception("TMathInterpreter.Parse() Bad number literal: \"" + Excerpt(literal) + "\" on position: " +
                        Str(p + 1) + ".");
    }
}

namespace {

enum class StringEnd { Closed, Unclosed, StandAloneEscape };

// Scans a string literal from its opening quote at p, leaving p after the
// closing quote; decodes into `out` when given. Both the tokenizer and the
// expression split use it, so they agree on where every string ends.
StringEnd ScanString(const std::string& text, std::size_t& p, char escapeChar, std::string* out) {
    const std::size_t n = text.size();
    const char q = text[p];
    ++p;
    while (p < n) {
        const char c = text[p];
        if (c == q) {
            if (p + 1 < n && text[p + 1] == q) {
                if (out) *out += q;
                p += 2;
                continue;
            }
            ++p;
            return StringEnd::Closed;
        }
        if (escapeChar != '\0' && c == escapeChar) {
            ++p;
            if (p + 1 >= n) return StringEnd::StandAloneEscape;
        }
        if (out) *out += text[p];
        ++p;
    }
    return StringEnd::Unclosed;
}

}  // namespace

std::string TMathInterpreter::ParseString(const std::string& text, std::size_t& p) const {
    ZORVEX_ASSERT(text[p] == '\'' || text[p] == '"', "Source/MathInterpreter");
    const std::size_t start = p + 1;
    std::string result;
    switch (ScanString(text, p, escapeChar_, &result)) {
        case StringEnd::Closed:
            if (result.size() > MaxTextLength)
                throw Exception("ParseString() String starting at position: " + Str(start) +
                                " is longer than the maximum length of " + Str(MaxTextLength) + " characters.");
            return result;
        case StringEnd::Unclosed:
            throw Exception("ParseString() Unclosed string starting at position: " + Str(start) + ".");
        case StringEnd::StandAloneEscape:
            throw Exception("ParseString() Stand-alone escape char at position: " + Str(p + 1) + ".");
    }
    return result;
}

std::vector<std::string> TMathInterpreter::SplitExpressions(const std::string& text, char escapeChar) {
    std::vector<std::string> pieces;
    const std::size_t n = text.size();
    std::size_t start = 0, p = 0;
    while (p < n) {
        const char c = text[p];
        if (c == '\'' || c == '"') {
            // An unclosed string runs to the end of the text.
            if (ScanString(text, p, escapeChar, nullptr) != StringEnd::Closed) break;
            continue;
        }
        if (c == ';') {
            if (p > start) pieces.push_back(text.substr(start, p - start));
            start = p + 1;
        }
        ++p;
    }
    if (n > start) pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace zorvex
