// Deflates whole buffers with libdeflate, at levels 1 to 12: 1 to 9 as zlib's levels are
// known, 10 to 12 libdeflate's slower search for the shortest encoding, whose blocks the
// BlockSplitter then chooses again. One Deflater per thread: it holds the compressor's tables,
// reused from one buffer to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

struct libdeflate_compressor;

namespace selfx::cli {
class BlockSplitter;
}

namespace selfx::cli {

constexpr int kHighestLevel = 12;
// The levels whose streams the BlockSplitter rewrites.
constexpr int kFirstSplitLevel = 10;

// Bytes that resize leaves as they are: the buffers of whole files are filled by reading or
// compressing right after, and clearing megabytes first would only cost time.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  template <class U>
  void construct(U* place) {
    ::new (static_cast<void*>(place)) U;
  }
  template <class U, class... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};
using FileBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

class Deflater {
 public:
  explicit Deflater(int level);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // The raw deflate stream of data in out, when it is shorter than data; false (out empty)
  // when it is not, and the data is better stored as it is.
  bool Compress(const std::uint8_t* data, std::size_t size, FileBytes& out);

 private:
  libdeflate_compressor* compressor_;
  std::unique_ptr<BlockSplitter> splitter_;  // at the levels that split blocks again
};

// The CRC-32 of data, as the ZIP format records it.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

}  // namespace selfx::cli
