// The codec lock manager: operating-system mutexes created, obtained, released and destroyed
// on the codec library's behalf, for library builds that ask their program for locks.
#pragma once

#include <cstddef>

namespace kiv {

// The operations of the codec library's lock manager callback.
enum TLockOperation : int {
  AV_LOCK_CREATE = 0,
  AV_LOCK_OBTAIN = 1,
  AV_LOCK_RELEASE = 2,
  AV_LOCK_DESTROY = 3,
};

// The callback: AMutex is the library's slot for one lock. 0 on success, -1 on failure.
int LockManagerCallback(void** AMutex, int AOperation);

// From the start of shutdown on, the callback does nothing and reports success.
void SetLockManagerFinalizing(bool AValue);
bool LockManagerFinalizing();

// Frees every lock record still held (at shutdown, after the libraries are unloaded).
void FreeAllLockRecords();

// How many lock records exist (for diagnostics).
size_t LockRecordCount();

}  // namespace kiv
