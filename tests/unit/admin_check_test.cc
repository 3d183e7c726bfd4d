#include "machine/admin_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "mock_terminal_server.h"

namespace quillmarsh::test {
namespace {

using platform::Handle;
using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;

const Handle kThreadToken = reinterpret_cast<Handle>(0x1100);
const Handle kProcessToken = reinterpret_cast<Handle>(0x2200);
const Handle kElevationToken = reinterpret_cast<Handle>(0x3300);

// S-1-5-32-544, once as the check builds it and once as a token lists it.
uint8_t kBuiltAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
uint8_t kListedAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
// S-1-5-32-545 (Users) and S-1-1-0 (Everyone).
uint8_t kUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
uint8_t kEveryone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

constexpr uint32_t kDenyOnly = 0x10;

bool AllZero(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

bool SameSid(void* first, void* second) {
  if (first == nullptr || second == nullptr) return false;
  const auto* a = static_cast<const uint8_t*>(first);
  const auto* b = static_cast<const uint8_t*>(second);
  return a[1] == b[1] && std::memcmp(a, b, 8 + 4 * size_t{a[1]}) == 0;
}

class AdminCheck : public ::testing::Test {
 protected:
  void ExpectThreadToken(bool ok, Handle handle) {
    EXPECT_CALL(server, OpenThreadToken(platform::kTokenQuery, true, _))
        .WillOnce([=](uint32_t, bool, Handle* token) {
          *token = handle;
          return ok;
        });
  }

  void ExpectProcessToken(bool ok, Handle handle) {
    EXPECT_CALL(server, OpenProcessToken(platform::kTokenQuery, _))
        .WillOnce([=](uint32_t, Handle* token) {
          *token = handle;
          return ok;
        });
  }

  // The 10-byte read that only learns the size.
  void ExpectShortRead(Handle token, uint32_t needed) {
    EXPECT_CALL(server, GetTokenInformation(token, platform::kTokenGroupsClass, _, 10u, _))
        .WillOnce([=](Handle, uint32_t, void* buffer, uint32_t, uint32_t* returned) {
          EXPECT_TRUE(AllZero(buffer, 10));
          *returned = needed;
          return false;
        });
  }

  // The second read, into needed + 1024 bytes; writes `count` as GroupCount
  // and the entries given.
  void ExpectFullRead(Handle token, uint32_t needed, std::vector<uint8_t*> sids,
                      uint32_t attributes = 7, uint32_t count = UINT32_MAX) {
    if (count == UINT32_MAX) count = static_cast<uint32_t>(sids.size());
    EXPECT_CALL(server,
                GetTokenInformation(token, platform::kTokenGroupsClass, _, needed + 1024, _))
        .WillOnce([=](Handle, uint32_t, void* buffer, uint32_t length, uint32_t* returned) {
          EXPECT_TRUE(AllZero(buffer, length));
          auto* groups = static_cast<platform::TokenGroups*>(buffer);
          groups->GroupCount = count;
          for (size_t i = 0; i < sids.size(); ++i) {
            groups->Groups[i].Sid = sids[i];
            groups->Groups[i].Attributes = attributes;
          }
          *returned = needed;
          return true;
        });
  }

  void ExpectGroups(Handle token, std::vector<uint8_t*> sids, uint32_t attributes = 7) {
    const uint32_t needed = static_cast<uint32_t>(8 + 16 * sids.size() + 16 * sids.size());
    ExpectShortRead(token, needed);
    ExpectFullRead(token, needed, std::move(sids), attributes);
  }

  void ExpectAdministratorsSid(bool ok = true) {
    EXPECT_CALL(server, AllocateAndInitializeSid(_, 2, _, _))
        .WillOnce([=](const platform::SidIdentifierAuthority& authority, uint8_t,
                      const uint32_t(&sub)[8], void** sid) {
          const uint8_t nt[6] = {0, 0, 0, 0, 0, 5};
          EXPECT_EQ(std::memcmp(authority.Value, nt, 6), 0);
          EXPECT_EQ(sub[0], 32u);
          EXPECT_EQ(sub[1], 544u);
          for (int i = 2; i < 8; ++i) EXPECT_EQ(sub[i], 0u);
          *sid = ok ? kBuiltAdministrators : nullptr;
          return ok;
        });
  }

  // `compared` EqualSid calls in list order, the built SID always first.
  void ExpectComparisons(int compared) {
    EXPECT_CALL(server, EqualSid(static_cast<void*>(kBuiltAdministrators), _))
        .Times(compared)
        .WillRepeatedly(SameSid);
  }

  void ExpectElevation(bool ok, uint32_t type) {
    ExpectProcessToken(true, kElevationToken);
    EXPECT_CALL(server,
                GetTokenInformation(kElevationToken, platform::kTokenElevationTypeClass, _, 4u, _))
        .WillOnce([=](Handle, uint32_t, void* value, uint32_t, uint32_t* returned) {
          std::memcpy(value, &type, 4);
          *returned = 4;
          return ok;
        });
    EXPECT_CALL(server, CloseHandle(kElevationToken)).WillOnce(Return(true));
  }

  // Membership read from the process token, Administrators listed first.
  void ExpectProcessMember() {
    ExpectThreadToken(false, nullptr);
    ExpectProcessToken(true, kProcessToken);
    ExpectGroups(kProcessToken, {kListedAdministrators, kUsers});
    ExpectAdministratorsSid();
    ExpectComparisons(1);
    EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  }

  StrictMock<MockTerminalServer> server;
};

TEST_F(AdminCheck, MemberOnVersion5PassesWithoutElevationQuery) {
  InSequence order;
  ExpectProcessMember();
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_TRUE(machine::IsElevatedAdministrator(server, 5));
}

TEST_F(AdminCheck, ElevationTypeDecidesFromVersion6On) {
  struct Case {
    uint32_t version;
    bool query_ok;
    uint32_t type;
    bool expected;
  };
  // A failed query counts as type 0 whatever it left in the answer.
  for (const Case& c : {Case{6, true, 1, true}, Case{10, true, 2, true}, Case{6, true, 3, false},
                        Case{10, true, 0, false}, Case{10, false, 2, false}}) {
    SCOPED_TRACE(testing::Message() << c.version << " " << c.query_ok << " " << c.type);
    InSequence order;
    ExpectProcessMember();
    ExpectElevation(c.query_ok, c.type);
    EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
    EXPECT_EQ(machine::IsElevatedAdministrator(server, c.version), c.expected);
    testing::Mock::VerifyAndClearExpectations(&server);
  }
}

TEST_F(AdminCheck, FailedOpenOfTheElevationTokenAnswersFalse) {
  InSequence order;
  ExpectProcessMember();
  ExpectProcessToken(false, nullptr);
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
}

TEST_F(AdminCheck, ImpersonationTokenForMembershipProcessTokenForElevation) {
  InSequence order;
  ExpectThreadToken(true, kThreadToken);
  ExpectGroups(kThreadToken, {kEveryone, kListedAdministrators});
  ExpectAdministratorsSid();
  ExpectComparisons(2);
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  ExpectElevation(true, 2);
  EXPECT_CALL(server, CloseHandle(kThreadToken)).WillOnce(Return(true));
  EXPECT_TRUE(machine::IsElevatedAdministrator(server, 10));
}

TEST_F(AdminCheck, DenyOnlyAdministratorsEntryCountsAsMembership) {
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(true, kProcessToken);
  ExpectGroups(kProcessToken, {kEveryone, kUsers, kListedAdministrators}, kDenyOnly);
  ExpectAdministratorsSid();
  ExpectComparisons(3);
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  ExpectElevation(true, 3);
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  // The filtered token of a limited administrator.
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
}

TEST_F(AdminCheck, FailedThreadCallClosesWhatItReturnedAndUsesTheProcessToken) {
  InSequence order;
  ExpectThreadToken(false, kThreadToken);
  EXPECT_CALL(server, CloseHandle(kThreadToken)).WillOnce(Return(true));
  ExpectProcessToken(true, kProcessToken);
  ExpectGroups(kProcessToken, {kListedAdministrators});
  ExpectAdministratorsSid();
  ExpectComparisons(1);
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_TRUE(machine::IsElevatedAdministrator(server, 5));
}

TEST_F(AdminCheck, SuccessfulThreadCallWithoutHandleFallsThrough) {
  InSequence order;
  ExpectThreadToken(true, nullptr);
  ExpectProcessToken(true, kProcessToken);
  ExpectGroups(kProcessToken, {kUsers});
  ExpectAdministratorsSid();
  ExpectComparisons(1);
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
}

TEST_F(AdminCheck, NoTokenAtAll) {
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(false, nullptr);
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
}

TEST_F(AdminCheck, GroupSizeLimits) {
  // Above the limit, 0 and 1: no second query.
  for (uint32_t needed : {10'240'001u, 0xFFFFFFFFu, 0u, 1u}) {
    SCOPED_TRACE(needed);
    InSequence order;
    ExpectThreadToken(false, nullptr);
    ExpectProcessToken(true, kProcessToken);
    ExpectShortRead(kProcessToken, needed);
    EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
    EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
    testing::Mock::VerifyAndClearExpectations(&server);
  }
  // The limit itself is allowed, with 1024 bytes to spare.
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(true, kProcessToken);
  ExpectShortRead(kProcessToken, 10'240'000);
  ExpectFullRead(kProcessToken, 10'240'000, {kListedAdministrators});
  ExpectAdministratorsSid();
  ExpectComparisons(1);
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_TRUE(machine::IsElevatedAdministrator(server, 5));
}

TEST_F(AdminCheck, FailedGroupReadAnswersFalseWithoutThirdAttempt) {
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(true, kProcessToken);
  ExpectShortRead(kProcessToken, 200);
  EXPECT_CALL(server, GetTokenInformation(kProcessToken, platform::kTokenGroupsClass, _, 1224u, _))
      .WillOnce([](Handle, uint32_t, void*, uint32_t, uint32_t* returned) {
        *returned = 5000;  // grew again
        return false;
      });
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
}

TEST_F(AdminCheck, EmptyListFromTheFirstReadIsNoMembership) {
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(true, kProcessToken);
  EXPECT_CALL(server, GetTokenInformation(kProcessToken, platform::kTokenGroupsClass, _, 10u, _))
      .WillOnce(Return(true));
  ExpectAdministratorsSid();
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 5));
}

TEST_F(AdminCheck, GroupCountBeyondTheBufferIsNotFollowed) {
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(true, kProcessToken);
  ExpectShortRead(kProcessToken, 24);
  ExpectFullRead(kProcessToken, 24, {kUsers}, 7, 1'000'000);
  ExpectAdministratorsSid();
  // (24 + 1024 - 8) / 16 entries fit in the buffer.
  ExpectComparisons(65);
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 5));
}

TEST_F(AdminCheck, FailedSidAllocationAnswersFalse) {
  InSequence order;
  ExpectThreadToken(false, nullptr);
  ExpectProcessToken(true, kProcessToken);
  ExpectGroups(kProcessToken, {kListedAdministrators});
  ExpectAdministratorsSid(false);
  EXPECT_CALL(server, CloseHandle(kProcessToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 5));
}

TEST_F(AdminCheck, ExceptionReleasesEverythingAndAnswersFalse) {
  InSequence order;
  ExpectThreadToken(true, kThreadToken);
  ExpectGroups(kThreadToken, {kListedAdministrators});
  ExpectAdministratorsSid();
  EXPECT_CALL(server, EqualSid(_, _)).WillOnce([](void*, void*) -> bool {
    throw std::runtime_error("broken");
  });
  EXPECT_CALL(server, FreeSid(kBuiltAdministrators));
  EXPECT_CALL(server, CloseHandle(kThreadToken)).WillOnce(Return(true));
  EXPECT_FALSE(machine::IsElevatedAdministrator(server, 10));
}

}  // namespace
}  // namespace quillmarsh::test
