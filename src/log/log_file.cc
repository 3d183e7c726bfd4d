#include "log/log_file.h"

#include <cstdio>

#include "log/log_text.h"
#include "log/log_time.h"

namespace quillmarsh::log {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The offset in the 11 characters after the mark: blanks and control
// characters around it are ignored and reading stops at the first
// character that is not a digit. Returns -1 when there is no number.
int64_t ParseOffset(std::string_view field) {
  while (!field.empty() && static_cast<unsigned char>(field.front()) <= 0x20) {
    field.remove_prefix(1);
  }
  int64_t value = -1;
  for (char c : field) {
    if (c < '0' || c > '9') break;
    value = (value < 0 ? 0 : value * 10) + (c - '0');
  }
  return value;
}

}  // namespace

std::u16string NormaliseLogName(std::u16string_view file_name) {
  const std::u16string upper = UpperAscii(file_name);
  std::u16string name(file_name);
  if (name.size() > 4 && upper.ends_with(u".LOG") &&
      !(name.size() > 9 && upper.ends_with(u".UTF8.LOG"))) {
    name.insert(name.size() - 4, u".utf8");
  }
  return name;
}

uint64_t LogMaxSizeBytes(int64_t max_size_kb) {
  if (max_size_kb >= 20 && max_size_kb <= 1024000) return static_cast<uint64_t>(max_size_kb) * 1024;
  return 10 * 1024 * 1024;
}

std::string LogHeader(uint64_t offset) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%11llu", static_cast<unsigned long long>(offset));
  return std::string(kByteOrderMark) + digits + "\r\n";
}

LogFile::LogFile(platform::System& system, std::u16string_view file_name, int64_t max_size_kb,
                 uint32_t own_session_id)
    : system_(system), name_(NormaliseLogName(file_name)), max_size_(LogMaxSizeBytes(max_size_kb)) {
  using Mode = platform::System::OpenMode;
  file_ = system_.OpenFile(name_, Mode::kExistingWriteShareRead);
  if (!file_) {
    system_.CreateParentDirectories(name_);
    if (auto created = system_.OpenFile(name_, Mode::kAlwaysExclusive)) {
      // Only a file that is really new gets a fresh header: one that another
      // writer has just let go keeps its offset.
      char probe;
      if (created->ReadAt(0, &probe, 1) == 0) {
        const std::string header = LogHeader(kHeaderSize);
        created->WriteAt(0, header.data(), header.size());
      }
      created.reset();
      file_ = system_.OpenFile(name_, Mode::kExistingWriteShareRead);
    }
  }
  if (!file_) {
    open_error_ = system_.LastFileErrorText();
    return;
  }
  opened_ = true;
  ReadHeader();

  std::u16string line = TimeStamp(system_.LocalTime());
  line += u" Log Started: ";
  line += name_;
  line += u" [UTC:";
  line += ShortDateTime(system_.UtcTime());
  line += u"][PID:";
  line += Widen(std::to_string(system_.CurrentProcessId()));
  line += u"][Session:";
  line += Widen(std::to_string(own_session_id));
  line += u"] ";
  line += Widen(std::to_string(offset_));
  WriteLine(line);
  WritePending();
}

LogFile::~LogFile() { Close(); }

void LogFile::ReadHeader() {
  offset_ = kHeaderSize;
  char header[kHeaderSize] = {};
  const size_t got = file_->ReadAt(0, header, sizeof header);
  const std::string_view bytes(header, got);
  int64_t offset = -1;
  if (bytes.starts_with(kByteOrderMark)) offset = ParseOffset(bytes.substr(3, 11));
  if (offset > static_cast<int64_t>(max_size_)) offset = -1;
  if (offset >= static_cast<int64_t>(kHeaderSize)) offset_ = static_cast<uint64_t>(offset);

  // Text beyond the maximum size (a file written with a larger limit) is
  // cut off, so the file never stays larger than its limit.
  char probe;
  if (file_->ReadAt(max_size_, &probe, 1) != 0) file_->Truncate(max_size_);
}

void LogFile::WriteLine(std::u16string_view line) {
  if (!opened_) return;
  std::string bytes = platform::Utf16ToUtf8(line);
  // A line longer than the whole data area is cut to fit it.
  if (bytes.size() + 2 >= max_size_ - kHeaderSize) bytes.resize(max_size_ - kHeaderSize - 3);
  bytes += "\r\n";
  if (offset_ + bytes.size() >= max_size_) {
    WritePending();
    offset_ = kHeaderSize;
  }
  if (pending_.empty()) pending_offset_ = offset_;
  pending_ += bytes;
  offset_ += bytes.size();
}

void LogFile::WritePending() {
  if (pending_.empty()) return;
  file_->WriteAt(pending_offset_, pending_.data(), pending_.size());
  pending_.clear();
}

void LogFile::WriteHeader() {
  if (!opened_) return;
  WritePending();
  const std::string header = LogHeader(offset_);
  file_->WriteAt(0, header.data(), header.size());
}

void LogFile::Close() {
  if (!opened_) return;
  std::u16string line = TimeStamp(system_.LocalTime());
  line += u" Log stopped";
  WriteLine(line);
  WriteHeader();
  file_.reset();
  opened_ = false;
}

}  // namespace quillmarsh::log
