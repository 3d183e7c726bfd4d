// The bounded queue between the log's producer (the callers' thread) and
// its writer thread: 1000 slots, of which at most 999 hold lines, since the
// queue is empty when head equals tail.
//
// The queue lock guards only head and tail: the producer fills slots from
// head on and publishes the new head; the consumer empties the slots from
// tail up to the head it read and then publishes the new tail. Nothing is
// ever overwritten: the producer waits for space instead.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <vector>

#include "log/log_lock.h"

namespace quillmarsh::log {

class LogQueue {
 public:
  static constexpr uint32_t kSlots = 1000;

  struct Pushed {
    // The free slots as the producer now sees them.
    uint32_t free_slots;
    // The queue held nothing before: the consumer may be idle and needs a
    // signal. Otherwise it will find the line when it next looks.
    bool was_empty;
  };
  // Producer, one at a time: stores `line` in the next slot and publishes
  // it.
  Pushed Push(std::u16string line);
  // Producer: waits until the consumer frees slots or `timeout` passes;
  // returns the free slots.
  uint32_t WaitForSpace(std::chrono::milliseconds timeout);

  // Consumer: moves every published line into `lines`, oldest first.
  // Without `blocking` it gives up (returns false) when the lock is busy.
  // `more` tells whether further lines were published meanwhile, which the
  // producer did not signal because the queue was not empty.
  bool Take(bool blocking, std::vector<std::u16string>* lines, bool* more = nullptr);
  // Consumer: no more lines will be taken; the producer stops waiting and
  // later lines are dropped.
  void Close();

 private:
  // Under the lock.
  uint32_t FreeSlots() const;

  std::array<std::u16string, kSlots> slots_;
  uint32_t head_ = 0;
  uint32_t tail_ = 0;
  bool closed_ = false;
  LogLock lock_;
  std::condition_variable_any space_;
};

}  // namespace quillmarsh::log
