// Text to tokens: the tokenizer, which turns an expression's text into a flat
// list of positioned items, and the split of a text into expressions, which
// reads strings by the same rules.
#include <algorithm>
#include <functional>
#include <memory>

#include "IntrinsicEval.h"
#include "ItemArena.h"
#include "ItemUtil.h"
#include "InterpreterImpl.h"
#include "OperatorTable.h"
#include "ResourceLimits.h"

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

std::string Str(std::size_t v) { return std::to_string(v); }

bool IsIdentChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct Keyword {
    std::string_view text;  // lower case
    TMItem* (*create)(ItemArena*);
};

template <class T>
TMItem* Make(ItemArena* arena) {
    return new (arena) T();
}

// The words that are no operators; those are the operator table's.
const Keyword kKeywords[] = {
    {"delete", Make<TMDelete>},
    {"rename", Make<TMRename>},
    {"true", [](ItemArena* a) -> TMItem* { return new (a) TMLiteral(Variant(true)); }},
    {"false", [](ItemArena* a) -> TMItem* { return new (a) TMLiteral(Variant(false)); }},
};

const Keyword* FindKeyword(std::string_view word) {
    if (word.size() < 4 || word.size() > 6) return nullptr;
    for (const Keyword& k : kKeywords) {
        if (k.text.size() != word.size()) continue;
        std::size_t i = 0;
        while (i < word.size() && (word[i] | 0x20) == k.text[i]) ++i;
        if (i == word.size()) return &k;
    }
    return nullptr;
}

}  // namespace

// An operator word, or a word of the keyword table.
TMItem* CreateKeyword(std::string_view word, ItemArena* arena) {
    if (const op::Operation o = op::MatchWord(word); o != op::Operation::None) return op::RowOf(o).create(arena);
    const Keyword* k = FindKeyword(word);
    return k != nullptr ? k->create(arena) : nullptr;
}

bool IsKeyword(std::string_view word) {
    return op::MatchWord(word) != op::Operation::None || FindKeyword(word) != nullptr;
}

