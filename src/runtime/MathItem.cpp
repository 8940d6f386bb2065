#include "zorvex/MathItem.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ResourceLimits.h"
#include "ItemUtil.h"
#include "ItemArena.h"
#include "zorvex/Exception.h"
#include "ItemHost.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

// ---------------------------------------------------------------- TMItemVector

void TMItemVector::Grow(std::size_t needed) {
    std::size_t capacity = std::size_t{capacity_} * 2;
    if (capacity < needed) capacity = needed;
    if (capacity > UINT32_MAX) throw std::bad_alloc();
    auto** data = static_cast<TMItem**>(::operator new(capacity * sizeof(TMItem*)));
    std::copy(data_, data_ + size_, data);
    if (data_ != local_) ::operator delete(data_);
    data_ = data;
    capacity_ = static_cast<std::uint32_t>(capacity);
}

void TMItemVector::erase(std::size_t index) noexcept {
    std::copy(data_ + index + 1, data_ + size_, data_ + index);
    --size_;
}

void TMItemVector::remove(const TMItem* item) noexcept {
    TMItem** out = std::remove(data_, data_ + size_, item);
    size_ = static_cast<std::uint32_t>(out - data_);
}

// ---------------------------------------------------------------- TMItems

[[noreturn]] static void ListIndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TMItems::IndexError(int index) { ListIndexError(index); }

TMItem* TMItems::Tombstone() {
    static TMItem tombstone;
    return &tombstone;
}

void TMItems::SettleSlow() const {
    TMItem* const dead = Tombstone();
    const std::size_t first = static_cast<std::size_t>(std::find(items_.begin(), items_.end(), dead) - items_.begin());
    items_.remove(dead);
    holes_ = 0;
    const_cast<TMItems*>(this)->Compacted(first);
}

void TMItems::Put(int index, TMItem* item) {
    Settle();
    if (index < 0 || index >= Count()) ListIndexError(index);
    TMItem* old = std::exchange(items_[static_cast<std::size_t>(index)], item);
    ItemReplaced(index, old);
}

// Removed entries all stand before the new one, so its index is known
// without compacting them.
int TMItems::Add(TMItem* item) {
    items_.push_back(item);
    const int slot = static_cast<int>(items_.size()) - 1;
    ItemAdded(slot);
    return slot - static_cast<int>(holes_);
}

void TMItems::Delete(int index) {
    Settle();
    if (index < 0 || index >= Count()) ListIndexError(index);
    items_.erase(static_cast<std::size_t>(index));
    ListChanged();
}

void TMItems::Exchange(int i, int j) {
    Settle();
    if (i < 0 || i >= Count()) ListIndexError(i);
    if (j < 0 || j >= Count()) ListIndexError(j);
    std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
    ListChanged();
}

void TMItems::Clear() {
    items_.clear();
    holes_ = 0;
    ListChanged();
}

TMItem* TMItems::Last() const {
    Settle();
    return items_.empty() ? nullptr : items_.back();
}

int TMItems::IndexOf(const TMItem* item) const {
    Settle();
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == item) return static_cast<int>(i);
    return -1;
}

std::string TMItems::Dump(const std::string& separator, TDumpFormat format) const {
    Settle();
    guard::CheckDumpStack();
    std::string text;
    // An entry that dumps to nothing gets no separator either, so no
    // separator is ever doubled.
    for (TMItem* item : items_) {
        std::string entry = item == nullptr ? std::string("Null") : item->Dump(format);
        if (!text.empty() && !entry.empty()) text += separator;
        text += entry;
    }
    return text;
}

void TMItems::FreeAndClear() {
    Settle();
    if (items_.empty()) return;
    ListChanged();  // lookups while the entries die must not trust an index
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] != nullptr) {
            TMItem* item = items_[i];
            delete item;
            // The destructor may have notified lists; the slot is still ours.
            if (i < items_.size()) items_[i] = nullptr;
        }
    }
    Clear();
}

TMItem* TMItems::Pop() {
    if (Count() <= 0) throw Exception("TMItems.Pop() List is empty.");
    TMItem* item = items_.back();
    items_.pop_back();
    ListChanged();
    return item;
}

void TMItems::Reverse() {
    Settle();
    if (items_.size() < 2) return;
    std::reverse(items_.begin(), items_.end());
    ListChanged();
}

void TMItems::PullFromStack1(TMItems& source, TMSymbols* symbols) {
    ZORVEX_ASSERT(!source.Empty(), "Source/MathItem");
    PullStep(*this, source, symbols);
}

// ---------------------------------------------------------------- TMSymbols

