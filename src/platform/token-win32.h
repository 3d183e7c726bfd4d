// The token calls of the administrator check and of the shutdown privilege:
// the thread's and the process's token, its groups and elevation, SIDs and
// privileges (advapi32; GetTokenInformation bound at run time).
#pragma once

#include <cstdint>

#include "platform/late_binding-win32.h"

namespace quillmarsh::platform {

class WindowsTokens {
 public:
  explicit WindowsTokens(const Library& advapi32) : advapi32_(advapi32) {}

  bool OpenThreadToken(uint32_t access, bool open_as_self, Handle* token);
  bool OpenProcessToken(uint32_t access, Handle* token);
  bool GetTokenInformation(Handle token, uint32_t information_class, void* information,
                           uint32_t length, uint32_t* return_length);
  bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                uint8_t sub_authority_count, const uint32_t (&sub_authorities)[8],
                                void** sid);
  bool EqualSid(void* first, void* second);
  void FreeSid(void* sid);
  bool CloseHandle(Handle handle);
  bool LookupPrivilegeValueA(const char* system_name, const char* name, Luid* luid);
  bool AdjustTokenPrivileges(Handle token, bool disable_all, const TokenPrivileges* new_state,
                             uint32_t buffer_length, TokenPrivileges* previous_state,
                             uint32_t* return_length);

 private:
  using GetTokenInformationFunction = decltype(&::GetTokenInformation);

  const Library& advapi32_;
  LateBound<GetTokenInformationFunction> get_token_information_{advapi32_, "GetTokenInformation"};
};

}  // namespace quillmarsh::platform
