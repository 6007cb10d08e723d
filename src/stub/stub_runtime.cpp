// The stub's run-time: its start-up, memory from the process heap, and the top-level handling
// of faults. Every run-time failure ends the program at once through the process-end steps,
// without a message, with its own exit code.
//
// The program starts at its own entry point, without the C run-time's start-up code: it reads
// no command line or environment block, uses no C streams, no floating point and no
// thread-local data, and it ends only through ExitProcess. Of what that start-up code does,
// the program needs only the constructors of its program-wide objects, which StartProgram
// runs.

#include <windows.h>

#include <cstddef>
#include <new>
#include <string>

#include "app/run_time_failure.h"
#include "stub/dll_search.h"
#include "stub/process_end.h"
#include "stub/stub_runtime.h"

namespace {
[[noreturn]] __attribute__((noinline)) void MemoryExhausted() {
  selfx::EndProgram(selfx::kExitMemoryExhausted);
}
}  // namespace

void* operator new(std::size_t size) {
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  if (block == nullptr) MemoryExhausted();
  return block;
}

void* operator new[](std::size_t size) { return operator new(size); }

void operator delete(void* block) noexcept {
  if (block != nullptr && !HeapFree(GetProcessHeap(), 0, block)) {
    selfx::EndProgram(selfx::kExitInvalidRelease);
  }
}

void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }

// libstdc++ declares its string classes as instantiated in its own library, which would bring
// in the exception machinery and its locale support (about 150 KB). The stub instantiates
// them here instead, once: every other file calls this one copy of the members (see
// string_instances.h), and the linker keeps only the members that are called. The few throw
// helpers they call are below.
template class std::basic_string<char>;
template std::string::basic_string(const char*, const std::allocator<char>&);
template class std::basic_string<wchar_t>;

// The standard library's containers report impossible sizes through these; with the
// templates instantiated in the stub they are the only way such a request could end, and
// it can only mean that memory ran out.
namespace std {
void __throw_length_error(const char*) { MemoryExhausted(); }
void __throw_logic_error(const char*) { MemoryExhausted(); }
void __throw_out_of_range(const char*) { MemoryExhausted(); }
void __throw_out_of_range_fmt(const char*, ...) { MemoryExhausted(); }
void __throw_bad_alloc() { MemoryExhausted(); }
void __throw_bad_array_new_length() { MemoryExhausted(); }
}  // namespace std

// The constructors of program-wide objects register their destructors here. The program ends
// only through ExitProcess, which would run none of them, so none is kept.
extern "C" int atexit(void (*)()) { return 0; }

// The linker's list of constructors: -1, the constructors, 0.
extern "C" void (*__CTOR_LIST__[])();

namespace selfx {

namespace {

#if defined(__i386__)
// An exception registration record of the 32-bit structured exception handling chain.
struct ExceptionRegistration {
  ExceptionRegistration* next;
  void* handler;
};

// The system's UnhandledExceptionFilter sees every fault first (it may show the system's
// own report or hand the fault to a debugger); only when it hands the fault back does the
// program end it with its exit code.
extern "C" EXCEPTION_DISPOSITION __cdecl TopLevelExceptionHandler(EXCEPTION_RECORD* record, void*,
                                                                  CONTEXT* context, void*) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  EXCEPTION_POINTERS pointers = {record, context};
  LONG verdict = UnhandledExceptionFilter(&pointers);
  if (verdict == EXCEPTION_CONTINUE_EXECUTION) return ExceptionContinueExecution;
  if (verdict == EXCEPTION_CONTINUE_SEARCH) return ExceptionContinueSearch;
  EndProgram(ExitCodeForFault(record->ExceptionCode));
}

#else
// The 64-bit test build: there the system finds handlers through the functions' unwind
// tables, not through a chain on the stack, so the program's last word on a fault is the
// filter that the system's UnhandledExceptionFilter calls before it would look for a debugger.
LONG WINAPI TopLevelExceptionFilter(EXCEPTION_POINTERS* pointers) {
  EndProgram(ExitCodeForFault(pointers->ExceptionRecord->ExceptionCode));
}
#endif

}  // namespace

// The system calls the entry point with the stack aligned to 4 bytes only. The compiler's code
// assumes 16 (the CRC's SSE steps rely on it), which this establishes and every call keeps.
__attribute__((force_align_arg_pointer)) void StartProgram(void (*program)()) {
  RestrictDllSearch();
  // In the linker's order; the order between files is unspecified in C++ anyway.
  for (std::size_t i = 1; __CTOR_LIST__[i] != nullptr; ++i) __CTOR_LIST__[i]();
  RunWithFaultHandling(program);
  ExitProcess(0);
}

#if defined(__i386__)
void RunWithFaultHandling(void (*program)()) {
  ExceptionRegistration registration;
  asm volatile("movl %%fs:0, %0" : "=r"(registration.next));
  registration.handler = reinterpret_cast<void*>(&TopLevelExceptionHandler);
  asm volatile("movl %0, %%fs:0" : : "r"(&registration) : "memory");
  program();
  asm volatile("movl %0, %%fs:0" : : "r"(registration.next) : "memory");
}
#else
void RunWithFaultHandling(void (*program)()) {
  LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(&TopLevelExceptionFilter);
  program();
  SetUnhandledExceptionFilter(previous);
}
#endif

}  // namespace selfx
