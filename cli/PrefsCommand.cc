// `glimmora prefs`: reads, writes and deletes settings in the device's settings database, as
// macOS `defaults` does for its domains. It goes through HBPreferences, so it is one more process
// sharing the database with the simulated ones.
#include <cctype>
#include <charconv>
#include <cmath>
#include <iostream>
#include <memory>

#include <Foundation/PrintableText.h>
#include <HBPreferences/HBPreferences.h>

#include "Commands.h"

namespace {

struct PrefsArguments {
    std::string identifier;
    std::string key;
    std::vector<std::string> values;
    bool asBool = false, asInteger = false, asReal = false, asString = false, asArray = false;
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "glimmora prefs: " << message << "\n";
    throw CLI::RuntimeError(1);
}

Strong<HBPreferences> openStore(const std::string& identifier) {
    if (identifier.empty()) fail("IDENTIFIER must not be empty");
    return Strong<HBPreferences>::adopt(
        HBPreferences::alloc()->initWithIdentifier(NSString::stringWithString(identifier).get()));
}

// --- Values from the command line -----------------------------------------------------------------

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

Strong<NSObject> parseBool(const std::string& text) {
    std::string word = lowercase(text);
    if (word == "yes" || word == "true" || word == "1") return NSNumber::numberWithBool(YES);
    if (word == "no" || word == "false" || word == "0") return NSNumber::numberWithBool(NO);
    fail("--bool takes YES/NO/true/false/1/0, not '" + text + "'");
}

// from_chars refuses a leading '+', which people write.
std::string_view withoutPlus(const std::string& text) {
    std::string_view view = text;
    if (view.size() > 1 && view[0] == '+' && view[1] != '-') view.remove_prefix(1);
    return view;
}

Strong<NSObject> parseInteger(const std::string& text) {
    std::string_view digits = withoutPlus(text);
    long long value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range)
        fail("--int takes a whole number from -9223372036854775808 to 9223372036854775807, not '" + text + "'");
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
        fail("--int takes a whole number, not '" + text + "'");
    return NSNumber::numberWithLongLong(value);
}

Strong<NSObject> parseReal(const std::string& text) {
    std::string_view digits = withoutPlus(text);
    double value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) fail("--real takes a number within ±1.8e308, not '" + text + "'");
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || std::isnan(value))
        fail("--real takes a number such as 0.5, -2 or 1e-3, not '" + text + "'");
    return NSNumber::numberWithDouble(value);
}

Strong<NSObject> parseValue(const PrefsArguments& args) {
    if (args.asArray) {
        std::vector<Strong<NSObject>> strings;
        for (const std::string& value : args.values) strings.emplace_back(NSString::stringWithString(value));
        return NSArray::arrayWithVector(std::move(strings));
    }
    if (args.values.empty()) fail("write needs a VALUE after the KEY");
    if (args.values.size() > 1)
        fail("only --array takes more than one VALUE, and " + std::to_string(args.values.size()) + " were given");
    const std::string& text = args.values.front();
    if (args.asBool) return parseBool(text);
    if (args.asInteger) return parseInteger(text);
    if (args.asReal) return parseReal(text);
    return NSString::stringWithString(text);
}

// --- Values for printing ----------------------------------------------------------------------------

// The shortest text that reads back as the same double, with a point so it never looks whole.
std::string formatReal(double value) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (text.find_first_of(".en") == std::string::npos) text += ".0";
    return text;
}

// Booleans as YES/NO, numbers as numbers, strings quoted (so the text "YES" shows apart from the
// Boolean), arrays as lists of quoted strings. Control characters show escaped.
std::string formatValue(NSObject* value) {
    if (auto* number = objc_cast<NSNumber>(value)) {
        switch (number->kind()) {
            case NSNumber::Kind::boolean:
                return number->boolValue() ? "YES" : "NO";
            case NSNumber::Kind::integer:
                return std::to_string(number->longLongValue());
            case NSNumber::Kind::real:
                return formatReal(number->doubleValue());
        }
    }
    if (auto* string = objc_cast<NSString>(value)) return device::quotedPrintable(string->string());
    if (auto* array = objc_cast<NSArray>(value)) {
        std::string out = "[";
        for (const auto& element : *array)
            out += (out.size() > 1 ? ", " : "") + device::quotedPrintable(element->description());
        return out + "]";
    }
    return device::printable(value->description());
}

// --- The subcommands ---------------------------------------------------------------------------------

