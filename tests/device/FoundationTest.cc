// Foundation's values: formatting, parsing, equality as dictionaries use it.
#include <gtest/gtest.h>
#include <clocale>

#include <Foundation/Foundation.h>
#include <Foundation/FoundationDevice.h>
#include <Foundation/PrintableText.h>

namespace {

TEST(NSStringFormatting, FollowsPrintfInTheCLocaleWhateverTheUserLocale) {
    EXPECT_EQ(NSString::stringWithFormat("%f,%f", 1.0, 0.501961)->string(), "1.000000,0.501961");
    std::string longText(500, 'x');
    EXPECT_EQ(NSString::stringWithFormat("%s!", longText.c_str())->length(), 501u);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
        EXPECT_EQ(NSString::stringWithFormat("%.2f", 0.5)->string(), "0.50");
        EXPECT_FLOAT_EQ(NSString::stringWithUTF8String("0.25")->floatValue(), 0.25f);
        std::setlocale(LC_ALL, "C");
    }
}

TEST(NSStringNumbers, ReadTheLeadingDecimalNumberOrZero) {
    auto value = [](const char* text) { return NSString::stringWithUTF8String(text)->floatValue(); };
    EXPECT_FLOAT_EQ(value("  0.501961"), 0.501961f);
    EXPECT_FLOAT_EQ(value("-1.5abc"), -1.5f);
    EXPECT_FLOAT_EQ(value(".5"), 0.5f);
    EXPECT_EQ(value("x1"), 0.0f);
    EXPECT_EQ(value(""), 0.0f);
    EXPECT_EQ(value("inf"), 0.0f);
    EXPECT_EQ(value("0x10"), 0.0f);
}

TEST(NSStringBoolValue, IsYesForYTOrANonZeroDigitAfterSpaceSignAndZeros) {
    auto value = [](const char* text) { return NSString::stringWithUTF8String(text)->boolValue() == YES; };
    for (const char* yes : {"YES", "y", "true", "T", "1", "9x", "  +0007", "-01", "\tYes", "+y", "0000t"})
        EXPECT_TRUE(value(yes)) << yes;
    for (const char* no : {"NO", "false", "0", "000", "0.5", ".9", "", "   ", "--1", "+-1", " + 1", "on", "x1", "0x1"})
        EXPECT_FALSE(value(no)) << no;
}

TEST(PrintableText, EscapesWhatATerminalActsOnAndKeepsTheRest) {
    using device::printable;
    EXPECT_EQ(printable("Küche 東京 \xf0\x9f\x92\xa1"), "Küche 東京 \xf0\x9f\x92\xa1");
    EXPECT_EQ(printable(std::string("a\x1b[2J\n\t\r\0\x7f", 10)), "a\\x1b[2J\\n\\t\\r\\x00\\x7f");
    EXPECT_EQ(printable("\xc2\x9b"
                        "31m \xc2\xa0"),
              "\\xc2\\x9b31m \xc2\xa0")
        << "C1 controls, not the no-break space";
    // Not UTF-8: a stray continuation byte, an overlong slash, a surrogate, a sequence cut short.
    EXPECT_EQ(printable("\x80 \xc0\xaf \xed\xa0\x80 \xe2\x82"), "\\x80 \\xc0\\xaf \\xed\\xa0\\x80 \\xe2\\x82");
    EXPECT_EQ(printable(R"(C:\x1b "q")"), R"(C:\\x1b "q")") << "a spelt-out escape stays told apart";
    EXPECT_EQ(device::quotedPrintable(R"(say "hi")"), R"("say \"hi\"")");
}

TEST(NSStringSplitting, KeepsEmptyPieces) {
    auto pieces = NSString::stringWithUTF8String(",a,,b,")->componentsSeparatedByString(NSSTR(","));
    ASSERT_EQ(pieces->count(), 5u);
    EXPECT_EQ(static_cast<NSString*>(pieces->objectAtIndex(1))->string(), "a");
    EXPECT_EQ(static_cast<NSString*>(pieces->objectAtIndex(2))->string(), "");
    EXPECT_THROW(pieces->objectAtIndex(5), NSException);
}

TEST(NSDictionaryKeys, MatchByValueAndKeepInsertionOrder) {
    auto dictionary = NSMutableDictionary::dictionary();
    dictionary->setObject_forKey(NSNumber::numberWithBool(YES), NSSTR("Enabled"));
    dictionary->setObject_forKey(NSNumber::numberWithInteger(3), NSString::stringWithUTF8String("Active"));
    dictionary->setObject_forKey(NSNumber::numberWithInteger(4), NSString::stringWithUTF8String("Enabled"));
    EXPECT_EQ(dictionary->count(), 2u);
    auto* value = static_cast<NSNumber*>(dictionary->objectForKey(NSString::stringWithUTF8String("Enabled")));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->integerValue(), 4);
    EXPECT_EQ(static_cast<NSString*>(dictionary->begin()->first.get())->string(), "Enabled");
    dictionary->removeObjectForKey(NSSTR("Enabled"));
    EXPECT_EQ(dictionary->objectForKey(NSSTR("Enabled")), nil);
    EXPECT_NE(dictionary->objectForKey(NSSTR("Active")), nil);
}

TEST(NSNumberEquality, ComparesValuesAcrossKinds) {
    EXPECT_TRUE(NSNumber::numberWithBool(YES)->isEqual(NSNumber::numberWithInteger(1)));
    EXPECT_TRUE(NSNumber::numberWithDouble(2.0)->isEqual(NSNumber::numberWithInteger(2)));
    EXPECT_FALSE(NSNumber::numberWithDouble(2.5)->isEqual(NSNumber::numberWithInteger(2)));
    EXPECT_EQ(NSNumber::numberWithDouble(1e300)->integerValue(), std::numeric_limits<NSInteger>::max());
    Strong<NSNumber> made = Strong<NSNumber>::adopt(NSNumber::alloc()->initWithInteger(55));
    EXPECT_EQ(made->kind(), NSNumber::Kind::integer);
    EXPECT_EQ(made->floatValue(), 55.0f);
}

}  // namespace

#include <fstream>
#include <sstream>

#include "support/TempDirectory.h"

namespace {

TEST(NSLogLines, GoWholeToTheDevicesSystemLog) {
    TempDirectory device;
    setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
    NSLog("[Glim] VideoToolboxDecoder callback error %d", -12909);
    NSLog("second line");
    std::ifstream log(device::systemLogPath());
    std::stringstream text;
    text << log.rdbuf();
    std::string contents = text.str();
    EXPECT_NE(contents.find("] [Glim] VideoToolboxDecoder callback error -12909\n"), std::string::npos) << contents;
    EXPECT_NE(contents.find("] second line\n"), std::string::npos);
    unsetenv("GLIMMORA_DEVICE");
}

}  // namespace
