// Chooses the blocks of a deflate stream again. libdeflate's slowest levels choose their
// matches well but end a block on a statistical guess, a few thousand bytes at the least; files
// whose parts differ, as binaries do (code, tables, strings, symbols), pack smaller in blocks
// placed where the statistics change, small ones too. The splitter reads a stream's literals and
// matches, splits each run of coded blocks where the sizes of the codes say so, and writes the
// blocks again with the best codes for them. The matches themselves and the stored blocks stay
// as they are, and so does every byte the stream decodes to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace selfx::cli {

class BlockSplitter {
 public:
  BlockSplitter();
  BlockSplitter(const BlockSplitter&) = delete;
  BlockSplitter& operator=(const BlockSplitter&) = delete;

  // Rewrites the raw deflate stream of size bytes in place and returns its new size, never
  // larger: a run of blocks that does not pack smaller is copied as it was. decoded_size is how
  // many bytes the stream decodes to; from the run where a stream shows that it decodes to more,
  // or that it is damaged, it is copied as it is, bit for bit (a stream cut short then ends in
  // other padding bits).
  std::size_t Rewrite(std::uint8_t* stream, std::size_t size, std::size_t decoded_size);

  // How many literals and matches one run of blocks may hold before it is split and written:
  // the memory of a splitter is about 5 bytes per token, whatever the stream's size.
  static constexpr std::size_t kRunTokens = std::size_t{1} << 19;

 private:
  struct Reader;
  struct Writer;
  bool ReadCodedBlock(Reader& stream_reader, bool fixed);
  std::uint64_t SplitRun();
  void CountCandidates();
  std::uint64_t Estimate(std::size_t from, std::size_t to) const;
  std::uint64_t Exact(std::size_t from, std::size_t to) const;
  void SplitTopDown();
  void MoveBoundaries();
  std::uint64_t DropUnpaidBoundaries();
  void WriteRun(Writer& output, bool last_in_stream, std::uint8_t* limit);

  std::vector<std::uint32_t> tokens_;         // of the run being read: literals and matches
  std::vector<std::size_t> block_starts_;     // of the run's blocks as read, in tokens
  std::vector<std::size_t> candidates_;       // token positions a new block may start at
  std::vector<std::uint32_t> prefix_counts_;  // symbol counts before each candidate
  std::vector<std::size_t> split_;            // the chosen block starts, in candidates
  std::vector<std::uint64_t> block_bits_;     // the size of each chosen block
  std::vector<std::uint32_t> literal_table_;
  std::vector<std::uint32_t> distance_table_;
  std::size_t decoded_ = 0;  // bytes the stream has decoded to so far
};

}  // namespace selfx::cli
