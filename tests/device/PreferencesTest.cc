// HBPreferences within one process: defaults, bound Booleans, value types, sharing between
// instances and threads, and rows that cannot be read.
#include <climits>
#include <cmath>
#include <thread>

#include "PreferencesFixture.h"

namespace {

Strong<NSString> str(const std::string& text) { return NSString::stringWithString(text); }

}  // namespace

TEST_F(PreferencesTest, DefaultsAnswerOnlyForKeysWithoutStoredValue) {
    auto prefs = open();
    prefs->registerDefaults(NSDictionary::dictionaryWithEntries(
        {{NSSTR("Enabled"), NSNumber::numberWithBool(YES)}, {NSSTR("Youtube"), NSNumber::numberWithBool(NO)}}));
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Enabled")));
    EXPECT_FALSE(prefs->boolForKey(NSSTR("Unregistered")));
    EXPECT_EQ(prefs->objectForKey(NSSTR("Unregistered")).get(), nullptr);

    prefs->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR("Enabled"));
    EXPECT_FALSE(prefs->boolForKey(NSSTR("Enabled")));
    prefs->registerDefaults(NSDictionary::dictionaryWithEntries({{NSSTR("Youtube"), NSNumber::numberWithBool(YES)}}));
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Youtube"))) << "a later registration replaces the earlier default";

    prefs->removeObjectForKey(NSSTR("Enabled"));
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Enabled"))) << "removing the stored value brings the default back";
    EXPECT_EQ(prefs->dictionaryRepresentation()->count(), 0u) << "defaults are not stored values";
}

TEST_F(PreferencesTest, BoundBooleansAreSetBeforeTheCallReturns) {
    open()->setObject_forKey(NSNumber::numberWithBool(YES), NSSTR("Youtube"));
    open()->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR("Enabled"));

    auto prefs = open();
    BOOL youtube = NO, enabled = YES, active = NO;
    prefs->registerBool_default_forKey(&youtube, NO, NSSTR("Youtube"));
    prefs->registerBool_default_forKey(&enabled, YES, NSSTR("Enabled"));
    prefs->registerBool_default_forKey(&active, YES, NSSTR("Active"));
    EXPECT_TRUE(youtube);
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(active);
    EXPECT_TRUE(prefs->boolForKey(NSSTR("Active"))) << "binding also registers the default";
}

TEST_F(PreferencesTest, ValuesKeepTheirTypeAndValue) {
    auto unicodeList = NSArray::arrayWithObjects({NSSTR("Wohnzimmer"), NSSTR("Küche \"1\"\n"), NSSTR("")});
    std::vector<std::pair<const char*, Strong<NSObject>>> values = {
        {"yes", NSNumber::numberWithBool(YES)},
        {"max", NSNumber::numberWithLongLong(LLONG_MAX)},
        {"min", NSNumber::numberWithLongLong(LLONG_MIN)},
        {"tenth", NSNumber::numberWithDouble(0.1)},
        {"infinite", NSNumber::numberWithDouble(-INFINITY)},
        {"text", NSString::stringWithString(std::string("a\0b ✓", 7))},
        {"empty", NSString::stringWithString("")},
        {"list", unicodeList},
        {"none", NSArray::array()},
    };
    auto writer = open();
    for (auto& [key, value] : values) {
        writer->setObject_forKey(value.get(), str(key).get());
        ASSERT_EQ(writer->lastError(), "") << key;
    }

    auto reader = open();
    for (auto& [key, value] : values) {
        Strong<NSObject> read = reader->objectForKey(str(key).get());
        ASSERT_TRUE(read) << key;
        EXPECT_TRUE(read->isEqual(value.get())) << key << ": " << read->description();
        EXPECT_EQ(read->isa, value->isa) << key;
        if (auto* number = objc_cast<NSNumber>(read.get())) {
            EXPECT_EQ(number->kind(), objc_cast<NSNumber>(value.get())->kind()) << key;
        }
    }
    EXPECT_TRUE(reader->boolForKey(NSSTR("max")));
    EXPECT_FALSE(reader->boolForKey(NSSTR("text"))) << "a string is not a Boolean";
    EXPECT_FALSE(reader->boolForKey(NSSTR("list")));
}

