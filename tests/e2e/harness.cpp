#include "harness.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace e2e {

namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kIconPaintTimeoutMs = 3000;
// A window that does not answer a message within this time counts as hung.
constexpr UINT kMessageTimeoutMs = 5000;

// A job for one process started here: everything in it ends when the job is closed, or when
// the test program ends, however it ends.
HANDLE NewKillOnCloseJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  }
  return job;
}

bool SendWithTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DWORD_PTR* result) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             result != nullptr ? result : &ignored) != 0;
}

LRESULT SendOrZero(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  DWORD_PTR result = 0;
  return SendWithTimeout(window, message, wparam, lparam, &result) ? static_cast<LRESULT>(result)
                                                                   : 0;
}

std::string LastErrorText(const char* what) {
  char text[256];
  std::snprintf(text, sizeof(text), "%s failed with error %lu", what,
                static_cast<unsigned long>(GetLastError()));
  return text;
}

// Wine starts its desktop (explorer.exe) and its services (services.exe and the services it
// starts) on demand, as children of whichever process needs them first. Started here before
// any program under test, they belong to no program's job: they are not counted as what that
// program started, and closing its job does not end them under the feet of the next test.
bool StartSessionHelpers() {
  GetDesktopWindow();
  if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)) {
    CloseServiceHandle(manager);
  }
  return true;
}

}  // namespace

DWORD ScaledTimeout(DWORD timeout_ms) {
  static const DWORD scale = [] {
    const char* text = std::getenv("SELFX_E2E_TIME_SCALE");
    const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    return value >= 1 && value <= 1000 ? static_cast<DWORD>(value) : 1;
  }();
  return timeout_ms * scale;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  timeout_ms = ScaledTimeout(timeout_ms);
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeout_ms) return condition();
    Sleep(kPollMs);
  }
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string converted = "Z:" + path;
  std::replace(converted.begin(), converted.end(), '/', '\\');
  return converted;
}

std::string PathFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? WindowsPath(value) : std::string();
}

std::optional<std::vector<std::uint8_t>> TryReadFileBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> bytes;
  const DWORD size = GetFileSize(file, nullptr);
  if (size != INVALID_FILE_SIZE) {
    bytes.emplace(size);
    DWORD read = 0;
    if (size > 0 && (!ReadFile(file, bytes->data(), size, &read, nullptr) || read != size)) {
      bytes.reset();
    }
  }
  CloseHandle(file);
  return bytes;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  return TryReadFileBytes(path).value_or(std::vector<std::uint8_t>());
}

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                              &written, nullptr) &&
                                    written == bytes.size());
  return CloseHandle(file) && ok;
}

