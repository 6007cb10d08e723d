#include "archive/zip_signatures.h"

namespace selfx {

// Stored with their first byte one lower ("O" instead of "P").
std::uint32_t LocalHeaderSignature = 0x04034B4F;
std::uint32_t CentralHeaderSignature = 0x02014B4F;
std::uint32_t EndRecordSignature = 0x06054B4F;

namespace {
bool signatures_ready = false;
}

void PrepareZipSignatures() {
  if (signatures_ready) return;
  signatures_ready = true;
  ++LocalHeaderSignature;
  ++CentralHeaderSignature;
  ++EndRecordSignature;
}

}  // namespace selfx
