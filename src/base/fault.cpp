#include "base/fault.h"

#include "base/text.h"

namespace selfx {

std::string FaultMessage(const Fault& fault) {
  switch (fault.kind) {
    case FaultKind::kReadingZip:
      return FormatWith("Error reading zip %s", fault.path);
    case FaultKind::kCannotWrite:
      return FormatWith("Cannot write to %s", fault.path);
    default:
      return kCorruptMessage;
  }
}

}  // namespace selfx
