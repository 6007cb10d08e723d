// Memory for bytes on their way from the worker threads to the one thread that writes them, in
// pieces of one size. Pieces the writer is done with go to the next entries or files, as fresh
// memory would cost a page fault per page, as much again as filling it. The pool grows in
// slabs as pieces are first needed, up to its limit, and gives its memory back only at its
// end: a limit of many jobs reserves nothing it does not use, even in a 32-bit process.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace selfx::cli {

class PiecePool {
 public:
  // Pieces of piece_size bytes, at most limit_bytes of them in all.
  PiecePool(std::size_t piece_size, std::uint64_t limit_bytes)
      : piece_size_(piece_size), pieces_left_(limit_bytes / piece_size) {}
  PiecePool(const PiecePool&) = delete;
  PiecePool& operator=(const PiecePool&) = delete;

  std::size_t piece_size() const { return piece_size_; }

  // A piece, or nullptr when the limit's worth is taken (or the system has no more).
  std::uint8_t* Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty() && !Grow()) return nullptr;
    std::uint8_t* piece = free_.back();
    free_.pop_back();
    return piece;
  }

  // Takes the pieces back and empties the list.
  void GiveBack(std::vector<std::uint8_t*>& pieces) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.insert(free_.end(), pieces.begin(), pieces.end());
    pieces.clear();
  }

 private:
  // A slab is aligned to its size and, on Linux, asks for huge pages where the system gives
  // them only on request: one fault then maps the whole slab.
  static constexpr std::size_t kSlabBytes = 2u << 20;
  struct SlabDelete {
    void operator()(std::uint8_t* slab) const {
      ::operator delete(slab, std::align_val_t(kSlabBytes));
    }
  };

  bool Grow() {
    std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(pieces_left_, std::max<std::size_t>(1, kSlabBytes / piece_size_)));
    if (count == 0) return false;
    std::size_t bytes = count * piece_size_;
    // Memory refused (a 32-bit process with many jobs) is a piece refused: the caller has a
    // way without one.
    auto* slab = static_cast<std::uint8_t*>(
        ::operator new(bytes, std::align_val_t(kSlabBytes), std::nothrow));
    if (slab == nullptr) return false;
    slabs_.emplace_back(slab);
#ifdef __linux__
    ::madvise(slab, bytes, MADV_HUGEPAGE);
#endif
    pieces_left_ -= count;
    // Handed out from the slab's start: the pages used first are the ones used again.
    for (std::size_t piece = count; piece-- > 0;) free_.push_back(slab + piece * piece_size_);
    return true;
  }

  const std::size_t piece_size_;
  std::mutex mutex_;
  std::uint64_t pieces_left_;  // not made yet
  std::vector<std::unique_ptr<std::uint8_t, SlabDelete>> slabs_;
  std::vector<std::uint8_t*> free_;
};

}  // namespace selfx::cli
