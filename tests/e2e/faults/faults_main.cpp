// The stub's own run-time with a program that faults on purpose, chosen by its command
// line: the stub's code never faults, so this is the only way to see the top-level handler
// at work. Built from the stub's sources with the stub's flags; only the entry differs.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "stub/stub_runtime.h"

namespace {

const char* Mode() {
  const char* command_line = GetCommandLineA();
  const char* blank = std::strrchr(command_line, ' ');
  return blank == nullptr ? "" : blank + 1;
}

volatile int zero = 0;
char* volatile kept = nullptr;

// Deep enough to run out of stack; the test on zero only keeps the compiler from calling
// the recursion endless.
int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (zero == 1) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

void Fault() {
  const char* mode = Mode();
  if (std::strcmp(mode, "divide") == 0) {
    // Not 1 / zero: compilers turn a division of 1 into a comparison that cannot fault.
    volatile int result = 1000 / zero;
    (void)result;
  } else if (std::strcmp(mode, "stack") == 0) {
    Recurse(0);
#if defined(__i386__)
  } else if (std::strcmp(mode, "overflow") == 0) {
    // INTO raises the integer-overflow fault when the last addition overflowed. 64-bit code
    // has no such instruction; that build's test of it is skipped.
    asm volatile("movl $0x7fffffff, %%eax\n\taddl $1, %%eax\n\tinto" ::: "eax", "cc");
#endif
  } else if (std::strcmp(mode, "access") == 0) {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (std::strcmp(mode, "exception") == 0) {
    RaiseException(0xE06D7363, 0, 0, nullptr);  // what an uncaught C++ throw raises
  } else if (std::strcmp(mode, "other") == 0) {
    RaiseException(0xE0000001, 0, 0, nullptr);
  } else if (std::strcmp(mode, "memory") == 0) {
    // Kept where the compiler must assume they are used, or it may drop the allocations.
    // Blocks that use up the address space in a few dozen steps: 64 MiB of a 32-bit
    // process's 2 GiB, 1 TiB of a 64-bit one's 128 TiB (the 64-bit test build), where 64 MiB
    // blocks took half a minute, longer than the test waits on a busy machine.
#if defined(_WIN64)
    constexpr std::size_t kBlockSize = std::size_t{1} << 40;
#else
    constexpr std::size_t kBlockSize = std::size_t{64} << 20;
#endif
    for (;;) kept = new char[kBlockSize];
  } else if (std::strcmp(mode, "release") == 0) {
    // A block the heap never gave out.
    static char not_from_the_heap[64];
    kept = not_from_the_heap + 16;
    delete[] kept;
  }
  ExitProcess(42);  // an unknown mode, or a fault that did not fault
}

}  // namespace

// The stub's entry point, with this program in place of the stub's.
extern "C" void StubStart() { selfx::StartProgram(&Fault); }
