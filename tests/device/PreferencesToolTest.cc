// `glimmora prefs` as another process of the device: values cross in both directions, writers in
// several processes at once lose nothing, and bad input or a bad database gets a clear refusal.
#include <fstream>
#include <memory>
#include <thread>

#include "PreferencesFixture.h"

using ::testing::HasSubstr;

TEST_F(PreferencesTest, ToolAndLibrarySeeEachOthersWritesAtOnce) {
    auto prefs = open();
    ASSERT_FALSE(prefs->boolForKey(NSSTR("Active")));  // warms the cache that the tool's write must invalidate
    ASSERT_EQ(runPrefs({"write", "com.tovek.glimmora", "Active", "--bool", "yes"}).exitCode, 0);
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Active")));
    ASSERT_EQ(runPrefs({"write", "com.tovek.glimmora", "Rooms", "--array", "Küche", "Bad 2"}).exitCode, 0);
    EXPECT_TRUE(
        equals(prefs->objectForKey(NSSTR("Rooms")), NSArray::arrayWithObjects({NSSTR("Küche"), NSSTR("Bad 2")})));
    ASSERT_EQ(runPrefs({"write", "com.tovek.glimmora", "Level", "--int", "-7"}).exitCode, 0);
    ASSERT_EQ(runPrefs({"write", "com.tovek.glimmora", "Ratio", "--real", "2"}).exitCode, 0);

    // Text shows quoted, so the text YES is told from the Boolean; control characters show escaped.
    prefs->setObject_forKey(NSSTR("two\nlines"), NSSTR("Name"));
    prefs->setObject_forKey(NSSTR("YES"), NSSTR("Title\x1b]0;"));
    EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora", "Name"}).out, "\"two\\nlines\"\n");
    EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora", "Active"}).out, "YES\n");
    EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora"}).out,
              "Active = YES\nLevel = -7\nName = \"two\\nlines\"\nRatio = 2.0\nRooms = [\"Küche\", \"Bad 2\"]\n"
              "Title\\x1b]0; = \"YES\"\n");

    ASSERT_EQ(runPrefs({"delete", "com.tovek.glimmora", "Active"}).exitCode, 0);
    EXPECT_EQ(prefs->objectForKey(NSSTR("Active")).get(), nullptr);
    ASSERT_EQ(runPrefs({"delete", "com.tovek.glimmora"}).exitCode, 0);
    EXPECT_EQ(prefs->dictionaryRepresentation()->count(), 0u);
}

TEST_F(PreferencesTest, WritersInSeveralProcessesAndThreadsLoseNoValue) {
    std::vector<std::unique_ptr<BackgroundProcess>> writers;
    for (int i = 0; i < 8; ++i)
        writers.push_back(std::make_unique<BackgroundProcess>(
            prefsCommand({"write", "com.tovek.glimmora", "process" + std::to_string(i), "--int", std::to_string(i)})));
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t] {
            auto own = open();
            for (int i = 0; i < 20; ++i)
                own->setObject_forKey(NSNumber::numberWithInteger(i),
                                      NSString::stringWithFormat("thread%d.%d", t, i).get());
        });
    }
    for (auto& thread : threads) thread.join();
    for (auto& writer : writers) {
        ASSERT_TRUE(BackgroundProcess::waitFor([&] { return !writer->running(); }, std::chrono::seconds(20)));
        ProcessResult result = writer->stop();
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    auto all = open()->dictionaryRepresentation();
    EXPECT_EQ(all->count(), 8u + 2 * 20);
    EXPECT_TRUE(equals(all->objectForKey(NSSTR("process7")), NSNumber::numberWithInteger(7)));
}

TEST_F(PreferencesTest, ToolRefusesBadInputAndStoresNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bool", "maybe"}, "--bool takes YES/NO/true/false/1/0, not 'maybe'"},
        {{"--int", "12abc"}, "--int takes a whole number"},
        {{"--int", "99999999999999999999"}, "from -9223372036854775808 to 9223372036854775807"},
        {{"--real", "nan"}, "--real takes a number"},
        {{"--real", "1e999"}, "--real takes a number within"},
        {{"one", "two"}, "only --array takes more than one VALUE"},
        {{}, "write needs a VALUE"},
        {{"--bool", "--int", "1"}, "excludes"},
    };
    for (const auto& [extra, message] : cases) {
        std::vector<std::string> arguments = {"write", "com.tovek.glimmora", "Key"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ProcessResult result = runPrefs(arguments);
        EXPECT_NE(result.exitCode, 0) << message;
        EXPECT_THAT(result.err, HasSubstr(message));
    }
    EXPECT_EQ(open()->objectForKey(NSSTR("Key")).get(), nullptr);

    ProcessResult missing = runPrefs({"read", "com.tovek.glimmora", "Key"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_THAT(missing.err, HasSubstr("com.tovek.glimmora has no value for Key"));
    EXPECT_NE(runPrefs({"delete", "com.tovek.glimmora", "Key"}).exitCode, 0);
}

TEST_F(PreferencesTest, ToolReportsADamagedDatabaseAndLeavesIt) {
    const std::string garbage = "SQLite format 3, or so it claims" + std::string(4096, '\x01');
    std::ofstream(databasePath(), std::ios::binary) << garbage;
    for (auto arguments : std::vector<std::vector<std::string>>{{"write", "com.tovek.glimmora", "Key", "value"},
                                                                {"read", "com.tovek.glimmora", "Key"}}) {
        ProcessResult result = runPrefs(arguments);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_THAT(result.err, HasSubstr("preferences.sqlite3 is damaged or is not a settings database"));
    }
    std::ifstream in(databasePath(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), garbage);
}

TEST_F(PreferencesTest, ToolReportsALockedDatabaseAndTheOldValueStays) {
    open()->setObject_forKey(NSSTR("old"), NSSTR("Key"));
    {
        LockHolder writeLock(databasePath(), /*exclusive=*/false);
        ASSERT_TRUE(writeLock.holds());
        ProcessResult result = runPrefs({"write", "com.tovek.glimmora", "Key", "new"});
        EXPECT_NE(result.exitCode, 0);
        EXPECT_THAT(result.err, HasSubstr("is locked by another process"));
        EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora", "Key"}).out, "\"old\"\n") << "readers pass a writer's lock";
    }
    EXPECT_TRUE(equals(open()->objectForKey(NSSTR("Key")), NSSTR("old")));
}