struct TMSymbols::Index {
    // The symbol of each name; a symbol knows its slot.
    std::unordered_map<std::string, TMSymbol*> byName;
    bool valid = false;
    bool caseSensitive = false;
    // Two entries of one name (only the base list lets that happen): the
    // first keeps the name, and removing it rebuilds the index.
    bool duplicates = false;
    // The functions whose bodies mention each name, and each body's names.
    std::unordered_map<std::string, std::vector<TMFunction*>> bodyUsers;
    std::unordered_map<TMFunction*, std::vector<std::string>> bodyNames;
};

TMSymbols::TMSymbols() : index_(std::make_unique<Index>()) {}
TMSymbols::~TMSymbols() = default;

namespace {
// Only a table tells its interpreter (parameter lists may outlive theirs).
void EntriesChanged(TMSymbols& list) noexcept {
    if (list.Interpreter != nullptr && ItemAccess::Params(&list) == nullptr)
        host::EntriesChanged(*list.Interpreter, &list);
}
}  // namespace

void TMSymbols::ListChanged() {
    index_->valid = false;
    EntriesChanged(*this);
}

void TMSymbols::InvalidateIndex() const { index_->valid = false; }

TMItem* TMSymbols::Peek(int index) const noexcept {
    return holes_ == 0 && static_cast<std::size_t>(index) < items_.size() ? items_[static_cast<std::size_t>(index)]
                                                                          : nullptr;
}

bool TMSymbols::CaseSensitive() const { return host::CaseSensitive(Interpreter); }

std::string TMSymbols::Key(const std::string& name) const { return CaseSensitive() ? name : UpperCase(name); }

void TMSymbols::RebuildIndex() const {
    index_->byName.clear();
    index_->caseSensitive = CaseSensitive();
    index_->duplicates = false;
    index_->valid = true;
    for (std::size_t i = 0; i < items_.size(); ++i) IndexEntry(static_cast<int>(i));
}

// The first entry of a name keeps it. Every entry learns its slot, indexed
// or not.
void TMSymbols::IndexEntry(int slot) const {
    TMItem* item = items_[static_cast<std::size_t>(slot)];
    if (item == nullptr || item == Tombstone()) return;
    auto* symbol = static_cast<TMSymbol*>(item);
    symbol->slot_ = slot;
    if (index_->valid && index_->caseSensitive == CaseSensitive() &&
        !index_->byName.emplace(Key(symbol->Identifier()), symbol).second)
        index_->duplicates = true;
}

void TMSymbols::UnindexEntry(const TMItem* item) const {
    if (item == nullptr || item == Tombstone()) return;
    auto it = index_->byName.find(Key(static_cast<const TMSymbol*>(item)->Identifier()));
    if (it == index_->byName.end() || it->second != item) return;
    index_->byName.erase(it);
    // A later entry of the same name would take it.
    if (index_->duplicates) index_->valid = false;
}

void TMSymbols::ItemAdded(int slot) { IndexEntry(slot); }

// The entry put in place of another: a symbol freed in place has already
// cleared its entry (see Forget), so `old` is alive or null.
void TMSymbols::ItemReplaced(int slot, TMItem* old) {
    EntriesChanged(*this);
    if (index_->valid) UnindexEntry(old);
    // An entry put before others of its name takes the name from them.
    TMItem* item = items_[static_cast<std::size_t>(slot)];
    if (index_->valid && item != nullptr && index_->byName.count(Key(static_cast<TMSymbol*>(item)->Identifier())) != 0)
        index_->valid = false;
    IndexEntry(slot);
}

void TMSymbols::Forget(TMSymbol* symbol) noexcept {
    EntriesChanged(*this);
    const auto slot = static_cast<std::size_t>(symbol->slot_);
    if (slot < items_.size() && items_[slot] == symbol) items_[slot] = nullptr;
    if (!index_->valid) return;
    auto it = index_->byName.find(Key(symbol->Identifier()));
    if (it != index_->byName.end() && it->second == symbol) index_->byName.erase(it);
}

void TMSymbols::Compacted(std::size_t from) {
    EntriesChanged(*this);
    for (std::size_t i = from; i < items_.size(); ++i)
        if (items_[i] != nullptr) static_cast<TMSymbol*>(items_[i])->slot_ = static_cast<int>(i);
}

void TMSymbols::Renamed(TMSymbol* symbol, const std::string& oldIdentifier) {
    if (!index_->valid) return;
    auto it = index_->byName.find(Key(oldIdentifier));
    if (it == index_->byName.end() || it->second != symbol) {
        index_->valid = false;  // not indexed under the old name: start afresh
        return;
    }
    index_->byName.erase(it);
    if (!index_->byName.emplace(Key(symbol->Identifier()), symbol).second) index_->duplicates = true;
}

