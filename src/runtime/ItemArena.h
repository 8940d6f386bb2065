// Internal: the memory of the items of one expression. The tokenizer places
// them in one arena; each item carries the address of its arena in the word
// before it, so deleting an item (as the tree's ownership has it) gives its
// place back to the arena, and the arena's blocks go together when its last
// item has gone and its builder has let go. A function body defined by the
// expression, or a prepared tree, keeps the arena as long as it lives.
// Under AddressSanitizer the gaps between items and the items given back are
// poisoned, so that the sanitizer still sees each item's bounds and lifetime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zorvex {

class TMItem;

class ItemArena {
public:
    // The arena an item was made in; null for an item of its own.
    static ItemArena* Of(const TMItem* item) noexcept;

    // A new arena, held by its builder until Close.
    static ItemArena* Open();
    ItemArena(const ItemArena&) = delete;
    ItemArena& operator=(const ItemArena&) = delete;

    void* Allocate(std::size_t bytes);
    // One of its items, `bytes` long, has gone.
    void Release(void* item, std::size_t bytes) noexcept;
    // The builder lets go; the arena goes with its last item.
    void Close() noexcept;

    // A change to one of its items that a compiled form read moves on the
    // count of the interpreter that compiled it (the items of a prepared
    // tree share one arena), for as long as that interpreter lives.
    void CountChangesIn(std::weak_ptr<std::uint64_t> count) noexcept { count_ = std::move(count); }
    void Changed() noexcept {
        if (std::shared_ptr<std::uint64_t> count = count_.lock()) ++*count;
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
    std::weak_ptr<std::uint64_t> count_;
    bool closed_ = false;
};

}  // namespace zorvex
