// The selfx tool's part of the Win32 platform layer: its output functions, which write every
// file under a temporary name beside its final one (platform/pending_file.h), writes confined
// to a folder, the console, and the failure texts. The stub is built without this file.

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/pending_file.h"
#include "platform/platform.h"
#include "platform/win32_shared.h"

namespace selfx::platform {

namespace {

DWORD last_error = 0;
const char* last_reason = nullptr;

void NoteFailure(DWORD error, const char* reason = nullptr) {
  last_error = error;
  last_reason = reason;
}

// The confined root with one trailing backslash; empty when writes may go anywhere.
std::string confined_root;

void (*write_observer)(std::uint32_t) = nullptr;

bool BelowRoot(const std::string& path) {
  return !confined_root.empty() && path.size() > confined_root.size() &&
         path.compare(0, confined_root.size(), confined_root) == 0;
}

// Refuses a path whose folders below the root include a reparse point (a symbolic link or a
// junction), which would lead the write elsewhere.
bool FoldersBelowRootAreReal(const std::string& path) {
  std::string::size_type at = confined_root.size();
  for (;;) {
    std::string::size_type end = path.find('\\', at);
    if (end == std::string::npos) return true;
    DWORD attributes = GetFileAttributesA(path.substr(0, end).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      NoteFailure(ERROR_ACCESS_DENIED, "a folder of the path is a link or a junction");
      return false;
    }
    at = end + 1;
  }
}

// The temporary files. A console event handler, on a thread of the system's, removes them; a
// slot belongs to whoever moves it out of kArmed, so the handler and the owner never both
// act on one.
enum SlotState : LONG { kFree, kTaken, kArmed };
constexpr std::size_t kLongestPath = 1024;

struct PendingSlot {
  volatile LONG state = kFree;
  FileHandle handle = kNoFile;
  char temporary_path[kLongestPath] = {};
  std::string final_path;
};

// The tool writes one extracted file at a time, and a build one archive: a few are plenty.
constexpr int kSlots = 4;
PendingSlot slots[kSlots];

void (*interrupt_handler)() = nullptr;
bool interrupted_once = false;

// The one console handler of the tool. The first Ctrl-C goes to the interrupt handler when
// there is one; every event that ends the program (a second Ctrl-C, Ctrl-Break, closing the
// window, logging off) removes the temporary files first and falls through to the system.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT && interrupt_handler != nullptr && !interrupted_once) {
    interrupted_once = true;
    interrupt_handler();
    return TRUE;
  }
  DiscardAllPending();
  return FALSE;
}

void InstallConsoleHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

// Takes an armed slot for its owner; false when the console handler took it (the program is
// ending).
bool TakeSlot(PendingSlot& slot) {
  return InterlockedCompareExchange(&slot.state, kTaken, kArmed) == kArmed;
}

}  // namespace

