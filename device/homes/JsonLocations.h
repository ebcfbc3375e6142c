// Where things are in a JSON text, for messages that name a line: the line on which each object
// member and array element starts (by JSON pointer), repeated keys, and nesting too deep to parse
// safely. Device only; an instance is immutable once made and may be shared between threads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

class JsonLocations {
public:
    // Records the members of `text`, which must be valid JSON (it has been parsed) nested no deeper
    // than a JSON parser would take.
    explicit JsonLocations(std::string_view text);

    // The line (from 1) where the member or element at `pointer` starts ("" is the whole text);
    // for a pointer that names nothing in the text, the line of its nearest ancestor that does.
    int lineOf(const std::string& pointer) const;
    // The pointer of the first member whose key repeats an earlier key of the same object, or
    // empty when no key repeats.
    const std::string& firstRepeatedKey() const { return repeatedKey_; }

private:
    std::unordered_map<std::string, int> lines_;
    std::string repeatedKey_;
};

// `pointer` extended by the object key `key`, escaped as JSON pointers need ("~0", "~1").
std::string childPointer(const std::string& pointer, std::string_view key);
std::string childPointer(const std::string& pointer, size_t index);

// The line and column (both from 1) of the byte at `offset` in `text`.
std::pair<int, int> lineAndColumn(std::string_view text, size_t offset);

// The offset of the first bracket that opens an array or object nested deeper than `maxDepth`,
// or nothing when none is; strings are skipped. Works on any text, valid JSON or not.
std::optional<size_t> findDeepNesting(std::string_view text, int maxDepth);
