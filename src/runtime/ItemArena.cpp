#include "ItemArena.h"

#include <new>
#include <utility>

#include "ResourceLimits.h"
#include "ItemHost.h"
#include "zorvex/MathItem.h"

#if defined(ZORVEX_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#define ZORVEX_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define ZORVEX_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define ZORVEX_POISON(p, n) ((void)(p), (void)(n))
#define ZORVEX_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace zorvex {

namespace {
// The first block holds the arena and a short expression's items.
constexpr std::size_t kFirstBlock = 2048;
constexpr std::size_t kLargestBlock = 256 * 1024;
constexpr std::size_t kAlign = 8;
// Under AddressSanitizer the space between items, and an item given back,
// are poisoned: a read past an item or of a freed one is reported.
#if defined(ZORVEX_ADDRESS_SANITIZER)
constexpr std::size_t kRedzone = 16;
#else
constexpr std::size_t kRedzone = 0;
#endif

std::size_t Round(std::size_t bytes) { return (bytes + kAlign - 1) & ~(kAlign - 1); }

// The first block of the last arena this thread let go of: most texts need
// no more, and the next text takes it again. A plain word, read without a
// call; the block goes at the thread's end through an object made the first
// time one is kept.
ZORVEX_FAST_TLS thread_local void* spare = nullptr;
ZORVEX_FAST_TLS thread_local bool spareReleaseArmed = false;
struct SpareRelease {
    ~SpareRelease() { ::operator delete(std::exchange(spare, nullptr)); }
};
void KeepSpare(void* block) {
    if (!spareReleaseArmed) [[unlikely]] {
        static thread_local SpareRelease release;
        (void)release;
        spareReleaseArmed = true;
    }
    spare = block;
}
}  // namespace

ItemArena* ItemArena::Open(TMathInterpreter* account) {
    void* memory = std::exchange(spare, nullptr);
    if (memory == nullptr) memory = ::operator new(kFirstBlock);
    auto* arena = new (memory) ItemArena();
    arena->account_ = account;
    arena->next_ = static_cast<char*>(memory) + Round(sizeof(ItemArena));
    arena->end_ = static_cast<char*>(memory) + kFirstBlock;
    arena->blockSize_ = kFirstBlock;
    ZORVEX_POISON(arena->next_, static_cast<std::size_t>(arena->end_ - arena->next_));
    return arena;
}

void* ItemArena::Allocate(std::size_t bytes) {
    bytes = Round(bytes);
    void* p;
    if (static_cast<std::size_t>(end_ - next_) >= bytes + kRedzone) {
        p = next_;
        next_ += bytes + kRedzone;
    } else {
        p = Grow(bytes + kRedzone);
    }
    ZORVEX_UNPOISON(p, bytes);
    ++live_;
    return p;
}

void* ItemArena::Grow(std::size_t bytes) {
    if (blockSize_ < kLargestBlock) blockSize_ *= 2;
    const std::size_t head = Round(sizeof(Block));
    const std::size_t size = head + (bytes > blockSize_ ? bytes : blockSize_);
    if (account_ != nullptr) host::ChargeMemory(*account_, size);
    Block* block;
    try {
        block = static_cast<Block*>(::operator new(size));
    } catch (...) {
        if (account_ != nullptr) host::ReleaseMemory(*account_, size);
        throw;
    }
    charged_ += account_ != nullptr ? size : 0;
    block->next = blocks_;
    block->size = size;
    blocks_ = block;
    char* p = reinterpret_cast<char*>(block) + head;
    next_ = p + bytes;
    end_ = reinterpret_cast<char*>(block) + size;
    ZORVEX_POISON(p, size - head);
    return p;
}

void ItemArena::Release(void* item, std::size_t bytes) noexcept {
    ZORVEX_POISON(item, Round(bytes));
    if (--live_ == 0 && closed_) Destroy();
}

// A pointer in the list of tokens and one in a stack of the tree builder,
// with room for the lists' growth.
constexpr std::size_t kListBytesPerEntry = 3 * sizeof(void*);

void ItemArena::Charge(std::size_t bytes) {
    if (account_ == nullptr || bytes == 0) return;
    host::ChargeMemory(*account_, bytes);
    charged_ += bytes;
}

void ItemArena::ChargeWorkingLists(std::size_t entries) {
    const std::size_t bytes = entries * kListBytesPerEntry;
    if (account_ == nullptr || bytes <= listCharge_) return;
    host::ChargeMemory(*account_, bytes - listCharge_);
    listCharge_ = bytes;
}

void ItemArena::Close() noexcept {
    if (listCharge_ != 0) host::ReleaseMemory(*account_, std::exchange(listCharge_, 0));
    closed_ = true;
    if (live_ == 0) Destroy();
}

void ItemArena::Destroy() noexcept {
    if (charged_ != 0) host::ReleaseMemory(*account_, charged_);
    for (Block* b = blocks_; b != nullptr;) {
        Block* next = b->next;
        ZORVEX_UNPOISON(b, b->size);
        ::operator delete(b);
        b = next;
    }
    this->~ItemArena();
    ZORVEX_UNPOISON(this, kFirstBlock);
    if (spare == nullptr)
        KeepSpare(this);
    else
        ::operator delete(static_cast<void*>(this));
}

// ---------------------------------------------------------------- item memory

namespace {
// The word before an item: its arena, or null for an item of its own.
constexpr std::size_t kHeader = 8;
ItemArena*& HeaderOf(void* item) { return *reinterpret_cast<ItemArena**>(static_cast<char*>(item) - kHeader); }
}  // namespace

ItemArena* ItemArena::Of(const TMItem* item) noexcept {
    return HeaderOf(const_cast<TMItem*>(item));  // only read
}

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

void TMItem::operator delete(void* item, std::size_t size) noexcept {
    if (item == nullptr) return;
    ItemArena* arena = HeaderOf(item);
    void* block = static_cast<char*>(item) - kHeader;
    if (arena == nullptr)
        ::operator delete(block);
    else
        arena->Release(block, size + kHeader);
}

void TMItem::operator delete(void* item, ItemArena* arena) noexcept {
    // A constructor that failed: the place stays taken until the arena goes.
    if (arena == nullptr) {
        ::operator delete(static_cast<char*>(item) - kHeader);
        return;
    }
    arena->Release(static_cast<char*>(item) - kHeader, kHeader);
}

}  // namespace zorvex
