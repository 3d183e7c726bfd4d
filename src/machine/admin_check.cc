#include "machine/admin_check.h"

#include <cstddef>
#include <cstring>
#include <memory>

#include "machine/token_handle.h"
#include "state/zeroed_buffer.h"

namespace quillmarsh::machine {
namespace {

constexpr uint32_t kFirstGroupsSize = 10;
constexpr uint32_t kGroupsSizeLimit = 10'240'000;
constexpr uint32_t kGroupsSizeSlack = 1024;
constexpr uint32_t kFirstElevatedVersion = 6;
constexpr uint32_t kElevationTypeDefault = 1;
constexpr uint32_t kElevationTypeFull = 2;

constexpr platform::SidIdentifierAuthority kNtAuthority = {{0, 0, 0, 0, 0, 5}};
constexpr uint32_t kAdministratorsSubAuthorities[8] = {32, 544, 0, 0, 0, 0, 0, 0};

// The impersonation token of the thread, else the process token.
bool OpenMembershipToken(platform::TerminalServer& server, TokenHandle& token) {
  if (server.OpenThreadToken(platform::kTokenQuery, true, token.Receive()) &&
      token.get() != nullptr) {
    return true;
  }
  token.Close();
  return server.OpenProcessToken(platform::kTokenQuery, token.Receive()) && token.get() != nullptr;
}

// The token's group list: a short first read that tells the size needed,
// then one read with room to spare in case the list grew in between.
std::unique_ptr<ZeroedBuffer> ReadGroups(platform::TerminalServer& server, platform::Handle token) {
  auto groups = std::make_unique<ZeroedBuffer>(kFirstGroupsSize);
  uint32_t needed = 0;
  if (server.GetTokenInformation(token, platform::kTokenGroupsClass, groups->data(),
                                 kFirstGroupsSize, &needed)) {
    return groups;
  }
  if (needed <= 1 || needed > kGroupsSizeLimit) return nullptr;
  groups.reset();
  const uint32_t size = needed + kGroupsSizeSlack;
  groups = std::make_unique<ZeroedBuffer>(size);
  if (!server.GetTokenInformation(token, platform::kTokenGroupsClass, groups->data(), size,
                                  &needed)) {
    return nullptr;
  }
  return groups;
}

// Whether the Administrators SID is one of the groups, whatever the entry's
// attributes: a deny-only entry of a filtered token counts too.
bool ListsAdministrators(platform::TerminalServer& server, const ZeroedBuffer& groups) {
  SidOwner administrators(server);
  if (!server.AllocateAndInitializeSid(kNtAuthority, 2, kAdministratorsSubAuthorities,
                                       administrators.Receive()) ||
      administrators.get() == nullptr) {
    return false;
  }
  constexpr size_t kEntries = offsetof(platform::TokenGroups, Groups);
  if (groups.size() < kEntries) return false;
  uint32_t count = 0;
  std::memcpy(&count, groups.data(), sizeof(count));
  // Never read past the buffer, whatever the count says.
  const size_t room = (groups.size() - kEntries) / sizeof(platform::SidAndAttributes);
  if (count > room) count = static_cast<uint32_t>(room);
  for (uint32_t i = 0; i < count; ++i) {
    platform::SidAndAttributes entry;
    std::memcpy(&entry, groups.data() + kEntries + i * sizeof(entry), sizeof(entry));
    if (server.EqualSid(administrators.get(), entry.Sid)) return true;
  }
  return false;
}

// Always the process token: an impersonation token says nothing about how
// this process was started.
bool ProcessIsElevated(platform::TerminalServer& server) {
  uint32_t elevation_type = 0;
  TokenHandle token(server);
  if (!server.OpenProcessToken(platform::kTokenQuery, token.Receive()) || token.get() == nullptr) {
    return false;
  }
  uint32_t returned = 0;
  if (!server.GetTokenInformation(token.get(), platform::kTokenElevationTypeClass, &elevation_type,
                                  sizeof(elevation_type), &returned)) {
    elevation_type = 0;
  }
  return elevation_type == kElevationTypeDefault || elevation_type == kElevationTypeFull;
}

}  // namespace

bool IsElevatedAdministrator(platform::TerminalServer& server, uint32_t os_major_version) {
  try {
    TokenHandle token(server);
    if (!OpenMembershipToken(server, token)) return false;
    bool member = false;
    {
      std::unique_ptr<ZeroedBuffer> groups = ReadGroups(server, token.get());
      if (!groups) return false;
      member = ListsAdministrators(server, *groups);
    }
    if (!member) return false;
    if (os_major_version < kFirstElevatedVersion) return true;
    return ProcessIsElevated(server);
  } catch (...) {
    return false;
  }
}

}  // namespace quillmarsh::machine
