// POSIX side of the temporary files of platform/pending_file.h: a small fixed registry that
// a signal handler can walk without a lock or an allocation.

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/pending_file.h"
#include "platform/posix_paths.h"

namespace selfx::platform {

namespace {

enum SlotState : int { kFree, kTaken, kArmed };

// One registered temporary file. A signal handler reads folder and temporary_name of an armed
// slot, so both are set before the slot is armed and change only after it is free again.
struct PendingSlot {
  std::atomic<int> state{kFree};
  int folder = -1;  // the open folder the file lies in
  char temporary_name[32] = {};
  FileHandle handle = kNoFile;
  std::string final_name;   // in that folder
  std::string folder_path;  // the folder as given to CreatePendingBeside, for PendingPath
};
static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");

// The tool writes one extracted file at a time, and a build one archive (which its test
// extraction reads, writing nothing): a few slots are plenty.
constexpr int kSlots = 4;
PendingSlot slots[kSlots];

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the cleanup signals in this thread while a file is created and armed, so that none
// falls between the two.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kCleanupSignals) sigaddset(&blocked, signal_number);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~CleanupSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

void InstallCleanup() {
  static const bool installed = [] {
    std::atexit(&DiscardAllPending);
    RemovePendingOnSignals();
    return true;
  }();
  static_cast<void>(installed);
}

// Frees the slot; its folder is closed after the slot no longer names it.
void Release(PendingSlot& slot) {
  int folder = slot.folder;
  slot.handle = kNoFile;
  slot.state.store(kFree);
  ::close(folder);
}

}  // namespace

void RemovePendingAndEnd(int signal_number) {
  // Only async-signal-safe calls here.
  for (PendingSlot& slot : slots) {
    if (slot.state.load() == kArmed) ::unlinkat(slot.folder, slot.temporary_name, 0);
  }
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);  // delivered when this handler returns
}

void RemovePendingOnSignals() {
  for (int signal_number : kCleanupSignals) {
    struct sigaction current = {};
    ::sigaction(signal_number, nullptr, &current);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action = {};
    action.sa_handler = &RemovePendingAndEnd;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

PendingId CreatePendingIn(int folder, const std::string& final_name, FileHandle& handle) {
  InstallCleanup();
  PendingId id = 0;
  for (int free = kFree; id < kSlots; ++id, free = kFree) {
    if (slots[id].state.compare_exchange_strong(free, kTaken)) break;
  }
  if (id == kSlots) {
    ::close(folder);
    NoteFailure(EMFILE, "too many files are being written at once");
    return kNoPending;
  }
  PendingSlot& slot = slots[id];
  slot.folder = folder;
  slot.final_name = final_name;
  slot.folder_path.clear();
  // The name cannot be guessed, and O_EXCL with O_NOFOLLOW creates a new file or nothing.
  int descriptor = -1;
  int error = EIO;
  const char* reason = "the system gave no random bytes for a temporary name";
  {
    CleanupSignalsBlocked blocked;
    for (int attempt = 0; attempt < 8; ++attempt) {
      unsigned char random[8];
      if (!RandomBytes(random, sizeof random)) break;
      std::snprintf(slot.temporary_name, sizeof slot.temporary_name,
                    ".selfx-%02x%02x%02x%02x%02x%02x%02x%02x%s", random[0], random[1], random[2],
                    random[3], random[4], random[5], random[6], random[7], kPendingSuffix);
      descriptor = ::openat(folder, slot.temporary_name,
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      error = errno;
      reason = nullptr;
      if (descriptor >= 0 || error != EEXIST) break;
    }
    if (descriptor >= 0) {
      slot.handle = descriptor;
      slot.state.store(kArmed);
    }
  }
  if (descriptor < 0) {
    Release(slot);
    NoteFailure(error, reason);
    return kNoPending;
  }
  handle = descriptor;
  return id;
}

PendingId CreatePendingBeside(const std::string& final_path, FileHandle& handle) {
  std::string::size_type slash = final_path.find_last_of('/');
  std::string folder_path = slash == std::string::npos ? std::string()
                            : slash == 0               ? std::string("/")
                                                       : final_path.substr(0, slash);
  std::string name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
  if (name.empty()) {
    NoteFailure(EISDIR);
    return kNoPending;
  }
  int folder = ::open(folder_path.empty() ? "." : folder_path.c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    NoteFailure(errno);
    return kNoPending;
  }
  PendingId id = CreatePendingIn(folder, name, handle);
  if (id != kNoPending) slots[id].folder_path = folder_path;
  return id;
}

PendingId PendingOfHandle(FileHandle handle) {
  for (PendingId id = 0; id < kSlots; ++id) {
    if (slots[id].state.load() == kArmed && slots[id].handle == handle) return id;
  }
  return kNoPending;
}

void ForgetPendingHandle(PendingId id) { slots[id].handle = kNoFile; }

std::string PendingPath(PendingId id) {
  const PendingSlot& slot = slots[id];
  if (slot.folder_path.empty()) return slot.temporary_name;
  return slot.folder_path + (slot.folder_path.back() == '/' ? "" : "/") + slot.temporary_name;
}

bool CommitPending(PendingId id, Placement placement) {
  PendingSlot& slot = slots[id];
  const char* name = slot.temporary_name;
  const char* final_name = slot.final_name.c_str();
  bool moved;
  bool linked = false;
  if (placement == Placement::kReplace) {
    moved = ::renameat(slot.folder, name, slot.folder, final_name) == 0;
  } else {
    moved = ::renameat2(slot.folder, name, slot.folder, final_name, RENAME_NOREPLACE) == 0;
    if (!moved && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the move that keeps a name: a new link is made only where the
      // name is free too.
      linked = moved = ::linkat(slot.folder, name, slot.folder, final_name, 0) == 0;
    }
  }
  int error = errno;
  bool name_taken = !moved && placement == Placement::kOnlyIfNew && error == EEXIST;
  if (!moved || linked) ::unlinkat(slot.folder, name, 0);
  if (!moved && !name_taken) NoteFailure(error);
  Release(slot);
  return moved || name_taken;
}

void DiscardPending(PendingId id) {
  ::unlinkat(slots[id].folder, slots[id].temporary_name, 0);
  Release(slots[id]);
}

void DiscardAllPending() {
  // The registrations stay: their owners still end them (which then finds nothing to move)
  // if the process goes on after all, as under a test's exit hook.
  for (PendingSlot& slot : slots) {
    if (slot.state.load() == kArmed) ::unlinkat(slot.folder, slot.temporary_name, 0);
  }
}

}  // namespace selfx::platform