bool MakeFolders(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// One pass over the tree: deletes whatever can be deleted now.
void DeleteTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") DeleteTree(path + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// Only "not found" means gone: a file whose deletion waits for its last handle to close
// still answers, with another error.
bool IsGone(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool RemoveTree(const std::string& path, DWORD timeout_ms) {
  return WaitUntil(
      [&] {
        DeleteTree(path);
        return IsGone(path);
      },
      timeout_ms);
}

// --- Process -------------------------------------------------------------------------------

Process Process::Start(const std::string& program, const std::string& arguments,
                       const std::string& directory, bool suspended) {
  static const bool helpers_started = StartSessionHelpers();
  (void)helpers_started;
  Process process;
  std::string command_line = "\"" + program + "\"";
  if (!arguments.empty()) command_line += " " + arguments;
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // Suspended until it has joined the job, so that not even its first instant escapes it.
  if (!CreateProcessA(program.c_str(), writable.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
    process.error_ = LastErrorText(("CreateProcess of " + program).c_str());
    return process;
  }
  process.job_ = NewKillOnCloseJob();
  if (process.job_ != nullptr && !AssignProcessToJobObject(process.job_, info.hProcess)) {
    CloseHandle(process.job_);
    process.job_ = nullptr;
  }
  process.thread_ = info.hThread;
  process.handle_ = info.hProcess;
  if (!suspended) process.Resume();
  process.id_ = info.dwProcessId;
  return process;
}

void Process::Resume() {
  if (thread_ == nullptr) return;
  ResumeThread(thread_);
  CloseHandle(thread_);
  thread_ = nullptr;
}

Process::Process(Process&& other) noexcept
    : job_(other.job_),
      handle_(other.handle_),
      thread_(other.thread_),
      id_(other.id_),
      error_(std::move(other.error_)) {
  other.job_ = nullptr;
  other.handle_ = nullptr;
  other.thread_ = nullptr;
  other.id_ = 0;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Terminate();
    if (handle_ != nullptr) CloseHandle(handle_);
    if (thread_ != nullptr) CloseHandle(thread_);
    if (job_ != nullptr) CloseHandle(job_);
    job_ = other.job_;
    handle_ = other.handle_;
    thread_ = other.thread_;
    id_ = other.id_;
    error_ = std::move(other.error_);
    other.job_ = nullptr;
    other.handle_ = nullptr;
    other.thread_ = nullptr;
    other.id_ = 0;
  }
  return *this;
}

Process::~Process() {
  Terminate();
  if (handle_ != nullptr) CloseHandle(handle_);
  if (thread_ != nullptr) CloseHandle(thread_);
  if (job_ != nullptr) CloseHandle(job_);
}

std::optional<DWORD> Process::ProcessesStarted() const {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  if (job_ == nullptr ||
      !QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting,
                                 sizeof(accounting), nullptr) ||
      accounting.TotalProcesses == 0) {
    return std::nullopt;
  }
  return accounting.TotalProcesses - 1;  // all but the program itself
}

bool Process::running() const {
  return handle_ != nullptr && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::WaitForExit(DWORD timeout_ms) {
  if (handle_ == nullptr ||
      WaitForSingleObject(handle_, ScaledTimeout(timeout_ms)) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(handle_, &code)) return std::nullopt;
  return code;
}

void Process::Terminate() {
  if (!running()) return;
  // An exit code no program under test uses, so that a forced end is recognisable.
  TerminateProcess(handle_, 0xDEAD);
  WaitForSingleObject(handle_, ScaledTimeout(5000));
}

bool WaitForProcessEnd(DWORD process_id, DWORD timeout_ms) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, ScaledTimeout(timeout_ms)) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// --- windows -------------------------------------------------------------------------------

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

std::string WindowText(HWND window) {
  const LRESULT length = SendOrZero(window, WM_GETTEXTLENGTH);
  if (length <= 0) return std::string();
  std::vector<char> text(static_cast<std::size_t>(length) + 2, '\0');
  DWORD_PTR copied = 0;
  if (!SendWithTimeout(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                       &copied)) {
    return std::string();
  }
  return std::string(text.data(), std::min<std::size_t>(copied, text.size() - 1));
}

int ControlId(HWND window) { return GetDlgCtrlID(window); }

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::string ControlText(HWND dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr ? WindowText(control) : std::string();
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

namespace {

struct WindowSearch {
  DWORD process_id;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && IsWindowVisible(window)) search->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD process_id) {
  WindowSearch search{process_id, {}};
  EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string DescribeWindows(DWORD process_id) {
  std::string description;
  for (HWND window : TopLevelWindows(process_id)) {
    description += "  [" + ClassName(window) + "] \"" + WindowText(window) + "\"\n";
    for (HWND child : ChildWindows(window)) {
      description += "      " + std::to_string(ControlId(child)) + " [" + ClassName(child) +
                     "] \"" + WindowText(child) + "\"" +
                     (IsWindowVisible(child) ? "" : " (hidden)") + "\n";
    }
  }
  return description.empty() ? "  (no visible windows)\n" : description;
}

HWND WaitForWindow(const Process& process, const std::function<bool(HWND)>& matches,
                   DWORD timeout_ms) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindows(process.id())) {
          if (matches(window)) {
            found = window;
            return true;
          }
        }
        // A process that has ended shows nothing more: stop waiting.
        return !process.running();
      },
      timeout_ms);
  return found;
}

bool IsDialogWithControl(HWND window, int control_id) {
  return ClassName(window) == "#32770" && Control(window, control_id) != nullptr;
}

