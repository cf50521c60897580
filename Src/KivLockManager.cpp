#include "KivLockManager.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "AVCodecStubs.h"
#include "KivLoad.h"
#include "KivLog.h"
#include "MyUtils.h"

namespace kiv {

namespace {

// Only its owner can release an error-checking mutex: a release from another thread fails
// with EPERM instead of corrupting the lock.
class TOwnedMutex {
 public:
  TOwnedMutex() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
    // A robust mutex whose owner ended without releasing it can still be obtained.
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    FError = pthread_mutex_init(&FMutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
  }
  ~TOwnedMutex() {
    if (FError == 0) pthread_mutex_destroy(&FMutex);
  }
  TOwnedMutex(const TOwnedMutex&) = delete;
  TOwnedMutex& operator=(const TOwnedMutex&) = delete;
  int CreationError() const { return FError; }
  // An abandoned mutex counts as obtained: its state is made consistent for the new owner.
  int Obtain() {
    int error = pthread_mutex_lock(&FMutex);
    if (error == EOWNERDEAD) error = pthread_mutex_consistent(&FMutex);
    return error;
  }
  int Release() { return pthread_mutex_unlock(&FMutex); }

 private:
  pthread_mutex_t FMutex;
  int FError = 0;
};

struct TLockRecord {
  TOwnedMutex* Mutex = nullptr;
  TLockRecord* Next = nullptr;
};

// Process-wide and never destroyed: the codec library may call in while other modules shut
// down, and shutdown frees the records explicitly.
struct TLockState {
  std::mutex LockListGuard;
  TLockRecord* LockRecords = nullptr;
  std::atomic<bool> Finalizing{false};
};

TLockState& State() {
  static TLockState* state = new TLockState();
  return *state;
}

TLockRecord* GetLockRecord(void** ASlot) {
  TLockState& state = State();
  std::lock_guard<std::mutex> guard(state.LockListGuard);
  if (!*ASlot) {
    auto* record = new TLockRecord();
    record->Next = state.LockRecords;
    state.LockRecords = record;
    *ASlot = record;
  }
  return static_cast<TLockRecord*>(*ASlot);
}

void FreeLockRecord(TLockRecord* ARecord) {
  TLockState& state = State();
  std::lock_guard<std::mutex> guard(state.LockListGuard);
  for (TLockRecord** link = &state.LockRecords; *link; link = &(*link)->Next)
    if (*link == ARecord) {
      *link = ARecord->Next;
      break;
    }
  delete ARecord->Mutex;
  delete ARecord;
}

std::string SystemText(int AError) { return TrimSystemMessage(std::strerror(AError)); }

// The number a record shows in the log: its address.
unsigned long long Id(const TLockRecord* ARecord) {
  return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ARecord));
}

void LogLock(TLogLevel ALevel, const std::string& AText) {
  CurrentLogger().Log(nullptr, ALevel, AText);
}

int Fail(const std::string& AText) {
  LogLock(llError, AText);
  return -1;
}

int Run(void** ASlot, int AOperation) {
  TLockRecord* record = GetLockRecord(ASlot);
  switch (AOperation) {
    case AV_LOCK_CREATE: {
      if (record->Mutex) return Fail(Format("[lock manager] error, mutex [%llu] already exist.", Id(record)));
      auto* mutex = new TOwnedMutex();
      if (int error = mutex->CreationError()) {
        delete mutex;
        return Fail("[lock manager] error, failed to create mutex: " + SystemText(error) + ".");
      }
      record->Mutex = mutex;
      LogLock(llDebug, Format("[lock manager] mutex [%llu] created.", Id(record)));
      return 0;
    }
    case AV_LOCK_OBTAIN: {
      if (!record->Mutex) return Fail("[lock manager] error, mutex not available.");
      if (int error = record->Mutex->Obtain())
        return Fail(Format("[lock manager] error, could not wait on mutex [%llu]: %s.", Id(record),
                           SystemText(error).c_str()));
      LogLock(llDebug, Format("[lock manager] mutex [%llu] obtained.", Id(record)));
      return 0;
    }
    case AV_LOCK_RELEASE: {
      if (!record->Mutex) return Fail("[lock manager] error, mutex not available.");
      if (int error = record->Mutex->Release())
        return Fail(Format("[lock manager] error, could not release mutex [%llu]: %s.", Id(record),
                           SystemText(error).c_str()));
      LogLock(llDebug, Format("[lock manager] mutex [%llu] release.", Id(record)));
      return 0;
    }
    case AV_LOCK_DESTROY: {
      if (!record->Mutex) {
        FreeLockRecord(record);
        return Fail("[lock manager] error, mutex not available.");
      }
      LogLock(llDebug, Format("[lock manager] mutex [%llu] destroyed.", Id(record)));
      delete record->Mutex;
      record->Mutex = nullptr;
      FreeLockRecord(record);
      return 0;
    }
    default:
      return Fail(Format("[lock manager] error, invalid mutex operation %d.", AOperation));
  }
}

void RegisterWithCodecLibrary(bool AInstall) {
  if (!av::av_lockmgr_register) return;  // newer builds lock internally
  av::av_lockmgr_register(nullptr);
  if (AInstall) av::av_lockmgr_register(LockManagerCallback);
}

// The loader registers the lock manager after avcodec loads and withdraws it before avcodec
// unloads; shutdown silences it first and frees what is left last.
[[maybe_unused]] const bool Hooked = [] {
  TLoaderHooks& hooks = LoaderHooks();
  hooks.CodecLoaded = [] { RegisterWithCodecLibrary(true); };
  hooks.CodecUnloading = [] { RegisterWithCodecLibrary(false); };
  hooks.ShutdownBegins = [] { SetLockManagerFinalizing(true); };
  hooks.ShutdownEnds = [] { FreeAllLockRecords(); };
  return true;
}();

}  // namespace

int LockManagerCallback(void** AMutex, int AOperation) {
  if (State().Finalizing) return 0;
  // Called from the codec library's C frames: nothing may unwind through them.
  try {
    return Run(AMutex, AOperation);
  } catch (...) {
    return -1;
  }
}

void SetLockManagerFinalizing(bool AValue) { State().Finalizing = AValue; }
bool LockManagerFinalizing() { return State().Finalizing; }

void FreeAllLockRecords() {
  TLockState& state = State();
  while (TLockRecord* record = state.LockRecords) {
    state.LockRecords = record->Next;
    delete record->Mutex;
    delete record;
  }
}

size_t LockRecordCount() {
  TLockState& state = State();
  std::lock_guard<std::mutex> guard(state.LockListGuard);
  size_t count = 0;
  for (TLockRecord* r = state.LockRecords; r; r = r->Next) ++count;
  return count;
}

}  // namespace kiv
