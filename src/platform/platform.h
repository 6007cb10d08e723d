// The operating-system services the core relies on, in plain types. Each function is one call
// of the system and the translation of its result; the policy lives in the core.
//
// Paths and texts are ANSI byte strings in Windows form ("\" separators). The POSIX
// implementation maps them at this boundary: "\" becomes "/", and bytes of the ANSI code page
// (1252) become UTF-8, so that the core sees exactly what it would see on Windows.
#pragma once

#include <cstdint>
#include <string>

namespace selfx::platform {

// A file handle as the core sees it. kNoFile (all bits set) marks "not open"; 0 is also
// treated as never opened by the callers that care.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

// A window of the user interface, opaque to the core.
using WindowHandle = void*;

enum class SeekOrigin { FromStart, FromCurrent, FromEnd };

// Opens an existing file for reading; others may read it too. kNoFile on failure.
FileHandle OpenForReading(const std::string& path);
// Creates a file for writing under path, to be ended with CloseOutput. Below the folder given
// to ConfineWritesTo it is written under a new temporary name beside path (created
// exclusively, never through a link), so that nothing stands under path until CloseOutput
// commits it and a file of that name stays as it was until then; a folder or a file the user
// may not write is refused. Elsewhere, and always in the stub, path itself is created or
// truncated and written. kNoFile on failure.
FileHandle CreateForWriting(const std::string& path);
// Moves the file position by a signed 32-bit distance; returns the new position. No error
// is reported: a failed seek returns 0xFFFFFFFF.
std::uint32_t Seek(FileHandle file, std::int32_t distance, SeekOrigin origin);
// Reads up to count bytes at the current position; the number read, 0 when the call fails.
std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count);
// Writes count bytes with one call; the number written, 0 when the call fails.
std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count);
// The 32-bit file size, 0xFFFFFFFF on failure.
std::uint32_t FileSize(FileHandle file);
// Closes a file opened for reading, or the null output.
bool Close(FileHandle file);

// An output that swallows what is written (the null device).
FileHandle OpenNullOutput();

// How a file made by CreateForWriting ends.
enum class OutputEnding {
  kCommit,     // complete and sound: it takes its name, replacing a file there in one step
  kKeepIfNew,  // complete but failed its check: it takes its name only where no file had
               // it (a file there is never replaced, and the new bytes go)
  kDiscard,    // incomplete: it goes, and a file of its name stays as it was
};
// Closes a file made by CreateForWriting and ends it as told. A file written in place (the
// stub's, or one outside the confined folder) is only closed, whatever the ending, and so is
// the null output. False when the close or the move to the final name failed (LastErrorText
// says why); the temporary file is then gone.
bool CloseOutput(FileHandle file, OutputEnding ending);

// Sets the file's last-write time from a DOS date and time read as local time; creation and
// access times stay. Failures are ignored.
void SetLastWriteTimeFromDos(FileHandle file, std::uint16_t dos_date, std::uint16_t dos_time);
// A short beep of the system's default sound.
void Beep();

// The full path of the running program's file, cut to the 261-byte buffer the system fills.
std::string ModulePath();
// The mapped image of the running program, starting with its DOS header.
const std::uint8_t* ModuleImage();

// Converts names to the ANSI code page, in place of OemToCharA and WideCharToMultiByte. UTF-8
// is decoded by Utf8ToUtf16 on every system, so invalid forms give the same name everywhere.
// A character the ANSI code page cannot hold becomes "_".
std::string OemTextToAnsi(const std::string& text);
std::string Utf8TextToAnsi(const std::string& text);
// A path or text given on the command line, in the form the core works with (ANSI,
// Windows separators). False when it holds a character the ANSI code page cannot represent.
bool CommandLineTextToAnsi(const std::string& text, std::string& ansi);
// Reads one line typed at the terminal (not from redirected input), without showing it when
// echo is false. False when there is no terminal.
bool ReadTerminalLine(std::string& line, bool echo);
// Whether the standard error stream is a terminal (progress bars go there).
bool ErrorStreamIsTerminal();
// Calls the handler (on some thread of the system's) when the user presses Ctrl-C.
void OnInterrupt(void (*handler)());
// ANSI text as UTF-8 (for output meant for other programs).
std::string AnsiToUtf8Text(const std::string& text);
// Whether every character of the UTF-8 text has a place in the ANSI code page.
bool Utf8FitsAnsiCodePage(const std::string& text);
// ANSI text as the terminal shows it (UTF-8 on POSIX, the console's code page on Windows).
std::string AnsiToConsole(const std::string& text);
// A path of the core (or a message about one) with the separators this system shows: "\"
// becomes "/" on POSIX; unchanged on Windows.
std::string WithNativeSeparators(const std::string& text);

// File attributes: 0xFFFFFFFF when the path does not exist; 0x10 marks a folder.
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFF;
constexpr std::uint32_t kFolderAttribute = 0x10;
std::uint32_t FileAttributes(const std::string& path);

bool CreateFolder(const std::string& path);

// %VAR% expansion as the system does it (an unknown variable stays as written); false when
// the call fails.
bool ExpandEnvironmentVariables(const std::string& text, std::string& expanded);
// The absolute, normalised form of a path relative to the current directory.
bool FullPathName(const std::string& path, std::string& full_path);
std::string CurrentDirectory();
std::string SystemDirectory();
std::string WindowsDirectory();
// Reads a registry value's raw data (at most max_size bytes) from root 1 = current user,
// 2 = local machine, 3 = users. False when the key or value is missing or too large; always
// false where there is no registry.
bool ReadRegistryValue(int root, const std::string& key_path, const std::string& value_name,
                       std::size_t max_size, std::string& data);

// Opens a file or starts a program through the shell's "open" verb (ShellExecuteA, SW_SHOW);
// the shell's result, where 32 or less means failure. Without a shell it fails with 2.
int ShellOpen(const std::string& file, const std::string& parameters, const std::string& folder);

// Fills the buffer from the system's cryptographic random source; false when it has none.
bool RandomBytes(void* buffer, std::size_t count);

// Ends the process with the exit code; runs no handlers of the core.
[[noreturn]] void ExitProcess(std::uint32_t exit_code);

// A text in the terminal's encoding (a message, a native path) as UTF-8; what cannot be
// converted becomes U+FFFD.
std::string ConsoleTextToUtf8(const std::string& text);

// The selfx tool's additions; the stub never calls them.

// Keeps every file and folder created below root inside root: the folders below it are
// walked without following links (a link, or on Windows a reparse point, on one of them
// refuses the call), and CreateForWriting there writes under a temporary name. Such a file
// that is not ended by CloseOutput (the process exiting, or ended by SIGINT, SIGTERM, SIGHUP
// or a console event, in the middle of it) is removed, and a file of its name stays exactly
// as it was. Root itself may be reached through links: that is the user's choice.
void ConfineWritesTo(const std::string& root);
// Why the last failed call of this layer failed, in the system's words ("No space left on
// device"), or its own ("a folder of the path is a symbolic link"); empty when unknown.
std::string LastErrorText();
// Calls the observer with the byte count of every successful Write (a progress by bytes).
void ObserveWrites(void (*observer)(std::uint32_t bytes));
// What a path names, following links: nothing, a regular file, a folder or something else
// (a device, a FIFO, a socket), which must not be opened as a file.
enum class PathKind { kMissing, kFile, kFolder, kOther };
PathKind KindOfPath(const std::string& path);
// Whether there is a terminal to ask the user at (a prompt needs one).
bool TerminalAvailable();

}  // namespace selfx::platform
