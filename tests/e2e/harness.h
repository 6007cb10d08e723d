// Drives Windows GUI programs from another process: start a program, find its windows,
// read titles, control texts, list-view rows and message boxes, press buttons, and see how
// the program ends. Everything waits with a timeout and polls; nothing relies on a fixed
// sleep. Every process started here, and every process it starts, is ended when its Process
// object goes away, so a failed assertion cannot leave a program running.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// Long enough for a cold start under Wine on a busy machine. Every wait below is stretched by
// the whole number in SELFX_E2E_TIME_SCALE when it is set: under an emulator (Wine through
// qemu-i386 where the kernel runs no 32-bit code) a program takes a minute to start.
constexpr DWORD kWindowTimeoutMs = 15000;
constexpr DWORD kExitTimeoutMs = 15000;

// timeout_ms stretched by SELFX_E2E_TIME_SCALE.
DWORD ScaledTimeout(DWORD timeout_ms);

// Polls `condition` every few milliseconds until it holds or `timeout_ms` has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms);

// "/unix/path" as Wine sees it ("Z:\unix\path"); Windows paths come back unchanged.
std::string WindowsPath(const std::string& path);
// The value of an environment variable holding a path, as a Windows path; empty if unset.
std::string PathFromEnvironment(const char* name);

// The file's bytes, or nothing when it cannot be opened or read: an empty file is not a
// failed read. The file is opened with read, write and delete sharing, so that a writer that
// still holds it, or renames it into place (Wine renames through a handle opened for delete),
// does not make the read fail.
std::optional<std::vector<std::uint8_t>> TryReadFileBytes(const std::string& path);
// The same, empty when the file cannot be read (for fixtures, whose emptiness the caller
// checks).
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);
// Deletes a file, or a folder with everything in it (read-only files too); true when nothing
// of that name is left. A program that is ending, or has just ended, may hold a file or its
// working folder a moment longer, so this tries again until `timeout_ms` has passed.
bool RemoveTree(const std::string& path, DWORD timeout_ms = kExitTimeoutMs);

class Process {
 public:
  // Starts `program` with `arguments` (already quoted as the command line needs them) in
  // `directory` (the caller's current folder when empty). Returns an object that is not
  // running() when the program could not be started; error() tells why.
  // With `suspended` its first thread waits for Resume().
  static Process Start(const std::string& program, const std::string& arguments = "",
                       const std::string& directory = "", bool suspended = false);
  void Resume();

  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();  // ends the process if it is still running

  bool started() const { return handle_ != nullptr; }
  bool running() const;
  DWORD id() const { return id_; }
  HANDLE handle() const { return handle_; }
  const std::string& error() const { return error_; }

  // The exit code once the process has ended, or nothing if it still runs after the timeout.
  std::optional<DWORD> WaitForExit(DWORD timeout_ms = kExitTimeoutMs);
  void Terminate();

  // How many processes the program has started so far, directly or through the programs it
  // started (the shell, say): each process is started in a job of its own, which every
  // process it creates joins too. Nothing when the job cannot tell.
  std::optional<DWORD> ProcessesStarted() const;

 private:
  Process() = default;
  HANDLE job_ = nullptr;  // ends whatever still runs in it when it is closed
  HANDLE handle_ = nullptr;
  HANDLE thread_ = nullptr;  // kept only while suspended
  DWORD id_ = 0;
  std::string error_;
};

// Waits for the end of a process that this program did not start itself (one that a program
// under test started). A process that is already gone counts as ended.
bool WaitForProcessEnd(DWORD process_id, DWORD timeout_ms = kExitTimeoutMs);

// --- windows -------------------------------------------------------------------------------

std::string ClassName(HWND window);
// The window's text through WM_GETTEXT, which Windows (and Wine) copy across processes:
// titles, control texts and edit contents alike.
std::string WindowText(HWND window);
int ControlId(HWND window);
HWND Control(HWND dialog, int id);
std::string ControlText(HWND dialog, int id);
std::vector<HWND> ChildWindows(HWND parent);  // direct children, in z-order

// The visible top-level windows that belong to the process.
std::vector<HWND> TopLevelWindows(DWORD process_id);
// A one-line-per-window description of what the process shows, for failure messages.
std::string DescribeWindows(DWORD process_id);

// Waits for a visible top-level window of the process for which `matches` holds.
// WaitForDialogWithControl and WaitForMessageBox also wait until it responds.
HWND WaitForWindow(const Process& process, const std::function<bool(HWND)>& matches,
                   DWORD timeout_ms = kWindowTimeoutMs);
