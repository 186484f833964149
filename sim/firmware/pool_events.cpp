// Pool with accounting, the virtual clock with its periodic tick, task
// priority levels, and events and timers.
#include <cstdlib>
#include <cstring>

#include "sim/firmware/firmware.h"

namespace sim {

namespace {

constexpr uint64_t kEventMagic = 0x544E45564D4953ULL;  // "SIMEVNT"
constexpr uint8_t kFreedFill = 0xDF;
constexpr uint64_t kWaitTickLimit = 1000000;  // ~3 hours of virtual time at 10 ms

std::string Hex(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

}  // namespace

// ---- Pool -------------------------------------------------------------------

EFI_STATUS Firmware::AllocatePool(EFI_MEMORY_TYPE type, size_t size, void** buffer, Site site) {
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  // OEM (0x70000000..) and OS (0x80000000..) types are legal as well.
  if (static_cast<uint32_t>(type) >= EfiMaxMemoryType && static_cast<uint32_t>(type) < 0x70000000U) {
    return EFI_INVALID_PARAMETER;
  }
  if (type == EfiConventionalMemory || type == EfiPersistentMemory) return EFI_INVALID_PARAMETER;
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) return EFI_OUT_OF_RESOURCES;
  std::memset(p, pool_fill_, size);
  freed_.erase(p);
  blocks_[p] = Block{size, type, site};
  *buffer = p;
  return EFI_SUCCESS;
}

// Blocks are really freed so that AddressSanitizer catches later use; the
// address is remembered to tell a double free from a foreign pointer.
EFI_STATUS Firmware::FreePool(void* buffer, const char* service) {
  if (buffer == nullptr) return EFI_INVALID_PARAMETER;
  auto it = blocks_.find(buffer);
  if (it == blocks_.end()) {
    bool twice = freed_.count(buffer) != 0;
    RecordFault(twice ? FaultKind::kDoubleFree : FaultKind::kForeignFree, service, Hex(buffer));
    return EFI_INVALID_PARAMETER;
  }
  std::memset(buffer, kFreedFill, it->second.size);
  freed_[buffer] = it->second;
  blocks_.erase(it);
  std::free(buffer);
  return EFI_SUCCESS;
}

bool Firmware::IsLiveBlock(const void* p) const { return blocks_.count(p) != 0; }

size_t Firmware::OutstandingBlocks(Site site) const {
  size_t n = 0;
  for (const auto& b : blocks_) n += b.second.site == site;
  return n;
}

size_t Firmware::OutstandingBytes(Site site) const {
  size_t n = 0;
  for (const auto& b : blocks_) {
    if (b.second.site == site) n += b.second.size;
  }
  return n;
}

EFI_MEMORY_TYPE Firmware::BlockType(const void* p) const {
  auto it = blocks_.find(p);
  return it == blocks_.end() ? EfiMaxMemoryType : it->second.type;
}

// ---- Clock -------------------------------------------------------------------

void Firmware::SetTickUs(uint32_t tick_us) { tick_us_ = tick_us == 0 ? 1 : tick_us; }

// Ticks fall on whole multiples of the period since power-on.
uint64_t Firmware::NextTickNs() const {
  uint64_t period = static_cast<uint64_t>(tick_us_) * 1000;
  return (now_ns_ / period + 1) * period;
}

void Firmware::AdvanceNs(uint64_t ns) {
  uint64_t end = now_ns_ + ns;
  for (;;) {
    uint64_t tick = NextTickNs();
    if (tick > end) break;
    now_ns_ = tick;
    DeliverTick(tick);
  }
  now_ns_ = end;
}

void Firmware::DeliverTick(uint64_t tick_ns) {
  ++ticks_;
  for (const auto& e : events_) {
    if (!e->alive || !e->armed || e->due_ns > tick_ns) continue;
    if (e->period_ns != 0) {
      e->due_ns += e->period_ns;
      if (e->due_ns <= tick_ns) e->due_ns = tick_ns + e->period_ns;
    } else {
      e->armed = false;
    }
    Signal(e.get());
  }
  DispatchNotifies(tpl_);
}

// ---- Task priority -------------------------------------------------------------

EFI_TPL Firmware::RaiseTpl(EFI_TPL tpl) {
  EFI_TPL old = tpl_;
  if (tpl > TPL_HIGH_LEVEL) {
    RecordFault(FaultKind::kTplOutOfRange, "RaiseTPL", std::to_string(tpl));
  } else if (tpl < old) {
    RecordFault(FaultKind::kTplRaiseBelow, "RaiseTPL", std::to_string(tpl) + " below " + std::to_string(old));
  }
  tpl_ = tpl;
  return old;
}

void Firmware::RestoreTpl(EFI_TPL tpl) {
  if (tpl > TPL_HIGH_LEVEL) {
    RecordFault(FaultKind::kTplOutOfRange, "RestoreTPL", std::to_string(tpl));
  } else if (tpl > tpl_) {
    RecordFault(FaultKind::kTplRestoreAbove, "RestoreTPL",
                std::to_string(tpl) + " above " + std::to_string(tpl_));
  }
  tpl_ = tpl;
  DispatchNotifies(tpl_);
}

// ---- Events ----------------------------------------------------------------------

Firmware::EventRecord* Firmware::EventFor(EFI_EVENT event, const char* service) {
  EventRecord* e = FindEvent(event);
  if (e == nullptr) RecordFault(FaultKind::kBadEvent, service, Hex(event));
  return e;
}

bool Firmware::IsLiveEvent(EFI_EVENT event) const { return FindEvent(event) != nullptr; }

bool Firmware::IsSignalled(EFI_EVENT event) const {
  EventRecord* e = FindEvent(event);
  return e != nullptr && e->signalled;
}

size_t Firmware::OpenEvents(Site site) const {
  size_t n = 0;
  for (const auto& e : events_) n += e->alive && e->site == site;
  return n;
}

EFI_STATUS Firmware::CreateEvent(uint32_t type, EFI_TPL notify_tpl, EFI_EVENT_NOTIFY notify, void* context,
                                 EFI_EVENT* event, Site site) {
  if (event == nullptr) return EFI_INVALID_PARAMETER;
  const uint32_t known = EVT_TIMER | EVT_RUNTIME | EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL |
                         EVT_SIGNAL_EXIT_BOOT_SERVICES | EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE;
  if ((type & ~known) != 0) return EFI_INVALID_PARAMETER;
  bool wait = (type & EVT_NOTIFY_WAIT) != 0;
  bool signal = (type & EVT_NOTIFY_SIGNAL) != 0;
  if (wait && signal) return EFI_INVALID_PARAMETER;
  if (wait || signal) {
    if (notify == nullptr) return EFI_INVALID_PARAMETER;
    if (notify_tpl != TPL_APPLICATION && notify_tpl != TPL_CALLBACK && notify_tpl != TPL_NOTIFY) {
      return EFI_INVALID_PARAMETER;
    }
  }
  auto e = std::make_unique<EventRecord>();
  e->magic = kEventMagic;
  e->alive = true;
  e->type = type;
  e->notify_tpl = notify_tpl;
  e->notify = (wait || signal) ? notify : nullptr;
  e->context = context;
  e->site = site;
  e->signalled = false;
  e->notify_pending = false;
  e->armed = false;
  e->due_ns = 0;
  e->period_ns = 0;
  events_.push_back(std::move(e));
  *event = events_.back().get();
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::SetTimer(EFI_EVENT event, EFI_TIMER_DELAY type, uint64_t trigger_100ns) {
  EventRecord* e = EventFor(event, "SetTimer");
  if (e == nullptr) return EFI_INVALID_PARAMETER;
  if ((e->type & EVT_TIMER) == 0) return EFI_INVALID_PARAMETER;
  if (type != TimerCancel && type != TimerPeriodic && type != TimerRelative) return EFI_INVALID_PARAMETER;
  e->armed = false;
  if (type == TimerCancel) return EFI_SUCCESS;
  uint64_t ns = trigger_100ns * 100;
  if (type == TimerPeriodic && ns == 0) ns = static_cast<uint64_t>(tick_us_) * 1000;
  e->period_ns = type == TimerPeriodic ? ns : 0;
  if (ns == 0) {
    // A relative 0 is signalled at once, as OVMF does.
    Signal(e);
    DispatchNotifies(tpl_);
    return EFI_SUCCESS;
  }
  e->armed = true;
  e->due_ns = now_ns_ + ns;
  return EFI_SUCCESS;
}

void Firmware::Signal(EventRecord* e) {
  if (e->signalled) return;
  e->signalled = true;
  if ((e->type & EVT_NOTIFY_SIGNAL) != 0) e->notify_pending = true;
}

// Runs pending notification functions of a level above `above`, highest
// level first, each at its own level. A signal-type event is unsignalled as
// its notification is queued (the firmware does the same).
void Firmware::DispatchNotifies(EFI_TPL above) {
  if (dispatching_) return;
  dispatching_ = true;
  for (EFI_TPL level : {TPL_NOTIFY, TPL_CALLBACK}) {
    if (level <= above) continue;
    for (size_t i = 0; i < events_.size(); ++i) {
      EventRecord* e = events_[i].get();
      if (!e->alive || !e->notify_pending || e->notify_tpl != level) continue;
      e->notify_pending = false;
      if ((e->type & EVT_NOTIFY_SIGNAL) != 0) e->signalled = false;
      EFI_TPL saved = tpl_;
      tpl_ = level;
      e->notify(e, e->context);
      tpl_ = saved;
    }
  }
  dispatching_ = false;
}

EFI_STATUS Firmware::SignalEvent(EFI_EVENT event) {
  EventRecord* e = EventFor(event, "SignalEvent");
  if (e == nullptr) return EFI_INVALID_PARAMETER;
  Signal(e);
  DispatchNotifies(tpl_);
  return EFI_SUCCESS;
}

// While unsignalled, each call lets the clock run to the next tick: a poll
// loop costs what it costs on the real firmware and always comes to an end.
EFI_STATUS Firmware::CheckEvent(EFI_EVENT event) {
  EventRecord* e = EventFor(event, "CheckEvent");
  if (e == nullptr) return EFI_INVALID_PARAMETER;
  if ((e->type & EVT_NOTIFY_SIGNAL) != 0) return EFI_INVALID_PARAMETER;
  if (TakeSignal(e)) return EFI_SUCCESS;
  AdvanceNs(NextTickNs() - now_ns_);
  return EFI_NOT_READY;
}

bool Firmware::TakeSignal(EventRecord* e) {
  if (!e->signalled && (e->type & EVT_NOTIFY_WAIT) != 0 && e->notify != nullptr) {
    e->notify_pending = true;
    DispatchNotifies(tpl_);
  }
  if (!e->signalled) return false;
  e->signalled = false;
  return true;
}

EFI_STATUS Firmware::CloseEvent(EFI_EVENT event) {
  EventRecord* e = EventFor(event, "CloseEvent");
  if (e == nullptr) return EFI_INVALID_PARAMETER;
  e->alive = false;
  e->armed = false;
  e->notify_pending = false;
  return EFI_SUCCESS;
}

EFI_STATUS Firmware::WaitForEvent(size_t count, EFI_EVENT* events, size_t* index) {
  if (count == 0 || events == nullptr || index == nullptr) return EFI_INVALID_PARAMETER;
  if (tpl_ != TPL_APPLICATION) return EFI_UNSUPPORTED;
  for (uint64_t spin = 0; spin < kWaitTickLimit; ++spin) {
    for (size_t i = 0; i < count; ++i) {
      EventRecord* e = EventFor(events[i], "WaitForEvent");
      if (e == nullptr) {
        *index = i;
        return EFI_INVALID_PARAMETER;
      }
      if ((e->type & EVT_NOTIFY_SIGNAL) != 0) {
        *index = i;
        return EFI_INVALID_PARAMETER;
      }
      if (TakeSignal(e)) {
        *index = i;
        return EFI_SUCCESS;
      }
    }
    AdvanceNs(NextTickNs() - now_ns_);
  }
  RecordFault(FaultKind::kWaitWithoutEnd, "WaitForEvent", std::to_string(count) + " events");
  return EFI_DEVICE_ERROR;
}

}  // namespace sim
