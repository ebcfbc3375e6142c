// Identifiers and errors as HomeKit hands them out: NSUUID text and equality, name-based
// identifiers, and NSError's description.
#include <set>

#include <gtest/gtest.h>

#include <HomeKit/HomeKitClasses.h>
#include <homes/NameBasedUUID.h>

namespace {

TEST(NSUUIDText, ReadsEitherCaseAndAlwaysWritesUpperCase) {
    Strong<NSUUID> lower = NSUUID::fromString("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->UUIDString()->string(), "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    Strong<NSUUID> upper = NSUUID::fromString("6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    EXPECT_TRUE(lower->isEqual(upper));
    EXPECT_EQ(lower->hash(), upper->hash());
    EXPECT_FALSE(lower->isEqual(NSUUID::fromString("6BA7B810-9DAD-11D1-80B4-00C04FD430C9")));

    // Equal identifiers find each other as dictionary keys, as room identifiers must.
    auto byIdentifier = NSMutableDictionary::dictionary();
    NSString* lounge = NSSTR("lounge");
    byIdentifier->setObject_forKey(lounge, lower);
    EXPECT_EQ(byIdentifier->objectForKey(upper), lounge);

    for (const char* bad : {"", "6ba7b810-9dad-11d1-80b4-00c04fd430c", "6ba7b810-9dad-11d1-80b4-00c04fd430c8a",
                            "6ba7b8109dad-11d1-80b4-00c04fd430c8-", "6ba7b810-9dad-11d1-80b4-00c04fd430cg",
                            "{6ba7b810-9dad-11d1-80b4-00c04fd430c}"}) {
        EXPECT_FALSE(NSUUID::fromString(bad)) << bad;
    }
    EXPECT_FALSE(NSUUID::fromString(nullptr));
}

TEST(NSUUIDText, RandomIdentifiersAreVersionFourAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string text = NSUUID::UUID()->UUIDString()->string();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(NSUUIDRuntime, AnswersTheMessagesTheSystemSends) {
    device::registerHomeKitClasses();
    Class cls = objc_getClass("NSUUID");
    ASSERT_NE(cls, Nil);
    auto made = Strong<NSUUID>::adopt(
        objc_cast<NSUUID>(objc_msgSend<id>(objc_msgSend<id>(cls, SEL_(alloc)), SEL_(initWithUUIDString:),
                                           static_cast<id>(NSSTR("00000043-0000-1000-8000-0026bb765291")))));
    ASSERT_TRUE(made);
    auto* text = objc_cast<NSString>(objc_msgSend<id>(made.get(), SEL_(UUIDString)));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->string(), "00000043-0000-1000-8000-0026BB765291");
    EXPECT_EQ(
        objc_msgSend<id>(objc_msgSend<id>(cls, SEL_(alloc)), SEL_(initWithUUIDString:), static_cast<id>(NSSTR("nope"))),
        nil);
    auto random = Strong<NSUUID>::adopt(objc_cast<NSUUID>(objc_msgSend<id>(cls, SEL_(UUID))));
    ASSERT_TRUE(random);
    EXPECT_FALSE(objc_msgSend<BOOL>(random.get(), SEL_(isEqual:), static_cast<id>(made.get())));
    EXPECT_TRUE(
        objc_msgSend<BOOL>(made.get(), SEL_(isEqual:), static_cast<id>(NSUUID::fromString(text->UTF8String()).get())));
}

TEST(NameBasedUUID, IsTheStandardVersionFiveIdentifier) {
    // RFC 4122's DNS namespace and a name whose version 5 identifier is widely published.
    Strong<NSUUID> dns = NSUUID::fromString("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    EXPECT_EQ(nameBasedUUID(dns, "python.org")->UUIDString()->string(), "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
    EXPECT_FALSE(nameBasedUUID(dns, "room:Kitchen#0")->isEqual(nameBasedUUID(dns, "room:Kitchen#1")));
    // Names longer than one SHA-1 block take the multi-block path.
    std::string longName(200, 'x');
    EXPECT_TRUE(nameBasedUUID(dns, longName)->isEqual(nameBasedUUID(dns, longName)));
    EXPECT_FALSE(nameBasedUUID(dns, longName)->isEqual(nameBasedUUID(dns, longName + "y")));
}

TEST(NSErrorDescription, ComesFromUserInfoElseFoundationsGenericText) {
    auto userInfo = NSDictionary::dictionaryWithEntries({{NSLocalizedDescriptionKey, NSSTR("the lamp is off")}});
    Strong<NSError> described = NSError::errorWithDomain_code_userInfo(NSSTR("HMErrorDomain"), 54, userInfo);
    EXPECT_EQ(described->localizedDescription()->string(), "the lamp is off");
    Strong<NSError> bare = NSError::errorWithDomain_code_userInfo(NSSTR("HMErrorDomain"), 8, nil);
    EXPECT_EQ(bare->localizedDescription()->string(), "The operation couldn’t be completed. (HMErrorDomain error 8.)");

    device::registerHomeKitClasses();
    auto made = Strong<NSError>::adopt(objc_cast<NSError>(
        objc_msgSend<id>(objc_getClass("NSError"), SEL_(errorWithDomain:code:userInfo:), static_cast<id>(NSSTR("D")),
                         NSInteger{3}, static_cast<id>(userInfo.get()))));
    ASSERT_TRUE(made);
    EXPECT_EQ(objc_msgSend<NSInteger>(made.get(), SEL_(code)), 3);
    EXPECT_EQ(objc_cast<NSString>(objc_msgSend<id>(made.get(), SEL_(domain)))->string(), "D");
    EXPECT_EQ(objc_cast<NSString>(objc_msgSend<id>(made.get(), SEL_(localizedDescription)))->string(),
              "the lamp is off");
}

}  // namespace
