// The heap of the memory benchmark, counted. heap_counter.cpp replaces the program's global
// operator new and delete: every block is counted while it lives, against the installer or
// against the simulated device, whichever this thread is working for when the block is
// made. Only the bytes asked for are counted, not the allocator's own overhead.
#pragma once

#include <cstddef>

namespace autorun::bench {

enum class HeapOwner { Installer, Simulator };

// Makes `owner` the one this thread allocates for while the scope lives.
class HeapOwnerScope {
 public:
  explicit HeapOwnerScope(HeapOwner owner);
  ~HeapOwnerScope();
  HeapOwnerScope(const HeapOwnerScope&) = delete;
  HeapOwnerScope& operator=(const HeapOwnerScope&) = delete;

 private:
  HeapOwner previous_;
};

struct HeapPeak {
  std::size_t bytes = 0;   // the most in use at once, above what was in use at the start
  std::size_t blocks = 0;  // blocks in use at that moment, above those at the start
};

// Watches the heap from its construction on.
class HeapMeasure {
 public:
  HeapMeasure();
  // The installer's blocks alone.
  HeapPeak installer() const;
  // The installer's and the simulated device's together.
  HeapPeak total() const;

 private:
  std::size_t installerBytes_;
  std::size_t installerBlocks_;
  std::size_t totalBytes_;
  std::size_t totalBlocks_;
};

}  // namespace autorun::bench
