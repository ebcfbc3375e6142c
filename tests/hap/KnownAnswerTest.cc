// The controller's key agreement and key derivation against published answers, beside the end-to-end
// pairings with the test accessory: SRP-6a with the test vectors of RFC 5054, appendix B, and
// HKDF-SHA512 with the inputs of RFC 5869's test cases.
#include <gtest/gtest.h>

#include "hap/Crypto.h"
#include "hap/SrpMath.h"

using namespace device::hap;

namespace {

std::string bytes(std::string_view hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string hex(std::string_view value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) out.append({digits[c >> 4], digits[c & 15]});
    return out;
}

}  // namespace

// RFC 5054, appendix A (the 1024-bit group) and appendix B (the test vectors), which use SHA-1.
TEST(KnownAnswerTest, SrpPublicValueAndPremasterSecretMatchRfc5054) {
    SrpGroup group{
        bytes("EEAF0AB9ADB38DD69C33F80AFA8FC5E86072618775FF3C0B9EA2314C9C256576D674DF7496EA81D3383B4813D692C6E0"
              "E0D5D8E250B98BE48E495C1D6089DAD15DC7D7B46154D6B6CE8EF4AD69B15D4982559B297BCF1885C529F566660E57EC"
              "68EDBC3C05726CC02FD4CBF4976EAA9AFD5138FE8376435B9FC61D2FC0EB06E3"),
        2, "SHA1"};
    std::string salt = bytes("BEB25379D1A8581EB5A727673A2441EE");
    std::string a = bytes("60975527035CF2AD1989806F0407210BC81EDC04E2762A56AFD529DDDA2D4393");
    std::string serverPublic = bytes(
        "BD0C61512C692C0CB6D041FA01BB152D4916A1E77AF46AE105393011BAF38964DC46A0670DD125B95A981652236F99D9"
        "B681CBF87837EC996C6DA04453728610D0C6DDB58B318885D7D82C7F8DEB75CE7BD4FBAA37089E6F9C6059F388838E7A"
        "00030B331EB76840910440B1B27AAEAEEB4012B7D7665238A8E3FB004B117B58");
    std::string expectedA =
        "61D5E490F6F1B79547B0704C436F523DD0E560F0C64115BB72557EC44352E8903211C04692272D8B2D1A5358A2CF1B6E"
        "0BFCF99F921530EC8E39356179EAE45E42BA92AEACED825171E1E8B9AF6D9C03E1327F44BE087EF06530E69F66615261"
        "EEF54073CA11CF5858F0EDFDFE15EFEAB349EF5D76988A3672FAC47B0769447B";
    std::string expectedSecret =
        "B0DC82BABCF30674AE450C0287745E7990A3381F63B387AAF271A10D233861E359B48220F7C4693C9AE12B0A6F67809F"
        "0876E2D013800D6C41BB59B6D5979B5C00A172B4A2A5903A0BDCAF8A709585EB2AFAFA8F3499B200210DCC1F10EB3394"
        "3CD67FC88A2F39A4BE5BEC4EC0A3212DC346D7E474B29EDE8A469FFECA686E5A";

    auto publicValue = srpPublicValue(group, a);
    ASSERT_TRUE(publicValue);
    EXPECT_EQ(hex(*publicValue), expectedA);
    auto secret = srpPremasterSecret(group, "alice", "password123", salt, a, *publicValue, serverPublic);
    ASSERT_TRUE(secret);
    EXPECT_EQ(hex(*secret), expectedSecret);

    // A server value that is 0 mod N would fix the secret whatever the password: refused.
    EXPECT_FALSE(srpPremasterSecret(group, "alice", "password123", salt, a, *publicValue, group.prime));
    EXPECT_FALSE(srpPremasterSecret(group, "alice", "password123", salt, a, *publicValue, group.prime + group.prime));
}

// RFC 5869 gives answers for SHA-256 and SHA-1 only. These are its test cases 1, 2 and 3 with
// SHA-512, the first 32 bytes: computed with OpenSSL's command line,
//   openssl kdf -keylen 32 -kdfopt digest:SHA512 -kdfopt hexkey:IKM -kdfopt hexsalt:SALT
//               -kdfopt hexinfo:INFO HKDF
// and checked against a separate HMAC-SHA512 computation of extract and expand.
TEST(KnownAnswerTest, HkdfSha512MatchesTheRfc5869Cases) {
    std::string rangeKey, rangeSalt, rangeInfo;
    for (int i = 0x00; i < 0x50; ++i) rangeKey.push_back(static_cast<char>(i));
    for (int i = 0x60; i < 0xB0; ++i) rangeSalt.push_back(static_cast<char>(i));
    for (int i = 0xB0; i < 0x100; ++i) rangeInfo.push_back(static_cast<char>(i));
    struct Case {
        std::string key, salt, info, expected;
    } cases[] = {
        {std::string(22, '\x0b'), bytes("000102030405060708090a0b0c"), bytes("f0f1f2f3f4f5f6f7f8f9"),
         "832390086CDA71FB47625BB5CEB168E4C8E26A1A16ED34D9FC7FE92C14815793"},
        {rangeKey, rangeSalt, rangeInfo, "CE6C97192805B346E6161E821ED165673B84F400A2B514B2FE23D84CD189DDF1"},
        {std::string(22, '\x0b'), "", "", "F5FA02B18298A72A8C23898A8703472C6EB179DC204C03425C970E3B164BF90F"},
    };
    for (const Case& c : cases) {
        auto derived = crypto::hkdf(c.key, c.salt, c.info);
        ASSERT_TRUE(derived);
        EXPECT_EQ(hex(crypto::view(*derived)), c.expected) << c.key.size();
    }
}
