// Compressed input.
#include "codec/compressed_input.h"

#include <algorithm>

#include "codec/deflate_format.h"
#include "codec/zip_crypto.h"

namespace selfx {

void StartInput(CompressedInput& input, const InputSource& source, std::int32_t size,
                ZipKeys* keys) {
  input.source = source;
  input.remaining = size;
  input.keys = keys;
  input.position = 0;
  input.fill = 0;
}

namespace {

// Refills the buffer once every byte in it has been handed out. That is the only moment it
// happens, so remaining is then exactly what is left of the entry in the source and the read
// never runs past it. A short read is handed out in full; the next refill asks again. False
// when the entry is used up, without a read, and when the source delivers nothing: the input
// of this entry ends there, silently (the caller's CRC comparison is what reports it), and
// remaining drops to 0 so that no later call reads again. Kept out of line: the readable loop
// calls NextInputByte for every input byte, and its common path is then a few instructions.
__attribute__((noinline)) bool RefillInput(CompressedInput& in) {
  if (in.remaining <= 0) return false;
  std::uint32_t request = std::min(static_cast<std::uint32_t>(in.remaining),
                                   deflate::kInputBlockSize);
  in.fill = in.source.read(in.source.context, in.buffer, request);
  in.position = 0;
  if (in.fill == 0) {
    in.remaining = 0;
    return false;
  }
  if (in.keys != nullptr) DecryptBuffer(*in.keys, in.buffer, in.fill);
  return true;
}

}  // namespace

int NextInputByte(CompressedInput& in) {
  // Buffered bytes are never more than remaining (no refill asks for more), so a byte in the
  // buffer is a byte of the entry.
  if (in.position >= in.fill && !RefillInput(in)) return -1;
  --in.remaining;
  return in.buffer[in.position++];
}

}  // namespace selfx
