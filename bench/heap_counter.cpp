// The counting allocator behind heap_counter.h: the program's global operator new and
// delete in all their forms. Each block carries a header with its size and its owner, so
// that it is taken off the right count whoever frees it.
#include "heap_counter.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace autorun::bench {
namespace {

struct Header {
  std::size_t size;
  std::uint32_t owner;
  std::uint32_t offset;  // from the block malloc gave to the caller's bytes
};
static_assert(sizeof(Header) <= alignof(std::max_align_t) * 2);

// Bytes and blocks in use, by owner, and the peaks since the last HeapMeasure began.
struct Counts {
  std::size_t bytes[2] = {};
  std::size_t blocks[2] = {};
  HeapPeak installerPeak;
  HeapPeak totalPeak;
};

Counts counts;
std::atomic_flag busy = ATOMIC_FLAG_INIT;
thread_local HeapOwner currentOwner = HeapOwner::Installer;

class Lock {
 public:
  Lock() {
    while (busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Lock() { busy.clear(std::memory_order_release); }
};

void note(std::size_t size, std::uint32_t owner, bool added) {
  const Lock lock;
  if (added) {
    counts.bytes[owner] += size;
    counts.blocks[owner] += 1;
  } else {
    counts.bytes[owner] -= size;
    counts.blocks[owner] -= 1;
  }
  const std::size_t installer = counts.bytes[0];
  const std::size_t total = counts.bytes[0] + counts.bytes[1];
  if (installer > counts.installerPeak.bytes) counts.installerPeak = {installer, counts.blocks[0]};
  if (total > counts.totalPeak.bytes) {
    counts.totalPeak = {total, counts.blocks[0] + counts.blocks[1]};
  }
}

void* allocate(std::size_t size, std::size_t alignment) noexcept {
  if (alignment < alignof(std::max_align_t)) alignment = alignof(std::max_align_t);
  // Room for the header before the caller's bytes, keeping their alignment.
  std::size_t room = alignment;
  while (room < sizeof(Header)) room += alignment;
  void* raw =
      alignment == alignof(std::max_align_t)
          ? std::malloc(size + room)
          : std::aligned_alloc(alignment, (size + room + alignment - 1) / alignment * alignment);
  if (raw == nullptr) return nullptr;
  auto* bytes = static_cast<unsigned char*>(raw) + room;
  auto* header = reinterpret_cast<Header*>(bytes - sizeof(Header));
  header->size = size;
  header->owner = static_cast<std::uint32_t>(currentOwner);
  header->offset = static_cast<std::uint32_t>(room);
  note(size, header->owner, true);
  return bytes;
}

void release(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* bytes = static_cast<unsigned char*>(pointer);
  const auto* header = reinterpret_cast<const Header*>(bytes - sizeof(Header));
  note(header->size, header->owner, false);
  std::free(bytes - header->offset);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
  void* pointer = allocate(size, alignment);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}

}  // namespace

HeapOwnerScope::HeapOwnerScope(HeapOwner owner) : previous_(currentOwner) {
  currentOwner = owner;
}

HeapOwnerScope::~HeapOwnerScope() {
  currentOwner = previous_;
}

HeapMeasure::HeapMeasure() {
  const Lock lock;
  installerBytes_ = counts.bytes[0];
  installerBlocks_ = counts.blocks[0];
  totalBytes_ = counts.bytes[0] + counts.bytes[1];
  totalBlocks_ = counts.blocks[0] + counts.blocks[1];
  counts.installerPeak = {installerBytes_, installerBlocks_};
  counts.totalPeak = {totalBytes_, totalBlocks_};
}

HeapPeak HeapMeasure::installer() const {
  const Lock lock;
  const HeapPeak peak = counts.installerPeak;
  return {peak.bytes - installerBytes_,
          peak.blocks > installerBlocks_ ? peak.blocks - installerBlocks_ : 0};
}

HeapPeak HeapMeasure::total() const {
  const Lock lock;
  const HeapPeak peak = counts.totalPeak;
  return {peak.bytes - totalBytes_, peak.blocks > totalBlocks_ ? peak.blocks - totalBlocks_ : 0};
}

}  // namespace autorun::bench

using autorun::bench::allocateOrThrow;

void* operator new(std::size_t size) {
  return allocateOrThrow(size, 0);
}
void* operator new[](std::size_t size) {
  return allocateOrThrow(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return autorun::bench::allocate(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return autorun::bench::allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return autorun::bench::allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return autorun::bench::allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* pointer) noexcept {
  autorun::bench::release(pointer);
}
void operator delete[](void* pointer) noexcept {
  autorun::bench::release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  autorun::bench::release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  autorun::bench::release(pointer);
}
void operator delete(void* pointer, std::align_val_t) noexcept {
  autorun::bench::release(pointer);
}
void operator delete[](void* pointer, std::align_val_t) noexcept {
  autorun::bench::release(pointer);
}
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept {
  autorun::bench::release(pointer);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept {
  autorun::bench::release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  autorun::bench::release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  autorun::bench::release(pointer);
}
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept {
  autorun::bench::release(pointer);
}
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept {
  autorun::bench::release(pointer);
}