int TMSymbols::FindSymbolIndex(const std::string& name) const {
    Settle();
    return FindSymbolSlot(name);
}

int TMSymbols::FindSymbolSlot(const std::string& name) const {
    TMItem* const dead = Tombstone();
    // Small lists (parameters) are cheaper to scan than to index.
    if (items_.size() <= 8) {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i] == nullptr || items_[i] == dead) continue;
            auto* symbol = static_cast<TMSymbol*>(items_[i]);
            // Names of other lengths, or whose first letters differ by more
            // than their case, differ under either comparison.
            const std::string& id = symbol->Identifier();
            if (id.size() != name.size() || (!name.empty() && ((id[0] ^ name[0]) & ~0x20) != 0)) continue;
            if (symbol->IsEqualIdentifier(name)) return static_cast<int>(i);
        }
        return -1;
    }
    if (!index_->valid || index_->caseSensitive != CaseSensitive()) RebuildIndex();
    auto found = [&]() -> int {
        auto it = index_->byName.find(Key(name));
        if (it == index_->byName.end()) return -1;
        TMSymbol* symbol = it->second;
        const auto slot = static_cast<std::size_t>(symbol->slot_);
        return slot < items_.size() && items_[slot] == symbol && symbol->IsEqualIdentifier(name) ? symbol->slot_ : -2;
    };
    const int slot = found();
    if (slot != -2) return slot;
    // Entries changed behind the index (e.g. through the base list).
    RebuildIndex();
    return std::max(found(), -1);
}

TMSymbol* TMSymbols::FindSymbol(const std::string& name) const {
    int slot = FindSymbolSlot(name);
    return slot < 0 ? nullptr : static_cast<TMSymbol*>(items_[static_cast<std::size_t>(slot)]);
}

int TMSymbols::SlotOf(const TMItem* item) const {
    if (item != nullptr && item->Is(ikSymbol)) {
        const auto slot = static_cast<std::size_t>(static_cast<const TMSymbol*>(item)->slot_);
        if (slot < items_.size() && items_[slot] == item) return static_cast<int>(slot);
    }
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == item) return static_cast<int>(i);
    return -1;
}

void TMSymbols::RemoveSlot(int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= items_.size() || items_[static_cast<std::size_t>(slot)] == Tombstone())
        ListIndexError(slot);
    if (index_->valid) UnindexEntry(items_[static_cast<std::size_t>(slot)]);
    EntriesChanged(*this);
    items_[static_cast<std::size_t>(slot)] = Tombstone();
    ++holes_;
}

void TMSymbols::RegisterBody(TMFunction* function) {
    UnregisterBody(function);
    if (function->Expression() == nullptr) return;
    std::vector<TMReference*> refs;
    function->Expression()->CollectReferences(refs);
    std::vector<std::string> names;
    for (TMReference* ref : refs) names.push_back(UpperCase(ref->ReferencedSymbolName));
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const auto& name : names) index_->bodyUsers[name].push_back(function);
    index_->bodyNames[function] = std::move(names);
}

void TMSymbols::UnregisterBody(TMFunction* function) {
    auto it = index_->bodyNames.find(function);
    if (it == index_->bodyNames.end()) return;
    for (const auto& name : it->second) {
        auto users = index_->bodyUsers.find(name);
        if (users == index_->bodyUsers.end()) continue;
        auto& list = users->second;
        list.erase(std::remove(list.begin(), list.end(), function), list.end());
        if (list.empty()) index_->bodyUsers.erase(users);
    }
    index_->bodyNames.erase(it);
}

const std::vector<TMFunction*>& TMSymbols::BodiesMentioning(const std::string& name) const {
    static const std::vector<TMFunction*> none;
    auto it = index_->bodyUsers.find(UpperCase(name));
    return it == index_->bodyUsers.end() ? none : it->second;
}

// ---------------------------------------------------------------- TMItem

std::string TMItem::Dump(TDumpFormat format) const {
    if (!(format & dfDetailed))
        throw Exception(
            "TMItem.Dump() Child classes must override Dump method when dfDetailed is not in DumpFormat.");
    return ClassName();
}

std::string TMItem::DumpList(const TMItems& items, TDumpFormat format) { return items.Dump(",", format); }

std::string TMItem::QuotedVar(const Variant& value) { return QuotedVar(value, '\0'); }