bool WaitUntilResponding(HWND window, DWORD timeout_ms) {
  DWORD_PTR ignored = 0;
  // A message sent from another thread is only taken when the window's thread looks at
  // its queue, which a dialog's thread does once its initialisation has returned.
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, ScaledTimeout(timeout_ms),
                             &ignored) != 0;
}

HWND WaitForDialogWithControl(const Process& process, int control_id, DWORD timeout_ms) {
  HWND dialog = WaitForWindow(
      process, [control_id](HWND window) { return IsDialogWithControl(window, control_id); },
      timeout_ms);
  if (dialog != nullptr && timeout_ms > 0) WaitUntilResponding(dialog);
  return dialog;
}

bool WaitForWindowToClose(HWND window, DWORD timeout_ms) {
  return WaitUntil([window] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout_ms);
}

void PressButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(dialog, id)));
}

void ClickButton(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

bool SetControlText(HWND dialog, int id, const std::string& text) {
  HWND control = Control(dialog, id);
  DWORD_PTR result = 0;
  return control != nullptr &&
         SendWithTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) &&
         result != 0;
}

bool IsChecked(HWND dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr && SendOrZero(control, BM_GETCHECK) == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id) {
  HWND control = Control(dialog, id);
  return control != nullptr && IsWindowEnabled(control);
}

HWND FocusedWindow(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

void PressKey(HWND target, UINT virtual_key) {
  const UINT scan_code = MapVirtualKeyA(virtual_key, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan_code) << 16);
  const LPARAM up = down | (1 << 30) | (static_cast<LPARAM>(1) << 31);
  // Only the key itself: the program's message loop makes the character, as it would for a
  // real key, unless its dialog handling takes the key first (Tab, Enter, Esc).
  PostMessageA(target, WM_KEYDOWN, virtual_key, down);
  PostMessageA(target, WM_KEYUP, virtual_key, up);
}

void TypeText(HWND target, const std::string& text) {
  for (unsigned char c : text) PostMessageA(target, WM_CHAR, c, 1);
}

bool HasTitle(HWND window, const std::string& title, bool prefix) {
  const std::string text = WindowText(window);
  return prefix ? text.compare(0, title.size(), title) == 0 : text == title;
}

// --- message boxes ---------------------------------------------------------------------------

namespace {

bool IsIconStatic(HWND window) {
  return ClassName(window) == "Static" &&
         (GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

std::vector<std::uint32_t> BitmapPixels(HDC context, HBITMAP bitmap, int width, int height) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0);
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;  // rows top to bottom
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  GetDIBits(context, bitmap, 0, height, pixels.data(), &format, DIB_RGB_COLORS);
  for (auto& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

// Pixels of a rectangle of the screen.
std::vector<std::uint32_t> CaptureScreen(int x, int y, int width, int height) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
  SelectObject(memory, previous);
  auto pixels = BitmapPixels(memory, bitmap, width, height);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// The icon drawn on a plain background of `color`.
std::vector<std::uint32_t> RenderIcon(HICON icon, int width, int height, COLORREF color) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(color);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  SelectObject(memory, previous);
  auto pixels = BitmapPixels(memory, bitmap, width, height);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

int ColorDistance(std::uint32_t a, std::uint32_t b) {
  int distance = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    distance += std::abs(static_cast<int>((a >> shift) & 0xFF) -
                         static_cast<int>((b >> shift) & 0xFF));
  }
  return distance;
}

// Tells the standard icons apart by their pixels: the icon handle of another process means
// nothing here, but the picture on the screen does. Each system icon is drawn here on black
// and on white; pixels that come out the same on both belong to the icon, and the icon whose
// pixels differ least from the screen is the one shown.
MessageBoxIcon ClassifyIcon(HWND icon_static) {
  RECT rect;
  if (!GetWindowRect(icon_static, &rect)) return MessageBoxIcon::kUnknown;
  const int width = std::min<int>(rect.right - rect.left, 64);
  const int height = std::min<int>(rect.bottom - rect.top, 64);
  if (width <= 0 || height <= 0) return MessageBoxIcon::kUnknown;
  const std::vector<std::uint32_t> shown = CaptureScreen(rect.left, rect.top, width, height);

  struct Candidate {
    LPCSTR resource;
    MessageBoxIcon icon;
  };
  const Candidate candidates[] = {
      {IDI_HAND, MessageBoxIcon::kError},
      {IDI_QUESTION, MessageBoxIcon::kQuestion},
      {IDI_EXCLAMATION, MessageBoxIcon::kWarning},
      {IDI_ASTERISK, MessageBoxIcon::kInformation},
  };
  MessageBoxIcon best = MessageBoxIcon::kUnknown;
  long best_score = LONG_MAX;
  for (const Candidate& candidate : candidates) {
    HICON icon = LoadIconA(nullptr, candidate.resource);
    if (icon == nullptr) continue;
    const auto on_black = RenderIcon(icon, width, height, RGB(0, 0, 0));
    const auto on_white = RenderIcon(icon, width, height, RGB(255, 255, 255));
    long difference = 0;
    long opaque = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (ColorDistance(on_black[i], on_white[i]) > 30) continue;  // background shows through
      ++opaque;
      difference += ColorDistance(on_black[i], shown[i]);
    }
    if (opaque == 0) continue;
    const long score = difference / opaque;
    if (score < best_score) {
      best_score = score;
      best = candidate.icon;
    }
  }
  // A clear match differs by a few levels per pixel; anything far off is some other picture.
  return best_score < 60 ? best : MessageBoxIcon::kUnknown;
}

}  // namespace

