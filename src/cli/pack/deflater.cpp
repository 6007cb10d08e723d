#include "cli/pack/deflater.h"

#include <libdeflate.h>

#include "cli/pack/block_splitter.h"

#include <new>

namespace selfx::cli {

Deflater::Deflater(int level) : compressor_(libdeflate_alloc_compressor(level)) {
  if (compressor_ == nullptr) throw std::bad_alloc();
  if (level >= kFirstSplitLevel) splitter_ = std::make_unique<BlockSplitter>();
}

Deflater::~Deflater() { libdeflate_free_compressor(compressor_); }

bool Deflater::Compress(const std::uint8_t* data, std::size_t size, FileBytes& out) {
  // Room for one byte less than the data: libdeflate gives up (returns 0) when its result
  // does not fit, which is exactly when storing is no worse.
  out.resize(size == 0 ? 0 : size - 1);
  std::size_t produced = out.empty() ? 0
                                     : libdeflate_deflate_compress(compressor_, data, size,
                                                                   out.data(), out.size());
  if (produced != 0 && splitter_) produced = splitter_->Rewrite(out.data(), produced, size);
  out.resize(produced);
  return produced != 0;
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  return libdeflate_crc32(0, data, size);
}

}  // namespace selfx::cli
