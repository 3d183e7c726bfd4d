#include <gtest/gtest.h>

#include "log/log_writer.h"
#include "log/md5.h"
#include "log_test_support.h"

namespace quillmarsh::test {
namespace {

using log::Md5Hex;

TEST(Md5, TestSuiteOfTheRfc) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Lengths around the 56-byte padding limit and the 64-byte block, with every
// byte value high and low.
TEST(Md5, LengthsAroundTheBlockBoundaries) {
  const std::pair<size_t, const char*> cases[] = {
      {55, "8d24280288a696559fd8d5aa1b6d8c6e"},  {56, "ef2c72b7254c92459e498eddd4ace573"},
      {63, "c4c8c6d513f4e1604eb18508a1769364"},  {64, "a2fcb39a253b9b785b1f97518fa37683"},
      {65, "e49fe82d0bb12967a196c85de313e446"},  {119, "1640deea49ebb258ec6ede18d4b2d2d7"},
      {120, "05f879f7b542a7ebf0605adff67d4423"}, {128, "fe942895e9aae953f3e246e5fd00739d"},
  };
  for (const auto& [length, digest] : cases) {
    std::string bytes;
    for (size_t i = 0; i < length; ++i) bytes += static_cast<char>((i * 7) & 0xff);
    EXPECT_EQ(Md5Hex(bytes), digest) << length;
  }
}

TEST(LogEventName, IsGAndTheDigestOfTheStoredName) {
  CapturingSystem system;
  EXPECT_EQ(log::LogEventName(system, u"/tmp/x/quillmarsh.log"),
            "G09afe026144c6b2cab886f8ff930f32a");
  EXPECT_EQ(log::LogEventName(system, u"/tmp/x/quillmarsh.utf8.log"),
            "G09afe026144c6b2cab886f8ff930f32a");
}

}  // namespace
}  // namespace quillmarsh::test
