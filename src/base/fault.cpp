#include "base/fault.h"

#include "base/text.h"

namespace selfx {

std::string FaultMessage(Fault fault, const std::string& path) {
  static constexpr const char* kFormats[] = {kCorruptMessage, kCorruptMessage,
                                             "Error reading zip %s", "Cannot write to %s"};
  return FormatWith(kFormats[static_cast<int>(fault)], path);
}

}  // namespace selfx