TEST_F(PreferencesTest, ValuesThatCannotBeStoredAreRefusedAndTheOldValueStays) {
    auto prefs = open();
    prefs->setObject_forKey(NSSTR("kept"), NSSTR("Key"));
    const std::vector<Strong<NSObject>> refused = {
        NSDictionary::dictionaryWithEntries({}),
        NSArray::arrayWithObjects({NSSTR("a"), NSNumber::numberWithInteger(1)}),
        NSArray::arrayWithObjects({NSString::stringWithString("\xff\xfe").get()}),
        NSNumber::numberWithDouble(NAN),
    };
    for (const auto& value : refused) {
        prefs->setObject_forKey(value.get(), NSSTR("Key"));
        EXPECT_NE(prefs->lastError(), "") << value->description();
        EXPECT_TRUE(equals(open()->objectForKey(NSSTR("Key")), NSSTR("kept"))) << value->description();
    }
    prefs->setObject_forKey(nil, NSSTR("Key"));
    EXPECT_EQ(open()->objectForKey(NSSTR("Key")).get(), nullptr) << "nil removes the key";
}

TEST_F(PreferencesTest, AnotherInstanceSeesEachWriteAtItsNextRead) {
    auto reader = open();
    auto writer = open();
    auto otherStore = open("com.example.other");
    for (BOOL value : {YES, NO, YES}) {
        writer->setObject_forKey(NSNumber::numberWithBool(value), NSSTR("Active"));
        EXPECT_EQ(reader->boolForKey(NSSTR("Active")), value);
        EXPECT_FALSE(otherStore->boolForKey(NSSTR("Active"))) << "stores with other identifiers are separate";
    }
    writer->setObject_forKey(NSSTR("b"), NSSTR("B"));
    writer->setObject_forKey(NSSTR("a"), NSSTR("A"));
    Strong<NSDictionary> all = reader->dictionaryRepresentation();
    std::vector<std::string> keys;
    for (auto& [key, _] : *all) keys.push_back(key->description());
    EXPECT_EQ(keys, (std::vector<std::string>{"A", "Active", "B"}));
}

TEST_F(PreferencesTest, ThreadsWritingAtOnceLoseNoValue) {
    auto shared = open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto own = open();  // a connection of its own, contending with the shared instance's
            for (int i = 0; i < 25; ++i) {
                own->setObject_forKey(NSNumber::numberWithInteger(i),
                                      str("own" + std::to_string(t) + "." + std::to_string(i)).get());
                shared->setObject_forKey(NSNumber::numberWithInteger(i),
                                         str("shared" + std::to_string(t) + "." + std::to_string(i)).get());
                shared->boolForKey(NSSTR("Active"));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(open()->dictionaryRepresentation()->count(), 4u * 25 * 2);
}

TEST_F(PreferencesTest, UnreadableRowsReadAsMissingAndAreNamed) {
    auto prefs = open();
    prefs->registerDefaults(NSDictionary::dictionaryWithEntries({{NSSTR("Homes"), NSArray::array()}}));
    prefs->setObject_forKey(NSSTR("fine"), NSSTR("Good"));
    sqlite3* db = nullptr;
    sqlite3_open(databasePath().c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO preferences VALUES ('com.tovek.glimmora', 'Homes', 'array', '[1,2]'),"
                           " ('com.tovek.glimmora', 'Active', 'boolean', 'yes'),"
                           " ('com.tovek.glimmora', 'Odd', 'colour', 'red')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    EXPECT_TRUE(equals(prefs->objectForKey(NSSTR("Homes")), NSArray::array())) << "the default stands in";
    EXPECT_NE(prefs->lastError().find("Homes"), std::string::npos) << prefs->lastError();
    EXPECT_FALSE(prefs->boolForKey(NSSTR("Active")));
    EXPECT_EQ(prefs->objectForKey(NSSTR("Odd")).get(), nullptr);
    EXPECT_TRUE(equals(prefs->objectForKey(NSSTR("Good")), NSSTR("fine")));
    EXPECT_EQ(prefs->lastError(), "");
    EXPECT_EQ(prefs->dictionaryRepresentation()->count(), 1u);
}
