// The codec's two ends: a source it pulls compressed bytes from and a sink it hands decoded
// bytes to, each one plain function, so that the codec knows nothing of files. The stub passes
// ReadArchive and the function that writes the output file and keeps its CRC; a test passes a
// reader of a vector and a recorder of every piece. There is one decoding at a time on a
// thread, so whatever state a source or a sink keeps is its own per-thread (or, in the stub,
// program-wide) state; no context pointer is carried through the decoder.
#pragma once

#include <cstdint>

namespace selfx {

// Fills buffer with up to count bytes and returns how many it gave. A short count is not the
// end: the next call asks again. 0 is the end of the input, whatever the cause.
using RawInputSource = std::uint32_t (*)(void* buffer, std::uint32_t count);
struct InputSource {
  std::uint32_t (*read)(void* context, void* buffer, std::uint32_t count);
  void* context;
};

// Takes count decoded bytes (never 0) in output order. Nothing to return: a sink that cannot
// keep them ends the program itself.
using RawOutputSink = void (*)(const std::uint8_t* bytes, std::uint32_t count);
struct OutputSink {
  bool (*write)(void* context, const std::uint8_t* bytes, std::uint32_t count);
  void* context;
};

}  // namespace selfx
