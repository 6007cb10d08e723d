#include "app/run_time_failure.h"

namespace selfx {

std::uint32_t ExitCodeForFault(std::uint32_t exception_code) {
  switch (exception_code) {
    case 0xC0000094:  // integer division by zero
    case 0xC000008E:  // floating-point division by zero
      return 200;
    case 0xC00000FD:  // stack overflow
      return 202;
    case 0xC0000095:  // integer overflow
      return 215;
    case 0xC0000005:  // access violation
      return 216;
    case 0xE06D7363:  // a C++ exception raised by the Microsoft run-time
    case 0x20474343:  // a C++ exception raised by the GNU run-time ("GCC ")
      return 217;
    default:
      return 255;
  }
}

}  // namespace selfx