// Items go to the arena of the tree being built, if any; the text is read in
// place, and only names and string literals are copied out of it.
void TMathInterpreter::Impl::Tokenize(std::string_view text, TMItems& items) {
    items.FreeAndClear();
    const std::size_t n = text.size();
    std::size_t p = 0;  // 0-based; positions in items and messages are 1-based
    // A plain list takes its entries directly.
    TMItemVector* const entries = ItemAccess::IsPlain(items) ? &ItemAccess::Entries(items) : nullptr;
    // Appends a new item; one that fails to be appended is freed.
    auto append = [&](TMItem* made, std::size_t position) {
        std::unique_ptr<TMItem> item(made);
        item->ParsePosition = static_cast<int>(position);
        if (entries != nullptr)
            entries->push_back(item.get());
        else
            items.Add(item.get());
        return item.release();
    };
    auto appendOperator = [&](op::Operation o, std::size_t start) {
        const op::Row& row = op::RowOf(o);
        append(row.create(arena), start + 1 + static_cast<std::size_t>(row.positionOffset));
        return row.lexeme.size();
    };
    unsigned rounds = 0;
    while (p < n) {
        // A text of millions of tokens takes a while to read, and its
        // list counts against the memory budget.
        if ((++rounds & 0xFFFu) == 0) {
            guard.CheckWork();
            if (arena != nullptr) arena->ChargeWorkingLists(static_cast<std::size_t>(items.Count()));
        }
        const char c = text[p];
        const std::size_t s = p;
        switch (c) {
            case '\t': case '\n': case '\r': case ' ':
                ++p;
                break;
            case '\'': case '"': {
                std::string value = ParseString(text, p);
                // A literal's text lives as long as the tree.
                if (arena != nullptr) arena->Charge(value.size());
                append(new (arena) TMLiteral(Variant(std::move(value))), s + 1);
                break;
            }
            case '(':
                if (auto* last = ItemAs<TMVarRef>(items.Last(), ikVarRef)) {
                    // A name right before "(" is a call.
                    const std::unique_ptr<TMVarRef> ref(last);
                    std::unique_ptr<TMFunctionCall> call(new (arena) TMFunctionCall());
                    call->ParsePosition = ref->ParsePosition;
                    call->ReferencedSymbolName = std::move(ref->ReferencedSymbolName);
                    items.Put(items.Count() - 1, call.release());
                }
                append(new (arena) TMLeftBracket(), s + 1);
                ++p;
                break;
            case ')': append(new (arena) TMRightBracket(), s + 1); ++p; break;
            case ',': append(new (arena) TMComma(), s + 1); ++p; break;
            default:
                if (IsDigit(c)) {
                    ParseNumber(text, p, items);
                } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
                    while (p < n && IsIdentChar(text[p])) ++p;
                    const std::string_view word = text.substr(s, p - s);
                    const int builtin = IntrinsicIndexOf(word);
                    if (builtin >= 0) {
                        append(CreateIntrinsic(builtin, arena), s + 1);
                    } else if (const op::Operation o = op::MatchWord(word); o != op::Operation::None) {
                        appendOperator(o, s);
                    } else if (const Keyword* keyword = FindKeyword(word)) {
                        append(keyword->create(arena), s + 1);
                    } else {
                        auto* ref = static_cast<TMVarRef*>(append(new (arena) TMVarRef(), s + 1));
                        ref->ReferencedSymbolName.assign(word);
                    }
                } else if (op::Operation o = op::Match(text.substr(p)); o != op::Operation::None) {
                    // Of a lexeme with a prefix twin, the prefix one where an
                    // operand is due: first, or after an operator, "(" or ",".
                    if (const op::Operation prefix = op::PrefixTwin(o); prefix != op::Operation::None) {
                        TMItem* last = items.Last();
                        if (last == nullptr || last->Is(static_cast<TMItemKind>(ikOperator | ikLeftBracket | ikComma)))
                            o = prefix;
                    }
                    p += appendOperator(o, s);
                } else if (c == '!') {
                    throw ESyntaxError("TMathInterpreter.ParseExpression() After \"!\", \"=\" is expected on position: " +
                                           Str(p + 2) + ".",
                                       static_cast<int>(p + 2));
                } else if (c == ':') {
                    throw ESyntaxError("TMathInterpreter.Parse() \":=\" expected, but only \":\" found on position: " +
                                           Str(s + 1),
                                       static_cast<int>(s + 1));
                } else {
                    throw ESyntaxError("TMathInterpreter.Parse() Unknown char - ASCII code: #" +
                                           std::to_string(static_cast<unsigned char>(c)) + ", on position: " +
                                           Str(p + 1) + ".",
                                       static_cast<int>(p + 1));
                }
        }
    }
}

void TMathInterpreter::Impl::ParseNumber(std::string_view text, std::size_t& p, TMItems& items) {
    const std::size_t n = text.size();
    const std::size_t s = p;
    bool negative = false;
    while (auto* last = ItemAs<TMUnaryMinus>(items.Last(), ikUnaryMinus)) {
        // A minus right before a number joins it into the literal.
        const std::unique_ptr<TMItem> minus(last);
        items.Delete(items.Count() - 1);
        negative = !negative;
    }
    bool isReal = false;
    while (p < n && IsDigit(text[p])) ++p;
    const std::size_t digits = p - s;
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
    const std::string_view literal = text.substr(s, p - s);
    Variant value;
    if (!isReal && digits <= 9) {
        // Nine digits always fit 32 bits.
        std::int32_t i = 0;
        for (char d : literal) i = i * 10 + (d - '0');
        value = Variant(negative ? -i : i);
    } else {
        try {
            if (isReal) {
                double d = StrToFloat(literal);
                value = Variant(negative ? -d : d);
            } else {
                std::int32_t i = StrToInt(literal);
                value = Variant(negative ? -i : i);
            }
        } catch (const Exception&) {
            throw ESyntaxError("TMathInterpreter.Parse() Bad number literal: \"" + Excerpt(literal) +
                                   "\" on position: " + Str(p + 1) + ".",
                               static_cast<int>(p + 1));
        }
    }
    std::unique_ptr<TMItem> literalItem(new (arena) TMLiteral(std::move(value)));
    literalItem->ParsePosition = static_cast<int>(s + 1);
    items.Add(literalItem.get());
    literalItem.release();
}