bool SaveScreenshot(const std::string& path) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return false;
  const std::vector<std::uint32_t> pixels = CaptureScreen(0, 0, width, height);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = -height;  // rows top to bottom, as captured
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * sizeof(pixels[0]));
  std::vector<std::uint8_t> bytes(file.bfSize);
  std::memcpy(bytes.data(), &file, sizeof(file));
  std::memcpy(bytes.data() + sizeof(file), &info, sizeof(info));
  std::memcpy(bytes.data() + file.bfOffBits, pixels.data(), pixels.size() * sizeof(pixels[0]));
  return WriteFileBytes(path, bytes);
}

const char* IconName(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kNone:
      return "none";
    case MessageBoxIcon::kError:
      return "error";
    case MessageBoxIcon::kQuestion:
      return "question";
    case MessageBoxIcon::kWarning:
      return "warning";
    case MessageBoxIcon::kInformation:
      return "information";
    case MessageBoxIcon::kUnknown:
      break;
  }
  return "unknown";
}

std::vector<int> MessageBoxInfo::ButtonIds() const {
  std::vector<int> ids;
  for (const auto& button : buttons) ids.push_back(button.id);
  return ids;
}

bool IsMessageBox(HWND window) {
  if (ClassName(window) != "#32770") return false;
  bool has_button = false;
  for (HWND child : ChildWindows(window)) {
    const std::string name = ClassName(child);
    if (name == "Button") {
      const int id = ControlId(child);
      if (id < IDOK || id > IDCONTINUE) return false;
      has_button = true;
    } else if (name != "Static") {
      return false;
    }
  }
  return has_button;
}

MessageBoxInfo ReadMessageBox(HWND window) {
  MessageBoxInfo box;
  box.window = window;
  box.caption = WindowText(window);
  for (HWND child : ChildWindows(window)) {
    if (ClassName(child) == "Button") {
      if (IsWindowVisible(child)) box.buttons.push_back({ControlId(child), WindowText(child)});
    } else if (IsIconStatic(child)) {
      // Without an icon style the box may keep an empty icon control.
      if (IsWindowVisible(child) && SendOrZero(child, STM_GETICON) != 0) {
        // The box may not be painted yet when it first answers: look again for a while.
        WaitUntil([&] { return (box.icon = ClassifyIcon(child)) != MessageBoxIcon::kUnknown; },
                  kIconPaintTimeoutMs);
      }
    } else {
      const std::string text = WindowText(child);
      if (!text.empty()) box.text += box.text.empty() ? text : "\n" + text;
    }
  }
  return box;
}

