// Pool accounting and the timing model: the clock only moves through
// Stall, CheckEvent polling and explicit advances, and timers fire on the
// first tick at or after their due time.
#include <gtest/gtest.h>

#include "sim/firmware/firmware.h"

namespace {

TEST(Pool, FillAccountingAndBadFrees) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES* bs = fw.BootServices();
  void* block = nullptr;
  ASSERT_EQ(EFI_SUCCESS, bs->AllocatePool(EfiBootServicesData, 64, &block));
  const auto* bytes = static_cast<const uint8_t*>(block);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(0xAF, bytes[i]) << i;
  void* mine = fw.Allocate(16);
  EXPECT_EQ(1u, fw.OutstandingBlocks(sim::Site::kDriver));
  EXPECT_EQ(64u, fw.OutstandingBytes(sim::Site::kDriver));
  EXPECT_EQ(1u, fw.OutstandingBlocks(sim::Site::kTest));
  EXPECT_EQ(1u, fw.Leaks(nullptr, nullptr).pool_blocks);

  EXPECT_EQ(EFI_SUCCESS, bs->FreePool(block));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs->FreePool(block));
  EXPECT_EQ(1u, fw.FaultCount(sim::FaultKind::kDoubleFree));
  int local = 0;
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs->FreePool(&local));
  EXPECT_EQ(1u, fw.FaultCount(sim::FaultKind::kForeignFree));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs->FreePool(nullptr));
  EXPECT_EQ(0u, fw.OutstandingBlocks(sim::Site::kDriver));

  EXPECT_EQ(EFI_INVALID_PARAMETER, bs->AllocatePool(EfiMaxMemoryType, 8, &block));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs->AllocatePool(EfiBootServicesData, 8, nullptr));
  fw.FreePool(mine);
}

class Timers : public ::testing::Test {
 protected:
  Timers() : bs_(fw_.BootServices()) {
    EXPECT_EQ(EFI_SUCCESS, bs_->CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &event_));
  }
  // Polls like the driver's delay routine; returns the polls that failed.
  int Poll() {
    int misses = 0;
    while (bs_->CheckEvent(event_) == EFI_NOT_READY) ++misses;
    return misses;
  }
  sim::Firmware fw_;
  EFI_BOOT_SERVICES* bs_;
  EFI_EVENT event_ = nullptr;
};

TEST_F(Timers, RelativeWaitsEndOnTheNextTick) {
  fw_.AdvanceUs(3000);  // somewhere inside a tick period
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerRelative, 10));  // 1 us
  EXPECT_EQ(1, Poll());
  EXPECT_EQ(10000u, fw_.NowUs());

  // Back to back after a tick, a 1 us wait costs a whole period.
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerRelative, 10));
  EXPECT_EQ(1, Poll());
  EXPECT_EQ(20000u, fw_.NowUs());

  // 25 ms: due at 45 ms, signalled by the tick at 50 ms.
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerRelative, 250000));
  EXPECT_EQ(3, Poll());
  EXPECT_EQ(50000u, fw_.NowUs());
}

TEST_F(Timers, ZeroFiresAtOnceAndStallIsExact) {
  fw_.AdvanceUs(1234);
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerRelative, 0));
  EXPECT_EQ(EFI_SUCCESS, bs_->CheckEvent(event_));
  EXPECT_EQ(1234u, fw_.NowUs());
  EXPECT_EQ(EFI_NOT_READY, bs_->CheckEvent(event_));  // the signal was consumed

  uint64_t before = fw_.NowUs();
  EXPECT_EQ(EFI_SUCCESS, bs_->Stall(5));
  EXPECT_EQ(before + 5, fw_.NowUs());

  // A timer falls due during a stall: the tick inside it signals it.
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerRelative, 20000));  // 2 ms
  EXPECT_EQ(EFI_SUCCESS, bs_->Stall(30000));
  EXPECT_EQ(EFI_SUCCESS, bs_->CheckEvent(event_));
}

TEST_F(Timers, PeriodicCancelAndConfigurableTick) {
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerPeriodic, 200000));  // 20 ms
  fw_.AdvanceUs(20000);
  EXPECT_EQ(EFI_SUCCESS, bs_->CheckEvent(event_));
  fw_.AdvanceUs(20000);
  EXPECT_EQ(EFI_SUCCESS, bs_->CheckEvent(event_));
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerCancel, 0));
  fw_.AdvanceUs(100000);
  EXPECT_FALSE(fw_.IsSignalled(event_));

  fw_.SetTickUs(1000);
  uint64_t start = fw_.NowUs();
  ASSERT_EQ(EFI_SUCCESS, bs_->SetTimer(event_, TimerRelative, 10));
  Poll();
  EXPECT_EQ(start + 1000, fw_.NowUs());
}

TEST_F(Timers, UnknownEventsAreRefusedAndRecorded) {
  ASSERT_EQ(EFI_SUCCESS, bs_->CloseEvent(event_));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->CloseEvent(event_));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->CheckEvent(event_));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->SetTimer(event_, TimerRelative, 1));
  int local;
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->CloseEvent(&local));
  EXPECT_EQ(4u, fw_.FaultCount(sim::FaultKind::kBadEvent));
  EXPECT_EQ(0u, fw_.OpenEvents(sim::Site::kDriver));

  EFI_EVENT e;
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, &e));
  EXPECT_EQ(EFI_INVALID_PARAMETER, bs_->CreateEvent(EVT_TIMER, 0, nullptr, nullptr, nullptr));
  ASSERT_EQ(EFI_SUCCESS, bs_->CreateEvent(EVT_TIMER, 0, nullptr, nullptr, &e));
  EXPECT_EQ(1u, fw_.Leaks(nullptr, nullptr).events);
}

int g_notified = 0;
EFI_TPL g_notify_tpl = 0;
VOID EFIAPI CountNotify(EFI_EVENT, VOID*) {
  ++g_notified;
  g_notify_tpl = sim::Firmware::Current().CurrentTpl();
}

TEST(Tpl, NotificationsWaitForTheLevelAndBadNestingIsRecorded) {
  sim::Firmware fw;
  EFI_BOOT_SERVICES* bs = fw.BootServices();
  g_notified = 0;
  EFI_EVENT e;
  ASSERT_EQ(EFI_SUCCESS, bs->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, CountNotify, nullptr, &e));
  ASSERT_EQ(EFI_SUCCESS, bs->SetTimer(e, TimerRelative, 10));
  EFI_TPL old = bs->RaiseTPL(TPL_NOTIFY);
  EXPECT_EQ(static_cast<EFI_TPL>(TPL_APPLICATION), old);
  fw.AdvanceUs(10000);
  EXPECT_EQ(0, g_notified);
  bs->RestoreTPL(old);
  EXPECT_EQ(1, g_notified);
  EXPECT_EQ(static_cast<EFI_TPL>(TPL_CALLBACK), g_notify_tpl);
  EXPECT_TRUE(fw.faults().empty()) << fw.DescribeFaults();

  old = bs->RaiseTPL(TPL_NOTIFY);
  bs->RaiseTPL(TPL_CALLBACK);  // below the current level
  EXPECT_EQ(1u, fw.FaultCount(sim::FaultKind::kTplRaiseBelow));
  bs->RestoreTPL(TPL_HIGH_LEVEL);  // above the current level
  EXPECT_EQ(1u, fw.FaultCount(sim::FaultKind::kTplRestoreAbove));
  bs->RestoreTPL(old);
  EXPECT_EQ(static_cast<EFI_TPL>(TPL_APPLICATION), fw.CurrentTpl());
}

}  // namespace
