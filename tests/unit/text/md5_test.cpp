#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "text/md5.h"

namespace kestrav
{
namespace
{
TEST(Md5Hex, MatchesTheTestSuiteOfRfc1321)
{
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// Bytes 3, 10, 17, ... (i * 7 + 3 modulo 256): every value, high bits included, reaches the hash.
std::string Pattern(std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += static_cast<char>((i * 7 + 3) % 256);
    return bytes;
}

TEST(Md5Hex, PadsCorrectlyAroundTheBlockBoundaries)
{
    // Expected values from Python's hashlib:
    //   hashlib.md5(bytes((i * 7 + 3) % 256 for i in range(n))).hexdigest()
    // 55 bytes still fit the length field into the same block, 56 need a second one; 64 is exactly one block.
    struct Case
    {
        std::size_t length;
        const char* md5;
    };
    const Case cases[] = {
        {55, "52c0e574e1198de5fe3f8f11440dcb1b"},  {56, "46c9907fc908ee68b1e7b8e71286a518"},
        {57, "1c805dd236c35cab25fcb1bc73802c51"},  {63, "a62f6d59e837867693f042f5b8f5a236"},
        {64, "7160b8fb5e9e4023d549c3971fbaeead"},  {65, "70bd662e7aefbda85a0f7244167b7897"},
        {119, "e84905d4214f4d1ca56c2cdcc152b143"}, {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},
        {128, "10b2da1a82f16d99a81a7203fe9f02cb"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Md5Hex(Pattern(c.length)), c.md5) << c.length << " bytes";
}

TEST(Md5, GivesTheRawBytesOfTheHexDigest)
{
    const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
    const Md5Digest digest = Md5(abc);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[1], 0x01);
    EXPECT_EQ(digest[15], 0x72);
}
}
}
