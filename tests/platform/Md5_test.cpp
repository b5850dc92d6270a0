// MD5 against the test suite of RFC 1321, and digests taken in parts.
#include "platform/Md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

std::string Hex(const platform::Md5Digest &digest) {
    std::string text;
    char pair[3];
    for (const uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

const uint8_t *Bytes(std::string_view text) {
    return reinterpret_cast<const uint8_t *>(text.data());
}

struct Rfc1321Case {
    const char *input;
    const char *digest;
};

class Md5Rfc1321 : public ::testing::TestWithParam<Rfc1321Case> {};

} // namespace

TEST_P(Md5Rfc1321, OneBlockAndByteByByteGiveTheSuiteDigest) {
    const std::string_view input = GetParam().input;
    EXPECT_EQ(Hex(platform::Md5(Bytes(input), input.size())), GetParam().digest);

    platform::Md5Context context;
    for (const char c : input) context.Update(Bytes(std::string_view(&c, 1)), 1);
    EXPECT_EQ(Hex(context.Final()), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Suite, Md5Rfc1321,
    ::testing::Values(Rfc1321Case{"", "d41d8cd98f00b204e9800998ecf8427e"},
                      Rfc1321Case{"a", "0cc175b9c0f1b6a831c399e269772661"},
                      Rfc1321Case{"abc", "900150983cd24fb0d6963f7d28e17f72"},
                      Rfc1321Case{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
                      Rfc1321Case{"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
                      Rfc1321Case{"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                                  "d174ab98d277d9f5a5611c2c9f419d9f"},
                      Rfc1321Case{
                          "1234567890123456789012345678901234567890123456789012345678901234567890"
                          "1234567890",
                          "57edf4a22be3c955ac49da2e2107b67a"}));

// A challenge and a key digested as two parts equal the digest of the two laid end to end,
// wherever the cut falls, including across MD5's 64-byte blocks.
TEST(Md5Context, TwoPartsEqualTheWholeAtEveryCut) {
    std::string whole;
    for (int i = 0; i < 150; ++i) whole.push_back(static_cast<char>(i * 7 + 3));
    const platform::Md5Digest expected = platform::Md5(Bytes(whole), whole.size());
    platform::Md5Context context; // reused: Final makes it ready for the next digest
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        context.Update(Bytes(whole), cut);
        context.Update(Bytes(whole) + cut, whole.size() - cut);
        ASSERT_EQ(context.Final(), expected) << "cut at " << cut;
    }
}

TEST(Md5Context, EmptyPartsChangeNothing) {
    platform::Md5Context context;
    context.Update(nullptr, 0);
    context.Update(Bytes("abc"), 3);
    context.Update(std::span<const uint8_t>());
    EXPECT_EQ(Hex(context.Final()), "900150983cd24fb0d6963f7d28e17f72");
    // Nothing at all after a Final is the digest of empty input, not a leftover of the last one.
    EXPECT_EQ(Hex(context.Final()), "d41d8cd98f00b204e9800998ecf8427e");
}
