// The keyring file: written with the first pairing, private to the user, kept across openings; a
// damaged, linked, misplaced or readable-by-others file refused rather than replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "hap/Keyring.h"
#include "support/StatusAssertions.h"
#include "support/TempDirectory.h"

using namespace device::hap;

TEST(KeyringTest, IdentityAndPairingsPersistInAPrivateFile) {
    TempDirectory directory;
    auto keyring = Keyring::open(directory.path());
    ASSERT_TRUE(succeeded(keyring.status()));
    const ControllerIdentity identity = keyring->controller();
    EXPECT_EQ(identity.pairingId.size(), 36u);
    // Nothing is written before there is a pairing to keep.
    struct stat info {};
    EXPECT_NE(stat(keyring->path().c_str(), &info), 0);

    AccessoryPairing lamp{"0E:47:4C:00:01:02", {}, {"lamp.local", 51826}};
    lamp.publicKey[0] = 0xAB;
    AccessoryPairing other{"0E:47:4C:00:01:03", {}};
    ASSERT_TRUE(succeeded(keyring->addPairing(lamp)));
    ASSERT_TRUE(succeeded(keyring->addPairing(other)));
    ASSERT_TRUE(succeeded(keyring->removePairing(other.pairingId)));

    auto again = Keyring::open(directory.path());
    ASSERT_TRUE(succeeded(again.status()));
    EXPECT_EQ(again->controller().pairingId, identity.pairingId);
    EXPECT_EQ(again->controller().publicKey, identity.publicKey);
    EXPECT_EQ(again->controller().secretKey, identity.secretKey);
    ASSERT_TRUE(again->pairing(lamp.pairingId));
    EXPECT_EQ(again->pairing(lamp.pairingId)->publicKey, lamp.publicKey);
    EXPECT_EQ(again->pairing(lamp.pairingId)->pairedAt.text(), "lamp.local:51826");
    EXPECT_FALSE(again->pairing(other.pairingId));
    ASSERT_EQ(stat(keyring->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Another identity each time a keyring is made.
    TempDirectory elsewhere;
    auto second = Keyring::open(elsewhere.path());
    ASSERT_TRUE(succeeded(second.status()));
    EXPECT_NE(second->controller().publicKey, identity.publicKey);
}

TEST(KeyringTest, ADamagedFileIsRefusedAndLeftAlone) {
    TempDirectory directory;
    std::string path = directory.path() + "/hap-keys.json";
    for (const char* text :
         {"not json", R"({"controller":{"pairingId":"x","publicKey":"00","secretKey":"00"},"accessories":[]})"}) {
        std::ofstream(path) << text;
        chmod(path.c_str(), 0600);
        auto refused = Keyring::open(directory.path());
        EXPECT_FALSE(refused.ok());
        EXPECT_NE(refused.status().message().find("damaged"), std::string::npos) << refused.status().message();
        std::ifstream file(path);
        std::string kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kept, text);
    }
}

TEST(KeyringTest, AKeyringThatIsNotAPrivateFileOfItsOwnIsRefusedAndLeftAlone) {
    TempDirectory directory;
    std::string path = directory.path() + "/hap-keys.json";
    auto refusal = [&] {
        auto refused = Keyring::open(directory.path());
        EXPECT_FALSE(refused.ok());
        return refused.status().message();
    };
    // A link to a keyring that is gone is not "no keyring": a new identity would cut off every lamp.
    ASSERT_EQ(symlink((directory.path() + "/gone.json").c_str(), path.c_str()), 0);
    EXPECT_NE(refusal().find("symbolic link"), std::string::npos);
    std::ofstream(directory.path() + "/gone.json") << "{}";
    EXPECT_NE(refusal().find("symbolic link"), std::string::npos);
    ASSERT_EQ(unlink(path.c_str()), 0);

    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    EXPECT_NE(refusal().find("is a directory"), std::string::npos);
    ASSERT_EQ(rmdir(path.c_str()), 0);

    auto keyring = Keyring::open(directory.path());
    ASSERT_TRUE(succeeded(keyring.status()));
    ASSERT_TRUE(succeeded(keyring->addPairing({"0E:47:4C:00:01:02", {}, {}})));
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    std::string readable = refusal();
    EXPECT_NE(readable.find("mode 0644"), std::string::npos) << readable;
    EXPECT_NE(readable.find("chmod 600"), std::string::npos) << readable;
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}
