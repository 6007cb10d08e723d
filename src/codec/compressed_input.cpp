// Compressed input.
#include "codec/compressed_input.h"

#include <algorithm>

#include "codec/deflate_format.h"
#include "codec/zip_crypto.h"

namespace selfx {

CompressedInputState CompressedInput;

void StartInput(InputSource source, std::int32_t size, bool encrypted) {
  CompressedInput.source = source;
  CompressedInput.remaining = size;
  CompressedInput.encrypted = encrypted;
  CompressedInput.position = 0;
  CompressedInput.fill = 0;
}

int NextInputByte() {
  CompressedInputState& in = CompressedInput;
  if (in.remaining <= 0) return -1;  // the entry is used up: no more reads from the source
  if (in.position >= in.fill) {
    // A refill happens only when every buffered byte has been handed out, so remaining is
    // exactly what is left of the entry in the source and the read never runs past it. A
    // short read is handed out in full; the next refill asks again.
    std::uint32_t request =
        std::min(static_cast<std::uint32_t>(in.remaining), deflate::kInputBlockSize);
    in.fill = in.source(in.buffer, request);
    if (in.encrypted && in.fill > 0) DecryptBuffer(in.buffer, in.fill);
    in.position = 0;
  }
  if (in.fill == 0) {
    // The source delivered nothing: the input of this entry ends here, silently. The
    // caller's CRC comparison is what reports it.
    in.remaining = 0;
    in.position = 0;
    return -1;
  }
  --in.remaining;
  return in.buffer[in.position++];
}

}  // namespace selfx
