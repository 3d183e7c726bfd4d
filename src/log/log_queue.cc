#include "log/log_queue.h"

#include <mutex>

namespace quillmarsh::log {

uint32_t LogQueue::FreeSlots() const {
  if (closed_) return kSlots;
  return head_ < tail_ ? tail_ - head_ : tail_ + kSlots - head_;
}

LogQueue::Pushed LogQueue::Push(std::u16string line) {
  // Only the producer writes head, so reading it here needs no lock; the
  // slot at head is never one the consumer is reading.
  const uint32_t slot = head_;
  slots_[slot] = std::move(line);
  std::lock_guard lock(lock_);
  if (closed_) {
    slots_[slot].clear();
    return {kSlots, false};
  }
  const bool was_empty = head_ == tail_;
  head_ = (slot + 1) % kSlots;
  return {FreeSlots(), was_empty};
}

uint32_t LogQueue::WaitForSpace(std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  const uint32_t tail = tail_;
  space_.wait_for(lock, timeout, [&] { return closed_ || tail_ != tail; });
  return FreeSlots();
}

bool LogQueue::Take(bool blocking, std::vector<std::u16string>* lines, bool* more) {
  std::unique_lock lock(lock_, std::defer_lock);
  if (blocking) {
    lock.lock();
  } else if (!lock.try_lock()) {
    return false;
  }
  const uint32_t head = head_;
  uint32_t tail = tail_;
  lock.unlock();

  for (; tail != head; tail = (tail + 1) % kSlots) {
    lines->push_back(std::move(slots_[tail]));
    slots_[tail] = std::u16string();
  }

  lock.lock();
  tail_ = tail;
  if (more != nullptr) *more = head_ != tail_;
  lock.unlock();
  space_.notify_all();
  return true;
}

void LogQueue::Close() {
  {
    std::lock_guard lock(lock_);
    closed_ = true;
  }
  space_.notify_all();
}

}  // namespace quillmarsh::log
