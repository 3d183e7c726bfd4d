#include "log/log_format.h"

#include "log/log_text.h"

namespace quillmarsh::log {
namespace {

constexpr std::u16string_view kLineBreak = u"\r\n";
// Continuation lines carry blanks where the time stamp stands.
constexpr std::u16string_view kNoStamp = u"                       ";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Whether `text` at `at` holds `word` (upper case) in any ASCII letter case.
bool HasWordAt(std::u16string_view text, size_t at, std::u16string_view word) {
  if (text.size() - at < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char16_t c = text[at + i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != word[i]) return false;
  }
  return true;
}

// The chunk begins with `word`, or holds "|" + `word`, in any letter case.
bool MarksNesting(std::u16string_view chunk, std::u16string_view word) {
  if (HasWordAt(chunk, 0, word)) return true;
  for (size_t bar = chunk.find(u'|'); bar != std::u16string_view::npos;
       bar = chunk.find(u'|', bar + 1)) {
    if (HasWordAt(chunk, bar + 1, word)) return true;
  }
  return false;
}
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
      if (!indent_.empty() && MarksNesting(chunk, u"END")) indent_.pop_back();
      std::u16string line;
      line.reserve(prefix.size() + 3 + indent_.size() + chunk.size());
      line += prefix;
      line += KindMark(kind);
      line += indent_;
      line += chunk;
      sink_(std::move(line));
      if (indent_.size() < kMaxIndent && MarksNesting(chunk, u"BEGIN")) indent_ += u'.';
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
