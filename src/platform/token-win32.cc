#include "platform/token-win32.h"

#include <cstddef>
#include <cstring>

namespace quillmarsh::platform {

// The interface hands the system's own records through; their layouts must
// be the same.
static_assert(sizeof(SidAndAttributes) == sizeof(SID_AND_ATTRIBUTES));
static_assert(offsetof(SidAndAttributes, Sid) == offsetof(SID_AND_ATTRIBUTES, Sid));
static_assert(offsetof(SidAndAttributes, Attributes) == offsetof(SID_AND_ATTRIBUTES, Attributes));
static_assert(sizeof(TokenGroups) == sizeof(TOKEN_GROUPS));
static_assert(offsetof(TokenGroups, GroupCount) == offsetof(TOKEN_GROUPS, GroupCount));
static_assert(offsetof(TokenGroups, Groups) == offsetof(TOKEN_GROUPS, Groups));

static_assert(sizeof(SidIdentifierAuthority) == sizeof(SID_IDENTIFIER_AUTHORITY));
static_assert(sizeof(Luid) == sizeof(LUID));
static_assert(offsetof(Luid, LowPart) == offsetof(LUID, LowPart));
static_assert(offsetof(Luid, HighPart) == offsetof(LUID, HighPart));
static_assert(sizeof(TokenPrivileges) == sizeof(TOKEN_PRIVILEGES));
static_assert(offsetof(TokenPrivileges, PrivilegeCount) ==
              offsetof(TOKEN_PRIVILEGES, PrivilegeCount));
static_assert(offsetof(TokenPrivileges, PrivilegeLuid) ==
              offsetof(TOKEN_PRIVILEGES, Privileges[0].Luid));
static_assert(offsetof(TokenPrivileges, Attributes) ==
              offsetof(TOKEN_PRIVILEGES, Privileges[0].Attributes));

bool WindowsTokens::OpenThreadToken(uint32_t access, bool open_as_self, Handle* token) {
  HANDLE handle = nullptr;
  const BOOL done = ::OpenThreadToken(::GetCurrentThread(), access, open_as_self, &handle);
  *token = handle;
  return done != FALSE;
}

bool WindowsTokens::OpenProcessToken(uint32_t access, Handle* token) {
  HANDLE handle = nullptr;
  const BOOL done = ::OpenProcessToken(::GetCurrentProcess(), access, &handle);
  *token = handle;
  return done != FALSE;
}

bool WindowsTokens::GetTokenInformation(Handle token, uint32_t information_class, void* information,
                                        uint32_t length, uint32_t* return_length) {
  GetTokenInformationFunction function = get_token_information_.get();
  if (function == nullptr) return Missing(get_token_information_);
  DWORD returned = 0;
  const BOOL done = function(token, static_cast<TOKEN_INFORMATION_CLASS>(information_class),
                             information, length, &returned);
  if (return_length != nullptr) *return_length = returned;
  return done != FALSE;
}

bool WindowsTokens::AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                             uint8_t sub_authority_count,
                                             const uint32_t (&sub_authorities)[8], void** sid) {
  SID_IDENTIFIER_AUTHORITY identifier{};
  std::memcpy(identifier.Value, authority.Value, sizeof identifier.Value);
  PSID created = nullptr;
  const BOOL done = ::AllocateAndInitializeSid(
      &identifier, sub_authority_count, sub_authorities[0], sub_authorities[1], sub_authorities[2],
      sub_authorities[3], sub_authorities[4], sub_authorities[5], sub_authorities[6],
      sub_authorities[7], &created);
  *sid = created;
  return done != FALSE;
}

bool WindowsTokens::EqualSid(void* first, void* second) {
  return ::EqualSid(first, second) != FALSE;
}

void WindowsTokens::FreeSid(void* sid) { ::FreeSid(sid); }

bool WindowsTokens::CloseHandle(Handle handle) { return ::CloseHandle(handle) != FALSE; }

bool WindowsTokens::LookupPrivilegeValueA(const char* system_name, const char* name, Luid* luid) {
  LUID value{};
  const BOOL done = ::LookupPrivilegeValueA(system_name, name, &value);
  luid->LowPart = value.LowPart;
  luid->HighPart = value.HighPart;
  return done != FALSE;
}

bool WindowsTokens::AdjustTokenPrivileges(Handle token, bool disable_all,
                                          const TokenPrivileges* new_state, uint32_t buffer_length,
                                          TokenPrivileges* previous_state,
                                          uint32_t* return_length) {
  DWORD returned = 0;
  const BOOL done = ::AdjustTokenPrivileges(
      token, disable_all,
      reinterpret_cast<PTOKEN_PRIVILEGES>(const_cast<TokenPrivileges*>(new_state)), buffer_length,
      reinterpret_cast<PTOKEN_PRIVILEGES>(previous_state),
      return_length != nullptr ? &returned : nullptr);
  if (return_length != nullptr) *return_length = returned;
  return done != FALSE;
}

}  // namespace quillmarsh::platform
