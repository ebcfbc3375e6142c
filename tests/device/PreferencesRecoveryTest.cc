// HBPreferences when the database is damaged, deleted or locked: defaults, no crash, no hang, and
// recovery once the file is usable again.
#include <filesystem>
#include <fstream>

#include "PreferencesFixture.h"

namespace {

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void removeDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

const std::string kGarbage(8192, 'x');

}  // namespace

TEST_F(PreferencesTest, DamagedFileReadsAsDefaultsAndIsLeftAsItIs) {
    writeFile(databasePath(), kGarbage);
    auto prefs = open();
    prefs->registerDefaults(NSDictionary::dictionaryWithEntries({{NSSTR("Active"), NSNumber::numberWithBool(YES)}}));
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Active")));
    EXPECT_NE(prefs->lastError().find("not a settings database"), std::string::npos) << prefs->lastError();
    prefs->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR("Active"));
    EXPECT_NE(prefs->lastError(), "");
    EXPECT_EQ(readFile(databasePath()), kGarbage);

    removeDatabase(databasePath());
    ASSERT_EQ(runPrefs({"write", "com.tovek.glimmora", "Active", "--bool", "NO"}).exitCode, 0);
    EXPECT_TRUE(eventually([&] { return !prefs->boolForKey(NSSTR("Active")); }));
    EXPECT_EQ(prefs->lastError(), "");
}

TEST_F(PreferencesTest, DeletedFileIsNoticedAndWritesGoToItsSuccessor) {
    auto prefs = open();
    prefs->registerDefaults(NSDictionary::dictionaryWithEntries({{NSSTR("Active"), NSNumber::numberWithBool(YES)}}));
    prefs->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR("Active"));
    ASSERT_FALSE(prefs->boolForKey(NSSTR("Active")));

    removeDatabase(databasePath());
    EXPECT_TRUE(eventually([&] { return prefs->boolForKey(NSSTR("Active")); })) << "the value went with the file";
    prefs->setObject_forKey(NSSTR("after"), NSSTR("Note"));
    EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora", "Note"}).out, "\"after\"\n");
}

TEST_F(PreferencesTest, FileReplacedByGarbageWhileOpenReadsAsDefaultsUntilRepaired) {
    auto prefs = open();
    prefs->setObject_forKey(NSNumber::numberWithBool(YES), NSSTR("Active"));
    ASSERT_TRUE(prefs->boolForKey(NSSTR("Active")));

    removeDatabase(databasePath());
    writeFile(databasePath(), kGarbage);
    EXPECT_TRUE(eventually([&] { return !prefs->boolForKey(NSSTR("Active")); }));
    EXPECT_NE(prefs->lastError(), "");

    removeDatabase(databasePath());
    ASSERT_EQ(runPrefs({"write", "com.tovek.glimmora", "Active", "--bool", "YES"}).exitCode, 0);
    EXPECT_TRUE(eventually([&] { return prefs->boolForKey(NSSTR("Active")); }));
}

TEST_F(PreferencesTest, LockedFileReadsAsDefaultsUntilReleased) {
    open()->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR("Active"));
    auto holder = std::make_unique<LockHolder>(databasePath(), /*exclusive=*/true);
    ASSERT_TRUE(holder->holds());

    auto prefs = open();
    prefs->registerDefaults(NSDictionary::dictionaryWithEntries({{NSSTR("Active"), NSNumber::numberWithBool(YES)}}));
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Active")));
    EXPECT_NE(prefs->lastError().find("locked"), std::string::npos) << prefs->lastError();

    holder.reset();
    EXPECT_TRUE(eventually([&] { return !prefs->boolForKey(NSSTR("Active")); }));
}