PendingId CreatePendingBeside(const std::string& final_path, FileHandle& handle) {
  InstallConsoleHandler();
  PendingId id = 0;
  while (id < kSlots && InterlockedCompareExchange(&slots[id].state, kTaken, kFree) != kFree) {
    ++id;
  }
  if (id == kSlots) {
    NoteFailure(ERROR_TOO_MANY_OPEN_FILES, "too many files are being written at once");
    return kNoPending;
  }
  PendingSlot& slot = slots[id];
  std::string folder = final_path.substr(0, final_path.find_last_of("\\/") + 1);
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_GEN_FAILURE;
  const char* reason = "the system gave no random bytes for a temporary name";
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned char random[8];
    if (!RandomBytes(random, sizeof random)) break;
    char name[40];
    std::snprintf(name, sizeof name, ".selfx-%02x%02x%02x%02x%02x%02x%02x%02x%s", random[0],
                  random[1], random[2], random[3], random[4], random[5], random[6], random[7],
                  kPendingSuffix);
    std::string path = folder + name;
    if (path.size() >= kLongestPath) {
      error = ERROR_FILENAME_EXCED_RANGE;
      reason = nullptr;
      break;
    }
    path.copy(slot.temporary_path, path.size());
    slot.temporary_path[path.size()] = '\0';
    // CREATE_NEW makes a new file or nothing; delete sharing lets a console event remove it
    // while it is open.
    file = CreateFileA(slot.temporary_path, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    reason = nullptr;
    if (file != INVALID_HANDLE_VALUE || error != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    slot.state = kFree;
    NoteFailure(error, reason);
    return kNoPending;
  }
  slot.handle = reinterpret_cast<FileHandle>(file);
  slot.final_path = final_path;
  InterlockedExchange(&slot.state, kArmed);
  handle = slot.handle;
  return id;
}

PendingId PendingOfHandle(FileHandle handle) {
  for (PendingId id = 0; id < kSlots; ++id) {
    if (slots[id].state == kArmed && slots[id].handle == handle) return id;
  }
  return kNoPending;
}

void ForgetPendingHandle(PendingId id) { slots[id].handle = kNoFile; }

std::string PendingPath(PendingId id) { return slots[id].temporary_path; }

bool CommitPending(PendingId id, Placement placement) {
  PendingSlot& slot = slots[id];
  if (!TakeSlot(slot)) {
    NoteFailure(ERROR_OPERATION_ABORTED);
    return false;
  }
  // A move within one folder is a rename, never a copy, so it needs no write-through.
  DWORD flags = placement == Placement::kReplace ? MOVEFILE_REPLACE_EXISTING : 0;
  bool moved = MoveFileExA(slot.temporary_path, slot.final_path.c_str(), flags) != 0;
  DWORD error = GetLastError();
  bool name_taken = !moved && placement == Placement::kOnlyIfNew &&
                    (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
  if (!moved) DeleteFileA(slot.temporary_path);
  if (!moved && !name_taken) NoteFailure(error);
  slot.handle = kNoFile;
  InterlockedExchange(&slot.state, kFree);
  return moved || name_taken;
}

void DiscardPending(PendingId id) {
  PendingSlot& slot = slots[id];
  if (!TakeSlot(slot)) return;
  DeleteFileA(slot.temporary_path);
  slot.handle = kNoFile;
  InterlockedExchange(&slot.state, kFree);
}

void DiscardAllPending() {
  // The slots stay taken: the program is ending. A file still open goes when it is closed.
  for (PendingSlot& slot : slots) {
    if (TakeSlot(slot)) DeleteFileA(slot.temporary_path);
  }
}

FileHandle CreateForWriting(const std::string& path) {
  if (!BelowRoot(path)) {
    return CreateInPlace(path);
  }
  if (!FoldersBelowRootAreReal(path)) return kNoFile;
  DWORD existing = GetFileAttributesA(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    bool folder = (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
    NoteFailure(ERROR_ACCESS_DENIED, folder ? "is a folder" : nullptr);
    return kNoFile;
  }
  FileHandle file = kNoFile;
  return CreatePendingBeside(path, file) == kNoPending ? kNoFile : file;
}

std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) {
  DWORD written = 0;
  bool wrote = WriteFile(AsHandle(file), buffer, count, &written, nullptr) != 0;
  if (!wrote) written = 0;
  if (written < count) NoteFailure(wrote ? ERROR_DISK_FULL : GetLastError());
  if (write_observer != nullptr && written > 0) write_observer(written);
  return written;
}

bool CloseOutput(FileHandle file, OutputEnding ending) {
  PendingId pending = PendingOfHandle(file);
  bool closed = CloseHandle(AsHandle(file)) != 0;
  if (!closed) NoteFailure(GetLastError());
  if (pending == kNoPending) return closed;
  if (!closed || ending == OutputEnding::kDiscard) {
    DiscardPending(pending);
    return closed;
  }
  return CommitPending(
      pending, ending == OutputEnding::kCommit ? Placement::kReplace : Placement::kOnlyIfNew);
}

bool CreateFolder(const std::string& path) {
  if (BelowRoot(path) && !FoldersBelowRootAreReal(path)) return false;
  bool created = CreateDirectoryA(path.c_str(), nullptr) != 0;
  if (!created) {
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesA(path.c_str());
    bool file_in_the_way = error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
                           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    NoteFailure(error, file_in_the_way ? "not a folder" : nullptr);
  }
  return created;
}

bool ReadTerminalLine(std::string& line, bool echo) {
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD saved_mode = 0;
  bool restore = !echo && GetConsoleMode(input, &saved_mode) &&
                 SetConsoleMode(input, saved_mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  line.clear();
  char c;
  DWORD read = 0;
  bool got_any = false;
  while (ReadFile(input, &c, 1, &read, nullptr) && read == 1) {
    got_any = true;
    if (c == '\n') break;
    if (c != '\r') line += c;
  }
  if (restore) {
    SetConsoleMode(input, saved_mode);
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
  }
  CloseHandle(input);
  return got_any;
}

bool ErrorStreamIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void OnInterrupt(void (*handler)()) {
  interrupt_handler = handler;
  InstallConsoleHandler();
}

std::string AnsiToConsole(const std::string& text) {
  std::string converted = text;
  if (!converted.empty()) CharToOemA(&converted[0], &converted[0]);
  return converted;
}

bool RandomBytes(void* buffer, std::size_t count) {
  // RtlGenRandom: the system's cryptographic source, in advapi32 since Windows XP.
  using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  auto generate = advapi == nullptr ? nullptr
                                    : reinterpret_cast<GenRandom>(reinterpret_cast<void*>(
                                          GetProcAddress(advapi, "SystemFunction036")));
  return generate != nullptr && generate(buffer, static_cast<ULONG>(count));
}

void ExitProcess(std::uint32_t exit_code) {
  DiscardAllPending();
  // The tool's output is buffered by the C run-time, which ::ExitProcess does not flush.
  std::fflush(stdout);
  std::fflush(stderr);
  ::ExitProcess(exit_code);
}

std::string ConsoleTextToUtf8(const std::string& text) {
  UINT code_page = GetConsoleOutputCP();
  return ConvertCodePage(text, code_page != 0 ? code_page : CP_OEMCP, CP_UTF8);
}

void ConfineWritesTo(const std::string& root) {
  if (root.empty()) return;
  confined_root = root.back() == '\\' ? root : root + '\\';
  InstallConsoleHandler();
}

std::string LastErrorText() {
  if (last_reason != nullptr) return last_reason;
  if (last_error == 0) return std::string();
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                last_error, 0, buffer, sizeof buffer, nullptr);
  // The system's texts end in a full stop and a line end.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == '.' || buffer[length - 1] == ' ')) {
    --length;
  }
  return length == 0 ? "error " + std::to_string(last_error) : std::string(buffer, length);
}

void ObserveWrites(void (*observer)(std::uint32_t bytes)) { write_observer = observer; }

PathKind KindOfPath(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    NoteFailure(GetLastError());
    return PathKind::kMissing;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
  // A device (CON, a pipe) answers to attributes too; only a disk file is a file.
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return PathKind::kFile;
  DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type == FILE_TYPE_DISK ? PathKind::kFile : PathKind::kOther;
}

bool TerminalAvailable() {
  HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  CloseHandle(input);
  return true;
}

}  // namespace selfx::platform