std::optional<MessageBoxInfo> WaitForMessageBox(const Process& process, DWORD timeout_ms) {
  HWND window = WaitForWindow(process, IsMessageBox, timeout_ms);
  if (window == nullptr) return std::nullopt;
  WaitUntilResponding(window);
  return ReadMessageBox(window);
}

bool AnswerMessageBox(const MessageBoxInfo& box, int id) {
  PressButton(box.window, id);
  return WaitForWindowToClose(box.window);
}

// --- list views ------------------------------------------------------------------------------

namespace {

constexpr std::size_t kRemoteTextSize = 1024;

}  // namespace

int ListView::RowCount() const { return static_cast<int>(SendOrZero(list_, LVM_GETITEMCOUNT)); }

int ListView::ColumnCount() const {
  HWND header = reinterpret_cast<HWND>(SendOrZero(list_, LVM_GETHEADER));
  return header != nullptr ? static_cast<int>(SendOrZero(header, HDM_GETITEMCOUNT)) : 0;
}

std::string ListView::ColumnTitle(int column) const {
  RemoteMemory remote(process_, sizeof(LVCOLUMNA) + kRemoteTextSize);
  if (!remote.valid()) return std::string();
  LVCOLUMNA request = {};
  request.mask = LVCF_TEXT;
  request.pszText = remote.at(sizeof(LVCOLUMNA));
  request.cchTextMax = kRemoteTextSize;
  const char nothing = '\0';
  if (!remote.Write(0, &request, sizeof(request)) ||
      !remote.Write(sizeof(LVCOLUMNA), &nothing, 1) ||
      SendOrZero(list_, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(remote.at(0))) == 0) {
    return std::string();
  }
  // The control may point pszText at its own copy instead of filling the buffer.
  LVCOLUMNA answer = {};
  std::vector<char> text(kRemoteTextSize + 1, '\0');
  if (!remote.Read(0, &answer, sizeof(answer))) return std::string();
  SIZE_T read = 0;
  ReadProcessMemory(process_, answer.pszText, text.data(), kRemoteTextSize, &read);
  return text.data();
}

std::string ListView::CellText(int row, int column) const {
  RemoteMemory remote(process_, sizeof(LVITEMA) + kRemoteTextSize);
  if (!remote.valid()) return std::string();
  LVITEMA request = {};
  request.iSubItem = column;
  request.pszText = remote.at(sizeof(LVITEMA));
  request.cchTextMax = kRemoteTextSize;
  if (!remote.Write(0, &request, sizeof(request))) return std::string();
  const LRESULT length = SendOrZero(list_, LVM_GETITEMTEXTA, row,
                                    reinterpret_cast<LPARAM>(remote.at(0)));
  if (length <= 0) return std::string();
  std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
  if (!remote.Read(sizeof(LVITEMA), text.data(), static_cast<std::size_t>(length))) {
    return std::string();
  }
  return std::string(text.data(), static_cast<std::size_t>(length));
}

std::vector<std::vector<std::string>> ListView::Rows(int columns) const {
  if (columns < 0) columns = ColumnCount();
  std::vector<std::vector<std::string>> rows;
  const int count = RowCount();
  for (int row = 0; row < count; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columns; ++column) cells.push_back(CellText(row, column));
    rows.push_back(std::move(cells));
  }
  return rows;
}

bool ListView::IsSelected(int row) const {
  return (SendOrZero(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

int ListView::SelectedCount() const {
  return static_cast<int>(SendOrZero(list_, LVM_GETSELECTEDCOUNT));
}

bool ListView::SetSelected(int row, bool selected) const {
  RemoteMemory remote(process_, sizeof(LVITEMA));
  if (!remote.valid()) return false;
  LVITEMA request = {};
  request.stateMask = LVIS_SELECTED;
  request.state = selected ? LVIS_SELECTED : 0;
  return remote.Write(0, &request, sizeof(request)) &&
         SendOrZero(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                    reinterpret_cast<LPARAM>(remote.at(0))) != 0;
}

}  // namespace e2e
