#include "ItemArena.h"

#include <new>
#include <utility>

#include "ResourceLimits.h"
#include "zorvex/MathItem.h"

namespace zorvex {

namespace {
// The first block holds the arena and a short expression's items.
constexpr std::size_t kFirstBlock = 2048;
constexpr std::size_t kLargestBlock = 256 * 1024;
constexpr std::size_t kAlign = alignof(std::max_align_t) > 8 ? 8 : alignof(std::max_align_t);

std::size_t Round(std::size_t bytes) { return (bytes + kAlign - 1) & ~(kAlign - 1); }
}  // namespace

namespace {
// The first block of the last arena this thread let go of: most texts need
// no more, and the next text takes it again.
struct SpareBlock {
    void* block = nullptr;
    ~SpareBlock() { ::operator delete(block); }
};
thread_local SpareBlock spare;
}  // namespace

ItemArena* ItemArena::Open() {
    void* memory = std::exchange(spare.block, nullptr);
    if (memory == nullptr) memory = ::operator new(kFirstBlock);
    auto* arena = new (memory) ItemArena();
    arena->next_ = static_cast<char*>(memory) + Round(sizeof(ItemArena));
    arena->end_ = static_cast<char*>(memory) + kFirstBlock;
    arena->blockSize_ = kFirstBlock;
    return arena;
}

void* ItemArena::Allocate(std::size_t bytes) {
    ++live_;
#if defined(ZORVEX_ADDRESS_SANITIZER)
    try {
        return ::operator new(bytes);
    } catch (...) {
        --live_;
        throw;
    }
#else
    bytes = Round(bytes);
    if (static_cast<std::size_t>(end_ - next_) >= bytes) {
        void* p = next_;
        next_ += bytes;
        return p;
    }
    try {
        return Grow(bytes);
    } catch (...) {
        --live_;
        throw;
    }
#endif
}

void* ItemArena::Grow(std::size_t bytes) {
    if (blockSize_ < kLargestBlock) blockSize_ *= 2;
    const std::size_t head = Round(sizeof(Block));
    const std::size_t size = head + (bytes > blockSize_ ? bytes : blockSize_);
    auto* block = static_cast<Block*>(::operator new(size));
    block->next = blocks_;
    block->size = size;
    blocks_ = block;
    char* p = reinterpret_cast<char*>(block) + head;
    next_ = p + bytes;
    end_ = reinterpret_cast<char*>(block) + size;
    return p;
}

void ItemArena::Release([[maybe_unused]] void* block) noexcept {
#if defined(ZORVEX_ADDRESS_SANITIZER)
    ::operator delete(block);
#endif
    if (--live_ == 0 && closed_) Destroy();
}

void ItemArena::Close() noexcept {
    closed_ = true;
    if (live_ == 0) Destroy();
}

void ItemArena::Destroy() noexcept {
    for (Block* b = blocks_; b != nullptr;) {
        Block* next = b->next;
        ::operator delete(b);
        b = next;
    }
    this->~ItemArena();
    if (spare.block == nullptr)
        spare.block = this;
    else
        ::operator delete(static_cast<void*>(this));
}

// ---------------------------------------------------------------- item memory

namespace {
// The word before an item: its arena, or null for an item of its own.
constexpr std::size_t kHeader = 8;
ItemArena*& HeaderOf(void* item) { return *reinterpret_cast<ItemArena**>(static_cast<char*>(item) - kHeader); }
}  // namespace

void* TMItem::operator new(std::size_t size) {
    char* block = static_cast<char*>(::operator new(size + kHeader));
    void* item = block + kHeader;
    HeaderOf(item) = nullptr;
    return item;
}

void* TMItem::operator new(std::size_t size, ItemArena* arena) {
    if (arena == nullptr) return TMItem::operator new(size);
    char* block = static_cast<char*>(arena->Allocate(size + kHeader));
    void* item = block + kHeader;
    HeaderOf(item) = arena;
    return item;
}

void TMItem::operator delete(void* item) noexcept {
    if (item == nullptr) return;
    ItemArena* arena = HeaderOf(item);
    void* block = static_cast<char*>(item) - kHeader;
    if (arena == nullptr)
        ::operator delete(block);
    else
        arena->Release(block);
}

void TMItem::operator delete(void* item, ItemArena*) noexcept { TMItem::operator delete(item); }

}  // namespace zorvex
