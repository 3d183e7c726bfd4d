#include "simulated/message_texts.h"

#include <map>

namespace quillmarsh::simulated {
namespace {

const std::map<uint32_t, std::string>& MessageTexts() {
  static const std::map<uint32_t, std::string> texts = {
      {1, "Incorrect function.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough memory resources are available to process this command.\r\n"},
      {53, "The network path was not found.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {120, "This function is not supported on this system.\r\n"},
      {122, "The data area passed to a system call is too small.\r\n"},
      {160, "One or more arguments are not correct.\r\n"},
      {1008, "An attempt was made to reference a token that does not exist.\r\n"},
      {1115, "A system shutdown is in progress.\r\n"},
      {1116, "Unable to abort the system shutdown because no shutdown was in progress.\r\n"},
      {1190, "A system shutdown has already been scheduled.\r\n"},
      {1313, "A specified privilege does not exist.\r\n"},
      {1314, "A required privilege is not held by the client.\r\n"},
      {1460, "This operation returned because the timeout period expired.\r\n"},
      {1722, "The RPC server is unavailable.\r\n"},
      {7022, "The specified session cannot be found.\r\n"},
      {0x8004100E, "Invalid namespace\r\n"},
      {kRpcServerUnavailableHresult, "The RPC server is unavailable.\r\n"},
  };
  return texts;
}

}  // namespace

std::string MessageText(uint32_t code) {
  const auto found = MessageTexts().find(code);
  return found == MessageTexts().end() ? std::string() : found->second;
}

}  // namespace quillmarsh::simulated