// Returns once the window's thread has taken a message from its queue, so that what it was
// doing when it showed the window (a dialog's initialisation) is finished.
bool WaitUntilResponding(HWND window, DWORD timeout_ms = kWindowTimeoutMs);
// A dialog (class "#32770") that has a control with `control_id`.
bool IsDialogWithControl(HWND window, int control_id);
HWND WaitForDialogWithControl(const Process& process, int control_id,
                              DWORD timeout_ms = kWindowTimeoutMs);
// Waits until the window is gone or hidden.
bool WaitForWindowToClose(HWND window, DWORD timeout_ms = kWindowTimeoutMs);

// Posts WM_COMMAND with BN_CLICKED for control `id`, as a click on the button does. Posting
// keeps the caller free while the command opens a modal window of its own.
void PressButton(HWND dialog, int id);
// Posts BM_CLICK: the button clicks itself, with its own checks (disabled buttons ignore it).
void ClickButton(HWND button);
// WM_SETTEXT on control `id` (for example typing a folder into an edit box).
bool SetControlText(HWND dialog, int id, const std::string& text);
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
// The window that has the keyboard focus in the thread that owns `window`.
HWND FocusedWindow(HWND window);

// Keyboard input, posted to `target` as the system would post it to the focused window:
// the dialog's own loop then handles Tab, Enter and Esc as it does for a user.
void PressKey(HWND target, UINT virtual_key);
void TypeText(HWND target, const std::string& text);
// True when the window's title is `title`, or begins with it when `prefix` is set.
bool HasTitle(HWND window, const std::string& title, bool prefix = false);

// Saves the whole screen as a 32-bit BMP file, to see afterwards what a program showed.
bool SaveScreenshot(const std::string& path);

// --- message boxes ---------------------------------------------------------------------------

enum class MessageBoxIcon { kNone, kError, kQuestion, kWarning, kInformation, kUnknown };
const char* IconName(MessageBoxIcon icon);

struct MessageBoxButton {
  int id;  // IDOK, IDCANCEL, IDYES...
  std::string text;
};

struct MessageBoxInfo {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  std::vector<MessageBoxButton> buttons;  // in z-order, which is left to right
  MessageBoxIcon icon = MessageBoxIcon::kNone;

  std::vector<int> ButtonIds() const;
};

// A message box is a dialog made only of statics and buttons whose ids are the standard
// message-box results (IDOK to IDCONTINUE).
bool IsMessageBox(HWND window);
MessageBoxInfo ReadMessageBox(HWND window);
// Waits for a message box of the process and reads it.
std::optional<MessageBoxInfo> WaitForMessageBox(const Process& process,
                                                DWORD timeout_ms = kWindowTimeoutMs);
// Presses the button with `id` (IDOK, IDNO...) and waits for the box to go away.
bool AnswerMessageBox(const MessageBoxInfo& box, int id);

// --- list views in another process -----------------------------------------------------------

// A block of memory in another process, released when this goes away. Controls of another
// process read and write their message data there (list views, tree views, headers).
class RemoteMemory {
 public:
  RemoteMemory(HANDLE process, std::size_t size)
      : process_(process),
        address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {
  }
  ~RemoteMemory() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  bool valid() const { return address_ != nullptr; }
  char* at(std::size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t size) const {
    SIZE_T written = 0;
    return WriteProcessMemory(process_, at(offset), data, size, &written) && written == size;
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    SIZE_T read = 0;
    return ReadProcessMemory(process_, at(offset), data, size, &read) && read == size;
  }

 private:
  HANDLE process_;
  void* address_;
};

// Messages whose data is a pointer (LVM_GETITEMTEXT, LVM_GETCOLUMN, LVM_SETITEMSTATE) are
// not copied between processes, so the structures and text buffers are placed in the
// target process's memory and read back from there.
class ListView {
 public:
  ListView(const Process& process, HWND list) : process_(process.handle()), list_(list) {}

  int RowCount() const;
  int ColumnCount() const;
  std::string ColumnTitle(int column) const;
  std::string CellText(int row, int column) const;
  // Every row, each with `columns` cells (all columns when negative).
  std::vector<std::vector<std::string>> Rows(int columns = -1) const;
  bool IsSelected(int row) const;
  int SelectedCount() const;
  bool SetSelected(int row, bool selected) const;  // row -1: every row

 private:
  HANDLE process_;
  HWND list_;
};

}  // namespace e2e
