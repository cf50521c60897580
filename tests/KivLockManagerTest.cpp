#include "KivLockManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "AVCodecStubs.h"
#include "KivLoad.h"
#include "KivLog.h"
#include "LogCapture.h"
#include "MyUtils.h"

using namespace kiv;
using kivtest::LogCapture;

namespace {

std::string Id(void* ASlot) {
  return std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ASlot)));
}

class LockManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetLockManagerFinalizing(false);
    FreeAllLockRecords();
  }
  LogCapture Log{llTrace};
};

TEST_F(LockManagerTest, ALockLivesFromCreateToDestroy) {
  void* slot = nullptr;
  ASSERT_EQ(LockManagerCallback(&slot, AV_LOCK_CREATE), 0);
  ASSERT_NE(slot, nullptr);
  const std::string id = Id(slot);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_OBTAIN), 0);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_RELEASE), 0);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_CREATE), -1);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_DESTROY), 0);
  EXPECT_EQ(LockRecordCount(), 0u);

  struct Line {
    TLogLevel level;
    std::string text;
  } expected[] = {
      {llDebug, "[lock manager] mutex [" + id + "] created."},
      {llDebug, "[lock manager] mutex [" + id + "] obtained."},
      {llDebug, "[lock manager] mutex [" + id + "] release."},
      {llError, "[lock manager] error, mutex [" + id + "] already exist."},
      {llDebug, "[lock manager] mutex [" + id + "] destroyed."},
  };
  auto entries = Log.Entries();
  ASSERT_EQ(entries.size(), std::size(expected));
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].Level, expected[i].level) << i;
    EXPECT_EQ(entries[i].Text, expected[i].text) << i;
    EXPECT_EQ(entries[i].Sender, nullptr);
  }
}

TEST_F(LockManagerTest, OperationsWithoutAMutexFail) {
  struct Case {
    int operation;
    size_t recordsAfter;  // a failed obtain or release keeps its record; destroy frees it
    std::string message;
  } cases[] = {
      {AV_LOCK_OBTAIN, 1, "[lock manager] error, mutex not available."},
      {AV_LOCK_RELEASE, 1, "[lock manager] error, mutex not available."},
      {AV_LOCK_DESTROY, 0, "[lock manager] error, mutex not available."},
      {4, 1, "[lock manager] error, invalid mutex operation 4."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    FreeAllLockRecords();
    Log.Clear();
    void* slot = nullptr;
    EXPECT_EQ(LockManagerCallback(&slot, c.operation), -1);
    EXPECT_EQ(LockRecordCount(), c.recordsAfter);
    EXPECT_EQ(Log.Count(llError, c.message), 1);
  }
}

TEST_F(LockManagerTest, OnlyTheOwnerReleases) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer stops at the very misuse this test makes on purpose.
  GTEST_SKIP() << "a release by another thread is what ThreadSanitizer reports";
#endif
  void* slot = nullptr;
  ASSERT_EQ(LockManagerCallback(&slot, AV_LOCK_CREATE), 0);
  ASSERT_EQ(LockManagerCallback(&slot, AV_LOCK_OBTAIN), 0);
  int fromOther = 0;
  std::thread([&] { fromOther = LockManagerCallback(&slot, AV_LOCK_RELEASE); }).join();
  EXPECT_EQ(fromOther, -1);
  EXPECT_EQ(Log.Count(llError, "[lock manager] error, could not release mutex [" + Id(slot) +
                                   "]: " + TrimSystemMessage(std::strerror(EPERM)) + "."),
            1);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_RELEASE), 0);  // still held by its owner
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_DESTROY), 0);
}

TEST_F(LockManagerTest, AnAbandonedMutexCountsAsObtained) {
  void* slot = nullptr;
  ASSERT_EQ(LockManagerCallback(&slot, AV_LOCK_CREATE), 0);
  std::thread([&] { EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_OBTAIN), 0); }).join();
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_OBTAIN), 0);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_RELEASE), 0);
  EXPECT_EQ(LockManagerCallback(&slot, AV_LOCK_DESTROY), 0);
}

TEST_F(LockManagerTest, TheMutexExcludes) {
  void* slot = nullptr;
  ASSERT_EQ(LockManagerCallback(&slot, AV_LOCK_CREATE), 0);
  CurrentLogger().SetOnLog(nullptr);  // keep the hot loop quiet
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      LockManagerCallback(&slot, AV_LOCK_OBTAIN);
      int seen = counter;
      counter = seen + 1;
      LockManagerCallback(&slot, AV_LOCK_RELEASE);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 4000);
  LockManagerCallback(&slot, AV_LOCK_DESTROY);
}

TEST_F(LockManagerTest, WhileFinalizingNothingHappens) {
  SetLockManagerFinalizing(true);
  for (int operation : {0, 1, 2, 3, 9}) {
    void* slot = nullptr;
    EXPECT_EQ(LockManagerCallback(&slot, operation), 0);
    EXPECT_EQ(slot, nullptr);
  }
  EXPECT_EQ(LockRecordCount(), 0u);
  EXPECT_TRUE(Log.Entries().empty());
}

TEST_F(LockManagerTest, ShutdownFreesWhatIsLeft) {
  void* first = nullptr;
  void* second = nullptr;
  LockManagerCallback(&first, AV_LOCK_CREATE);
  LockManagerCallback(&second, AV_LOCK_OBTAIN);  // fails, but leaves a record
  EXPECT_EQ(LockRecordCount(), 2u);
  FreeAllLockRecords();
  EXPECT_EQ(LockRecordCount(), 0u);
}

// A codec library of the older kind: registering a callback makes it create its two locks,
// registering none destroys them.
void* CodecSlots[2];
int FakeRegister(av::TLockManagerCallback ACallback) {
  static av::TLockManagerCallback current = nullptr;
  if (current)
    for (void*& slot : CodecSlots) {
      current(&slot, AV_LOCK_DESTROY);
      slot = nullptr;  // the library forgets a destroyed lock
    }
  current = ACallback;
  if (current)
    for (void*& slot : CodecSlots) current(&slot, AV_LOCK_CREATE);
  return 0;
}

TEST_F(LockManagerTest, LoadingTheCodecLibraryRegistersAndUnloadingWithdraws) {
  av::av_lockmgr_register = FakeRegister;
  LoaderHooks().CodecLoaded();
  ASSERT_NE(CodecSlots[0], nullptr);
  const std::string first = Id(CodecSlots[0]), second = Id(CodecSlots[1]);
  LoaderHooks().CodecUnloading();
  LoaderHooks().CodecLoaded();  // registered anew
  LoaderHooks().CodecLoaded();  // loading again: withdrawn, then registered anew
  LoaderHooks().CodecUnloading();
  av::av_lockmgr_register = nullptr;
  EXPECT_EQ(LockRecordCount(), 0u);
  EXPECT_GE(Log.Count(llDebug, "[lock manager] mutex [" + first + "] created."), 1);
  EXPECT_GE(Log.Count(llDebug, "[lock manager] mutex [" + second + "] destroyed."), 1);
  int created = 0, destroyed = 0;
  for (const auto& e : Log.Entries()) {
    created += e.Text.find("] created.") != std::string::npos;
    destroyed += e.Text.find("] destroyed.") != std::string::npos;
  }
  EXPECT_EQ(created, 6);
  EXPECT_EQ(destroyed, 6);
}

}  // namespace
