#include "log/log_writer.h"

// Placeholder until the ring file and writer thread land: never opens.
namespace quillmarsh::log {

class LogWriter::Impl {};

LogWriter::LogWriter(platform::System&, ErrorTextFunction, Options) {}
LogWriter::~LogWriter() = default;
bool LogWriter::Opened() const { return false; }
std::u16string LogWriter::Info(std::string_view) { return {}; }
std::u16string LogWriter::Error(std::string_view) { return {}; }
void LogWriter::Close() {}

}  // namespace quillmarsh::log