void readSettings(const PrefsArguments& args, bool oneKey) {
    Strong<HBPreferences> prefs = openStore(args.identifier);
    if (oneKey) {
        Strong<NSObject> value = prefs->objectForKey(NSString::stringWithString(args.key).get());
        std::string error = prefs->lastError();
        if (!error.empty()) fail("cannot read " + args.identifier + " " + args.key + ": " + error);
        if (!value) fail(args.identifier + " has no value for " + args.key);
        std::cout << formatValue(value.get()) << "\n";
        return;
    }
    Strong<NSDictionary> all = prefs->dictionaryRepresentation();
    std::string error = prefs->lastError();
    for (const auto& [key, value] : *all)
        std::cout << device::printable(key->description()) << " = " << formatValue(value.get()) << "\n";
    if (!error.empty()) fail("cannot read " + args.identifier + (all->count() ? " in full: " : ": ") + error);
    if (all->count() == 0) fail(args.identifier + " has no stored values");
}

void writeSetting(const PrefsArguments& args) {
    if (args.key.empty()) fail("KEY must not be empty");
    Strong<NSObject> value = parseValue(args);
    Strong<HBPreferences> prefs = openStore(args.identifier);
    prefs->setObject_forKey(value.get(), NSString::stringWithString(args.key).get());
    if (std::string error = prefs->lastError(); !error.empty())
        fail("cannot write " + args.identifier + " " + args.key + ": " + error);
}

void deleteSettings(const PrefsArguments& args, bool oneKey) {
    Strong<HBPreferences> prefs = openStore(args.identifier);
    std::string what = oneKey ? args.identifier + " " + args.key : args.identifier;
    bool present = false;
    if (oneKey)
        present = prefs->objectForKey(NSString::stringWithString(args.key).get()) != nullptr;
    else
        present = prefs->dictionaryRepresentation()->count() > 0;
    if (std::string error = prefs->lastError(); !error.empty()) fail("cannot delete " + what + ": " + error);
    if (!present)
        fail(oneKey ? args.identifier + " has no value for " + args.key : args.identifier + " has no stored values");
    if (oneKey)
        prefs->removeObjectForKey(NSString::stringWithString(args.key).get());
    else
        prefs->removeAllObjects();
    if (std::string error = prefs->lastError(); !error.empty()) fail("cannot delete " + what + ": " + error);
}

}  // namespace

void addPrefsCommand(CLI::App& app) {
    auto args = std::make_shared<PrefsArguments>();
    CLI::App* prefs = app.add_subcommand(
        "prefs",
        "Read, write and delete settings in the device's settings database (preferences.sqlite3 in the "
        "device directory), shared with the device's processes");
    prefs->require_subcommand(1);
    const char* identifierHelp = "The settings store, e.g. com.tovek.glimmora";

    CLI::App* read = prefs->add_subcommand(
        "read",
        "Print the value of KEY; without KEY, print every stored key as `KEY = VALUE` lines. Booleans "
        "print as YES/NO, numbers as numbers, text in double quotes (so the text \"YES\" shows apart from "
        "the Boolean YES), arrays as [\"a\", \"b\"]; control characters show escaped (\\n, \\x1b). Fails when "
        "nothing is stored");
    read->add_option("IDENTIFIER", args->identifier, identifierHelp)->required();
    CLI::Option* readKey = read->add_option("KEY", args->key, "The key to print");
    read->callback([args, readKey] { readSettings(*args, readKey->count() > 0); });

    CLI::App* write = prefs->add_subcommand(
        "write",
        "Store VALUE under KEY, replacing what was there. Without a type flag VALUE is stored as text, as "
        "`defaults write` does; a switch read from text is on when the text starts with Y, y, T, t or a "
        "digit 1-9 (after spaces, a sign and zeros), so YES and true switch on. Put -- before a VALUE that "
        "starts with -");
    write->add_option("IDENTIFIER", args->identifier, identifierHelp)->required();
    write->add_option("KEY", args->key, "The key to set")->required();
    write->add_option("VALUE", args->values, "The value; with --array, the elements (none for an empty list)");
    std::vector<CLI::Option*> types = {
        write->add_flag("--bool", args->asBool, "VALUE is a Boolean: YES/NO/true/false/1/0"),
        write->add_flag("--int", args->asInteger, "VALUE is a whole number (64-bit)"),
        write->add_flag("--real", args->asReal, "VALUE is a floating-point number"),
        write->add_flag("--string", args->asString, "VALUE is text (the default)"),
        write->add_flag("--array", args->asArray, "Store a list of strings, one per VALUE"),
    };
    for (CLI::Option* type : types) {
        for (CLI::Option* other : types) {
            if (other != type) type->excludes(other);
        }
    }
    write->callback([args] { writeSetting(*args); });

    CLI::App* remove = prefs->add_subcommand(
        "delete", "Remove KEY; without KEY, remove every key of IDENTIFIER. Fails when there is nothing to remove");
    remove->add_option("IDENTIFIER", args->identifier, identifierHelp)->required();
    CLI::Option* removeKey = remove->add_option("KEY", args->key, "The key to remove");
    remove->callback([args, removeKey] { deleteSettings(*args, removeKey->count() > 0); });
}
