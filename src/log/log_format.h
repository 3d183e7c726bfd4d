// Turns log messages into finished lines: time stamp and kind, indent by
// "Begin"/"End" nesting, splitting at CR LF and at 220 characters, and
// collapsing identical consecutive messages into one line plus a later
// repeat summary.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillmarsh::log {

enum class LogKind { kInformation, kError };

class LogFormatter {
 public:
  // Receives every finished line in order.
  using Sink = std::function<void(std::u16string line)>;

  static constexpr size_t kLineLength = 220;
  static constexpr size_t kSummaryLength = 210;
  static constexpr size_t kMaxIndent = 10;

  explicit LogFormatter(Sink sink) : sink_(std::move(sink)) {}

  // Formats one message stamped with `time_stamp`; returns its first line
  // (stamp, kind, indent and the first 220 characters). An empty text does
  // nothing at all.
  std::u16string Message(LogKind kind, std::u16string_view text, std::u16string_view time_stamp);

  // Writes the pending repeat summaries: information first, then error.
  void FlushSummaries();

  const std::u16string& Indent() const { return indent_; }

 private:
  struct Pending {
    std::u16string text;
    uint32_t count = 0;
    std::u16string last_stamp;
  };

  Pending& PendingOf(LogKind kind) { return kind == LogKind::kInformation ? information_ : error_; }
  void Flush(LogKind kind);
  void EmitSplit(LogKind kind, std::u16string_view text, std::u16string_view time_stamp);

  Sink sink_;
  std::u16string indent_;
  Pending information_;
  Pending error_;
};

// "|I|" or "|E|".
std::u16string_view KindMark(LogKind kind);

// The first `count` UTF-16 units of `text`, one fewer when the cut would
// part a surrogate pair.
std::u16string_view Head(std::u16string_view text, size_t count);

}  // namespace quillmarsh::log
