// The keyring file: made once with a fresh identity, private to the user, kept across openings,
// and a damaged file refused rather than replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "hap/Keyring.h"
#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"

using namespace device::hap;

TEST(KeyringTest, IdentityAndPairingsPersistInAPrivateFile) {
    TempDirectory directory;
    device::Status status;
    auto keyring = Keyring::open(directory.path(), &status);
    ASSERT_TRUE(keyring) << status.message();
    const ControllerIdentity identity = keyring->controller();
    EXPECT_EQ(identity.pairingId.size(), 36u);

    struct stat info {};
    ASSERT_EQ(stat(keyring->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    AccessoryPairing lamp{"0E:47:4C:00:01:02", {}};
    lamp.publicKey[0] = 0xAB;
    AccessoryPairing other{"0E:47:4C:00:01:03", {}};
    ASSERT_TRUE(succeeded(keyring->addPairing(lamp)));
    ASSERT_TRUE(succeeded(keyring->addPairing(other)));
    ASSERT_TRUE(succeeded(keyring->removePairing(other.pairingId)));

    auto again = Keyring::open(directory.path(), &status);
    ASSERT_TRUE(again) << status.message();
    EXPECT_EQ(again->controller().pairingId, identity.pairingId);
    EXPECT_EQ(again->controller().publicKey, identity.publicKey);
    EXPECT_EQ(again->controller().secretKey, identity.secretKey);
    ASSERT_TRUE(again->pairing(lamp.pairingId));
    EXPECT_EQ(again->pairing(lamp.pairingId)->publicKey, lamp.publicKey);
    EXPECT_FALSE(again->pairing(other.pairingId));
    ASSERT_EQ(stat(keyring->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another identity each time a keyring is made.
    TempDirectory elsewhere;
    auto second = Keyring::open(elsewhere.path());
    ASSERT_TRUE(second);
    EXPECT_NE(second->controller().publicKey, identity.publicKey);
}

TEST(KeyringTest, ADamagedFileIsRefusedAndLeftAlone) {
    TempDirectory directory;
    std::string path = directory.path() + "/hap-keys.json";
    for (const char* text :
         {"not json", R"({"controller":{"pairingId":"x","publicKey":"00","secretKey":"00"},"accessories":[]})"}) {
        std::ofstream(path) << text;
        device::Status status;
        EXPECT_FALSE(Keyring::open(directory.path(), &status));
        EXPECT_NE(status.message().find("damaged"), std::string::npos) << status.message();
        std::ifstream file(path);
        std::string kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kept, text);
    }
}
