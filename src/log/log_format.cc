#include "log/log_format.h"

#include "log/log_text.h"

namespace quillmarsh::log {
namespace {

constexpr std::u16string_view kLineBreak = u"\r\n";
// Continuation lines carry blanks where the time stamp stands.
constexpr std::u16string_view kNoStamp = u"                       ";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::u16string_view KindMark(LogKind kind) {
  return kind == LogKind::kInformation ? u"|I|" : u"|E|";
}

std::u16string_view Head(std::u16string_view text, size_t count) {
  if (text.size() <= count) return text;
  if (count > 0 && IsHighSurrogate(text[count - 1]) && IsLowSurrogate(text[count])) --count;
  return text.substr(0, count);
}

std::u16string LogFormatter::Message(LogKind kind, std::u16string_view text,
                                     std::u16string_view time_stamp) {
  if (text.empty()) return {};
  const LogKind other = kind == LogKind::kInformation ? LogKind::kError : LogKind::kInformation;
  if (text != PendingOf(kind).text) Flush(kind);
  Flush(other);

  std::u16string first(time_stamp);
  first += KindMark(kind);
  first += indent_;
  first += Head(text, kLineLength);

  Pending& pending = PendingOf(kind);
  if (text == pending.text) {
    ++pending.count;
    pending.last_stamp = time_stamp;
    return first;
  }
  EmitSplit(kind, text, time_stamp);
  pending.text = text;
  pending.count = 1;
  return first;
}

void LogFormatter::EmitSplit(LogKind kind, std::u16string_view text,
                             std::u16string_view time_stamp) {
  std::u16string_view prefix = time_stamp;
  std::u16string_view rest = text;
  while (!rest.empty()) {
    const size_t line_break = rest.find(kLineBreak);
    const bool cut = line_break == std::u16string_view::npos || line_break >= kLineLength;
    const std::u16string_view chunk = cut ? Head(rest, kLineLength) : rest.substr(0, line_break);
    if (!chunk.empty()) {
      const std::u16string upper = UpperAscii(chunk);
      if ((upper.starts_with(u"END") || upper.find(u"|END") != std::u16string::npos) &&
          !indent_.empty()) {
        indent_.pop_back();
      }
      std::u16string line(prefix);
      line += KindMark(kind);
      line += indent_;
      line += chunk;
      sink_(std::move(line));
      if ((upper.starts_with(u"BEGIN") || upper.find(u"|BEGIN") != std::u16string::npos) &&
          indent_.size() < kMaxIndent) {
        indent_ += u'.';
      }
    }
    rest.remove_prefix(cut ? chunk.size() : chunk.size() + kLineBreak.size());
    prefix = kNoStamp;
  }
}

void LogFormatter::FlushSummaries() {
  Flush(LogKind::kInformation);
  Flush(LogKind::kError);
}

void LogFormatter::Flush(LogKind kind) {
  Pending& pending = PendingOf(kind);
  if (!pending.text.empty() && pending.count > 1) {
    std::u16string line(pending.last_stamp);
    line += KindMark(kind);
    line += indent_;
    // A multi-line text is summarised by its first line, so that the
    // summary stays one line of the file.
    std::u16string_view text = pending.text;
    text = text.substr(0, text.find(u"\r\n"));
    line += text.size() >= kSummaryLength ? Head(text, kSummaryLength) : text;
    line += u" [";
    line += Widen(std::to_string(pending.count));
    line += u"x]";
    sink_(std::move(line));
  }
  pending.text.clear();
  pending.count = 0;
}

}  // namespace quillmarsh::log
