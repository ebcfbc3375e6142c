// The settings database pulled from under running processes: truncated, locked for seconds by
// another process, written by several processes at once. Reads give a stored value or the
// registered default, never anything else and never after a long wait; the store recovers once
// the file is usable again; no write that reported success is lost.
#include <unistd.h>
#include <filesystem>
#include <memory>
#include <thread>

#include "PreferencesFixture.h"

namespace {

using namespace std::chrono_literals;

// The `sqlite3` shell (scripts/setup installs it), found on PATH; empty when there is none.
std::string sqliteShell() {
    const char* path = getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= directories.size();) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::string candidate = directories.substr(start, end - start) + "/sqlite3";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Another process that opens the database with the `sqlite3` shell, takes `lock` and holds it for
// `seconds`; it touches `marker` once the lock is held.
std::unique_ptr<BackgroundProcess> holdLock(const std::string& database, const std::string& marker,
                                            const std::vector<std::string>& lock, double seconds) {
    std::vector<std::string> argv = {sqliteShell(), database};
    argv.insert(argv.end(), lock.begin(), lock.end());
    argv.push_back(".shell touch " + marker);
    argv.push_back(".shell sleep " + std::to_string(seconds));
    argv.push_back("COMMIT;");
    return std::make_unique<BackgroundProcess>(argv);
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

class PreferencesFaultTest : public PreferencesTest {
protected:
    // An instance with "Mode" defaulting to "default".
    static Strong<HBPreferences> openWithDefault() {
        auto prefs = open();
        prefs->registerDefaults(NSDictionary::dictionaryWithEntries({{NSSTR("Mode"), NSSTR("default")}}));
        return prefs;
    }
    // "Mode" as `prefs` reads it; a value that is neither stored nor the default fails the test.
    static std::string mode(const Strong<HBPreferences>& prefs) {
        Strong<NSObject> value = prefs->objectForKey(NSSTR("Mode"));
        auto* text = objc_cast<NSString>(value.get());
        EXPECT_NE(text, nullptr) << (value ? value->description() : "nil");
        return text ? text->string() : "";
    }
    std::string marker() const { return device_.path() + "/locked"; }
};

}  // namespace

// A file cut to nothing, or in the middle of a page, while instances have it open and another
// process writes: every read answers, with the stored value or the default, and once a writer has
// made the file whole again (or it was replaced) every instance reads the new value.
TEST_F(PreferencesFaultTest, TruncatedFileReadsAsStoredOrDefaultAndRecovers) {
    for (off_t size : {off_t{0}, off_t{4096 + 1000}, off_t{100}}) {
        SCOPED_TRACE("truncated to " + std::to_string(size) + " bytes");
        auto writer = openWithDefault();
        auto reader = openWithDefault();
        for (int i = 0; i < 40; ++i)  // several pages, so that a cut can fall inside the table
            writer->setObject_forKey(NSString::stringWithFormat("filler %d %s", i, std::string(200, 'x').c_str()).get(),
                                     NSString::stringWithFormat("Filler%d", i).get());
        writer->setObject_forKey(NSSTR("stored"), NSSTR("Mode"));
        ASSERT_EQ(mode(reader), "stored");

        ASSERT_EQ(truncate(databasePath().c_str(), size), 0);
        for (int i = 0; i < 30; ++i) {
            std::string seen = mode(reader);
            EXPECT_TRUE(seen == "stored" || seen == "default") << seen;
            std::this_thread::sleep_for(10ms);
        }
        // The tool repairs nothing: it writes, or it says why it cannot.
        ProcessResult written = runPrefs({"write", "com.tovek.glimmora", "Mode", "after " + std::to_string(size)});
        if (written.exitCode != 0) {
            EXPECT_NE(written.err.find("preferences.sqlite3"), std::string::npos) << written.err;
            for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(databasePath() + suffix);
            written = runPrefs({"write", "com.tovek.glimmora", "Mode", "after " + std::to_string(size)});
        }
        ASSERT_EQ(written.exitCode, 0) << written.err;
        std::string expected = "after " + std::to_string(size);
        EXPECT_TRUE(eventually([&] { return mode(reader) == expected; }))
            << mode(reader) << "; " << reader->lastError();
        EXPECT_TRUE(eventually([&] { return mode(writer) == expected; }))
            << mode(writer) << "; " << writer->lastError();
        EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora", "Mode"}).out, "\"" + expected + "\"\n");
        writer->setObject_forKey(NSSTR("written again"), NSSTR("Other"));
        EXPECT_EQ(writer->lastError(), "");
        EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora", "Other"}).out, "\"written again\"\n");
    }
}

