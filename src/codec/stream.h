// The codec's two ends: a source it pulls compressed bytes from and a sink it hands decoded
// bytes to, each a plain function with a context pointer that the codec passes back untouched,
// so that the codec knows nothing of files. The stub passes a reader of the archive file and a
// writer of the output file that keeps its CRC; a test passes a reader of a vector and a
// recorder of every piece; each decoding thread passes its own contexts.
#pragma once

#include <cstdint>

namespace selfx {

// Fills buffer with up to count bytes and returns how many it gave. A short count is not the
// end: the next call asks again. 0 is the end of the input, whatever the cause.
struct InputSource {
  std::uint32_t (*read)(void* context, void* buffer, std::uint32_t count);
  void* context;
};

// Takes count decoded bytes (never 0) in output order. False when it could not keep them: the
// decoder then stops at once and hands over nothing more.
struct OutputSink {
  bool (*write)(void* context, const std::uint8_t* bytes, std::uint32_t count);
  void* context;
};

}  // namespace selfx
