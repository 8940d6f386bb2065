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

namespace zorvex {

class ItemArena {
public:
    // A new arena, held by its builder until Close.
    static ItemArena* Open();
    ItemArena(const ItemArena&) = delete;
    ItemArena& operator=(const ItemArena&) = delete;

    void* Allocate(std::size_t bytes);
    // One of its items, `bytes` long, has gone.
    void Release(void* item, std::size_t bytes) noexcept;
    // The builder lets go; the arena goes with its last item.
    void Close() noexcept;

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
    bool closed_ = false;
};

}  // namespace zorvex