namespace {

enum class StringEnd { Closed, Unclosed, StandAloneEscape };

// Scans a string literal from its opening quote at p, leaving p after the
// closing quote; decodes into `out` when given. Both the tokenizer and the
// expression split use it, so they agree on where every string ends.
StringEnd ScanString(std::string_view text, std::size_t& p, char escapeChar, std::string* out) {
    const std::size_t n = text.size();
    const char q = text[p];
    ++p;
    while (p < n) {
        // Runs of plain characters are found and copied a piece at a time.
        const std::string_view window = text.substr(p, guard::kWorkPiece);
        std::size_t plain = window.find(q);
        if (escapeChar != '\0') plain = std::min(plain, window.find(escapeChar));
        if (plain == std::string_view::npos) {
            if (out) out->append(window);
            p += window.size();
            guard::WorkDone();
            continue;
        }
        if (out) out->append(window.substr(0, plain));
        p += plain;
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

std::string TMathInterpreter::Impl::ParseString(std::string_view text, std::size_t& p) const {
    ZORVEX_ASSERT(text[p] == '\'' || text[p] == '"', "Source/MathInterpreter");
    const std::size_t start = p + 1;
    std::string result;
    switch (ScanString(text, p, escapeChar, &result)) {
        case StringEnd::Closed:
            if (result.size() > MaxTextLength)
                throw ELimitError("ParseString() String starting at position: " + Str(start) +
                                      " is longer than the maximum length of " + Str(MaxTextLength) + " characters.",
                                  static_cast<int>(start));
            return result;
        case StringEnd::Unclosed:
            throw ESyntaxError("ParseString() Unclosed string starting at position: " + Str(start) + ".",
                               static_cast<int>(start));
        case StringEnd::StandAloneEscape:
            throw ESyntaxError("ParseString() Stand-alone escape char at position: " + Str(p + 1) + ".",
                               static_cast<int>(p + 1));
    }
    return result;
}

// A long text takes a while to split: checked every few hundred kilobytes.
void ForEachExpression(std::string_view text, char escapeChar, const std::function<void(std::string_view)>& f) {
    ForEachExpressionUntil(text, escapeChar, [&](std::string_view piece) {
        f(piece);
        return true;
    });
}

void ForEachExpressionUntil(std::string_view text, char escapeChar, const std::function<bool(std::string_view)>& f) {
    const std::size_t n = text.size();
    std::size_t start = 0, p = 0, checked = 0;
    while (p < n) {
        if (p - checked >= guard::kWorkPiece) {
            guard::WorkDone();
            checked = p;
        }
        const char c = text[p];
        if (c == '\'' || c == '"') {
            // An unclosed string runs to the end of the text.
            if (ScanString(text, p, escapeChar, nullptr) != StringEnd::Closed) break;
            continue;
        }
        if (c == ';') {
            if (p > start && !f(text.substr(start, p - start))) return;
            start = p + 1;
        }
        ++p;
    }
    if (n > start) f(text.substr(start));
}

void TMathInterpreter::ForEachExpression(std::string_view text, char escapeChar,
                                         const std::function<bool(std::string_view)>& each) {
    ForEachExpressionUntil(text, escapeChar, each);
}

std::vector<std::string> TMathInterpreter::SplitExpressions(const std::string& text, char escapeChar) {
    std::vector<std::string> pieces;
    zorvex::ForEachExpression(text, escapeChar, [&](std::string_view piece) { pieces.emplace_back(piece); });
    return pieces;
}

}  // namespace zorvex
