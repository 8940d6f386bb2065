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

    // Changes to its items that a compiled form of their tree may have read.
    // The arena lives as long as any of them, and the items of a prepared
    // tree share one, so the count is the tree's own.
    void Changed() noexcept { ++changes_; }
    const std::uint64_t* Changes() const noexcept { return &changes_; }

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
    std::uint64_t changes_ = 0;
    bool closed_ = false;
};

}  // namespace zorvex
