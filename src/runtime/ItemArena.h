// Internal: the memory of the items of one expression. The tokenizer places
// them in one arena; each item carries the address of its arena in the word
// before it, so deleting an item (as the tree's ownership has it) gives its
// place back to the arena, and the arena's blocks go together when its last
// item has gone and its builder has let go. A function body defined by the
// expression, or a prepared tree, keeps the arena as long as it lives.
// Under AddressSanitizer the gaps between items and the items given back are
// poisoned, so that the sanitizer still sees each item's bounds and lifetime.
// The blocks after the first count against the memory budget of the
// interpreter that builds, as long as the arena lives; so do the working
// lists of the build, until the builder lets go.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zorvex {

class TMathInterpreter;
class TMItem;

// Changes to the items that an interpreter's compiled forms read. A change
// also shuts the inline way to them, so that its hosts ask the library first.
struct TreeChanges {
    std::uint64_t count = 0;  // 64 bits: never comes round again
    std::atomic<std::size_t>* inlineOpen = nullptr;
    void Bump() noexcept {
        ++count;
        if (inlineOpen != nullptr) inlineOpen->store(0, std::memory_order_seq_cst);
    }
};

class ItemArena {
public:
    // The arena an item was made in; null for an item of its own.
    static ItemArena* Of(const TMItem* item) noexcept;

    // A new arena, held by its builder until Close; `account` (may be null)
    // is charged for its memory.
    static ItemArena* Open(TMathInterpreter* account);
    ItemArena(const ItemArena&) = delete;
    ItemArena& operator=(const ItemArena&) = delete;

    void* Allocate(std::size_t bytes);
    // One of its items, `bytes` long, has gone.
    void Release(void* item, std::size_t bytes) noexcept;
    // Memory the items hold besides themselves (the text of a literal),
    // counted as long as the arena lives.
    void Charge(std::size_t bytes);
    // The builder's working lists hold about `entries` item pointers by now.
    void ChargeWorkingLists(std::size_t entries);
    // The builder lets go; the arena goes with its last item.
    void Close() noexcept;

    // A change to one of its items that a compiled form read moves on the
    // count of the interpreter that compiled it (the items of a prepared
    // tree share one arena), for as long as that interpreter lives.
    void CountChangesIn(std::weak_ptr<TreeChanges> count) noexcept { count_ = std::move(count); }
    void Changed() noexcept {
        if (std::shared_ptr<TreeChanges> count = count_.lock()) count->Bump();
    }

private:
    struct Block {
        Block* next;
        std::size_t size;
    };
    ItemArena() = default;
    ~ItemArena() = default;
    void Destroy() noexcept;
    void* Grow(std::size_t bytes);

    Block* blocks_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::size_t live_ = 0;
    std::size_t blockSize_ = 0;
    TMathInterpreter* account_ = nullptr;
    std::size_t charged_ = 0;      // blocks
    std::size_t listCharge_ = 0;  // working lists
    std::weak_ptr<TreeChanges> count_;
    bool closed_ = false;
};

}  // namespace zorvex