std::string TMItem::QuotedVar(const Variant& value, char escapeChar) {
    if (value.IsReal()) return FormatRealExact(value.AsReal());
    // No literal spells the smallest integer, but this expression reads back as it.
    if (value.IsInteger() && value.AsInteger() == INT32_MIN) return "(-2147483647-1)";
    if (value.IsArray()) {
        // Only a host stores an array, and no literal spells one: this is for
        // reading (saving refuses it).
        std::string out = "[";
        const auto& items = value.ArrayItems();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out += ',';
            out += QuotedVar(items[i], escapeChar);
        }
        return out + "]";
    }
    if (value.VarType() != varString) return VarToStr(value);
    const std::string& text = value.AsString();
    if (escapeChar == '\0') return QuotedStr(text);
    // Quotes are doubled as usual; the escape character itself must be escaped
    // or it would swallow the character after it when read back.
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "''";  // the quote test comes before the escape test when read
        else if (c == escapeChar)
            (out += escapeChar) += c;
        else
            out += c;
    }
    out += '\'';
    return out;
}

void TMValue::SetValue(const Variant&) { throw Exception("TMValue.SetValue() Read only value."); }

// ---------------------------------------------------------------- TMExpression


// ---------------------------------------------------------------- freeing

namespace {

// Items waiting to be deleted; a short list needs no heap.
class Pending {
public:
    void Push(TMItem* item) {
        if (item == nullptr) return;
        if (n_ < kLocal)
            local_[n_++] = item;
        else
            more_.push_back(item);
    }
    TMItem* Pop() {
        if (!more_.empty()) {
            TMItem* item = more_.back();
            more_.pop_back();
            return item;
        }
        return n_ > 0 ? local_[--n_] : nullptr;
    }
    // Takes the entries of a list its owner is about to lose.
    void Take(TMItems& list) {
        for (TMItem* item : ItemAccess::Entries(list)) Push(item);
        ItemAccess::Entries(list).clear();
    }

private:
    static constexpr int kLocal = 32;
    TMItem* local_[kLocal];
    int n_ = 0;
    std::vector<TMItem*> more_;
};

// Each item's children are taken from it before it is deleted, so no
// destructor recurses, however deep the tree.
void DisposeAll(Pending& pending) {
    while (TMItem* item = pending.Pop()) {
        if (item->Is(ikOperator))
            pending.Take(static_cast<TMOperator*>(item)->Operands);
        else if (item->Is(ikFunctionCall))
            pending.Take(static_cast<TMFunctionCall*>(item)->ParamExpressions);
        else if (item->Is(ikParamExpression))
            pending.Push(std::exchange(static_cast<TMParamExpression*>(item)->Expression, nullptr));
        delete item;
    }
}

}  // namespace

void DisposeItem(TMItem* item) {
    Pending pending;
    pending.Push(item);
    DisposeAll(pending);
}

void DisposeItems(TMItems& items) {
    if (ItemAccess::Entries(items).empty()) return;
    Pending pending;
    items.Count();  // compacts removed entries
    pending.Take(items);
    items.Clear();
    DisposeAll(pending);
}

std::string Excerpt(std::string_view text) {
    constexpr std::size_t kMax = 60;
    if (text.size() <= kMax) return std::string(text);
    return std::string(text.substr(0, kMax)) + "...";
}

namespace {
// The first NaN or infinity in a value, arrays searched through.
const Variant* FirstNonFinite(const Variant& value) {
    if (value.IsReal()) return std::isfinite(value.AsReal()) ? nullptr : &value;
    if (value.IsArray())
        for (const Variant& item : value.ArrayItems())
            if (const Variant* bad = FirstNonFinite(item)) return bad;
    return nullptr;
}
}  // namespace

bool IsFiniteValue(const Variant& value) { return FirstNonFinite(value) == nullptr; }

void RefuseNonFinite(const Variant& value, const char* operation, std::string_view name) {
    const Variant* bad = FirstNonFinite(value);
    const bool nan = bad != nullptr && std::isnan(bad->AsReal());
    const std::string message = std::string(operation) + "() Value" +
                                (name.empty() ? std::string() : " for \"" + Excerpt(name) + "\"") + " is " +
                                (nan ? "NaN" : "infinite") + ", which is no value of the language.";
    if (nan) throw EInvalidOp(message);
    throw EOverflow(message);
}

// ---------------------------------------------------------------- TMLiteral

void TreeChanged(const TMItem* item) noexcept {
    if (ItemArena* arena = ItemArena::Of(item)) arena->Changed();
}

void TMLiteral::SetValue(const Variant& value) {
    CheckFinite(value, "TMLiteral.SetValue", {});
    Value = value;
    if (Is(ikCompiled)) TreeChanged(this);
}

std::string TMLiteral::Dump(TDumpFormat format) const {
    if (format & dfDetailed) return std::string(ClassName()) + "(" + QuotedVar(Value) + ")";
    return QuotedVar(Value, host::EscapeChar(Interpreter));
}

}  // namespace zorvex