// Deleting only the database file leaves its write-ahead log and index behind, still in use by the
// instances that have the old file open and have not looked since. A new database made by another
// process must not be read through them: it starts empty, takes writes, and every instance comes
// to read it.
TEST_F(PreferencesFaultTest, DatabaseDeletedWithoutItsLogStartsAfresh) {
    auto idle = openWithDefault();
    idle->setObject_forKey(NSSTR("stored"), NSSTR("Mode"));
    idle->setObject_forKey(NSSTR("old"), NSSTR("Old"));
    ASSERT_EQ(mode(idle), "stored");

    ASSERT_EQ(unlink(databasePath().c_str()), 0);
    ASSERT_TRUE(exists(databasePath() + "-wal"));
    ProcessResult empty = runPrefs({"read", "com.tovek.glimmora"});
    EXPECT_EQ(empty.out, "") << "the old file's values came back";
    EXPECT_NE(empty.err.find("has no stored values"), std::string::npos) << empty.err;
    ProcessResult written = runPrefs({"write", "com.tovek.glimmora", "Mode", "new"});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora"}).out, "Mode = \"new\"\n");
    EXPECT_TRUE(eventually([&] { return mode(idle) == "new"; })) << idle->lastError();
    idle->setObject_forKey(NSSTR("again"), NSSTR("Again"));
    EXPECT_EQ(idle->lastError(), "");
    idle = nullptr;  // the last connection to the old file goes; the new file's log must stay
    EXPECT_EQ(runPrefs({"read", "com.tovek.glimmora"}).out, "Again = \"again\"\nMode = \"new\"\n");
}

// Another process holds the database exclusively for seconds (readers are shut out too): reads in
// this process give the defaults while it holds, and answer while it still holds, as does the tool
// in a process of its own. Afterwards the stored value is read again.
TEST_F(PreferencesFaultTest, ExclusiveLockOfAnotherProcessGivesDefaultsWithoutWaitingForIt) {
    open()->setObject_forKey(NSSTR("stored"), NSSTR("Mode"));
    if (sqliteShell().empty()) GTEST_SKIP() << "the sqlite3 shell is not installed (scripts/setup installs it)";
    auto holder = holdLock(databasePath(), marker(), {"PRAGMA locking_mode = EXCLUSIVE;", "BEGIN EXCLUSIVE;"}, 4);
    ASSERT_TRUE(eventually([&] { return exists(marker()); })) << holder->err();

    auto prefs = openWithDefault();
    EXPECT_EQ(mode(prefs), "default");
    EXPECT_NE(prefs->lastError().find("locked"), std::string::npos) << prefs->lastError();
    ProcessResult tool = runPrefs({"read", "com.tovek.glimmora", "Mode"});
    EXPECT_NE(tool.exitCode, 0);
    EXPECT_NE(tool.err.find("locked"), std::string::npos) << tool.err;
    EXPECT_TRUE(holder->running()) << "the reads waited for the lock to go";

    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !holder->running(); }, 30s));
    EXPECT_TRUE(eventually([&] { return mode(prefs) == "stored"; })) << prefs->lastError();
}

// Another process holds the write lock for a second while several processes and an instance here
// write different keys: readers are not held up, and every write either lands or says it did not.
TEST_F(PreferencesFaultTest, WritersBehindAnotherProcessesWriteLockLoseNothingSilently) {
    open()->setObject_forKey(NSSTR("stored"), NSSTR("Mode"));
    if (sqliteShell().empty()) GTEST_SKIP() << "the sqlite3 shell is not installed (scripts/setup installs it)";
    auto holder = holdLock(databasePath(), marker(), {"BEGIN EXCLUSIVE;"}, 1);
    ASSERT_TRUE(eventually([&] { return exists(marker()); })) << holder->err();

    auto reader = openWithDefault();
    EXPECT_EQ(mode(reader), "stored") << "a writer's lock does not stop readers";
    std::vector<std::unique_ptr<BackgroundProcess>> writers;
    for (int i = 0; i < 6; ++i)
        writers.push_back(std::make_unique<BackgroundProcess>(
            prefsCommand({"write", "com.tovek.glimmora", "process" + std::to_string(i), "--int", std::to_string(i)})));
    auto own = open();
    own->setObject_forKey(NSSTR("here"), NSSTR("Here"));
    std::string ownError = own->lastError();

    int landed = 0;
    auto stored = [](const std::string& key) { return open()->objectForKey(NSString::stringWithString(key).get()); };
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(BackgroundProcess::waitFor([&] { return !writers[i]->running(); }, 30s));
        ProcessResult result = writers[i]->stop();
        Strong<NSObject> value = stored("process" + std::to_string(i));
        if (result.exitCode == 0) {
            ++landed;
            EXPECT_TRUE(value && value->isEqual(NSNumber::numberWithInteger(i))) << i;
        } else {
            EXPECT_NE(result.err.find("locked"), std::string::npos) << result.err;
            EXPECT_EQ(value.get(), nullptr) << "a write that failed was stored";
        }
    }
    EXPECT_GT(landed, 0) << "no writer outlasted a one-second lock";
    if (ownError.empty())
        EXPECT_TRUE(stored("Here") && stored("Here")->isEqual(NSSTR("here")));
    else
        EXPECT_EQ(stored("Here").get(), nullptr) << ownError;
    EXPECT_EQ(mode(reader), "stored");
}
