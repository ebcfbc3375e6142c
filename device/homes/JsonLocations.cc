#include "JsonLocations.h"

#include <unordered_set>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A walk over valid JSON that notes where each member starts. Strings never hold a raw line
// break in valid JSON, so lines are counted in white space alone.
class Scanner {
public:
    Scanner(std::string_view text, std::unordered_map<std::string, int>& lines, std::string& repeatedKey)
        : text_(text), lines_(lines), repeatedKey_(repeatedKey) {}

    void value(const std::string& pointer) {
        skipSpace();
        if (at_ >= text_.size()) return;
        char c = text_[at_];
        if (c == '{') {
            object(pointer);
        } else if (c == '[') {
            array(pointer);
        } else if (c == '"') {
            string();
        } else {
            while (at_ < text_.size() && std::string_view(",]} \t\r\n").find(text_[at_]) == std::string_view::npos)
                ++at_;
        }
    }

private:
    void object(const std::string& pointer) {
        ++at_;
        std::unordered_set<std::string> keys;
        while (true) {
            skipSpace();
            if (at_ >= text_.size() || text_[at_] == '}') break;
            int line = line_;
            std::string key = string();
            std::string child = childPointer(pointer, key);
            if (!keys.insert(key).second && repeatedKey_.empty()) {
                repeatedKey_ = child;
                lines_[child] = line;  // the repeat is what a message about it should point at
            }
            lines_.emplace(child, line);
            skipSpace();
            ++at_;  // ':'
            value(child);
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') ++at_;
        }
        ++at_;
    }

    void array(const std::string& pointer) {
        ++at_;
        for (size_t index = 0;; ++index) {
            skipSpace();
            if (at_ >= text_.size() || text_[at_] == ']') break;
            std::string child = childPointer(pointer, index);
            lines_.emplace(child, line_);
            value(child);
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') ++at_;
        }
        ++at_;
    }

    std::string string() {
        std::string out;
        ++at_;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            char escape = at_ < text_.size() ? text_[at_++] : '\\';
            switch (escape) {
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t code = hex4();
                    // A high surrogate followed by its low half is one character.
                    if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
                        at_ += 2;
                        uint32_t low = hex4();
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUtf8(out, code);
                    break;
                }
                default:
                    out += escape;
                    break;
            }
        }
        ++at_;
        return out;
    }

    uint32_t hex4() {
        uint32_t code = 0;
        for (int i = 0; i < 4 && at_ < text_.size(); ++i)
            code = code << 4 | static_cast<uint32_t>(hexDigit(text_[at_++]));
        return code;
    }

    void skipSpace() {
        while (at_ < text_.size()) {
            char c = text_[at_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                break;
            ++at_;
        }
    }

    std::string_view text_;
    size_t at_ = 0;
    int line_ = 1;
    std::unordered_map<std::string, int>& lines_;
    std::string& repeatedKey_;
};

}  // namespace

JsonLocations::JsonLocations(std::string_view text) {
    Scanner scanner(text, lines_, repeatedKey_);
    size_t start = text.find_first_not_of(" \t\r\n");
    lines_[""] = start == std::string_view::npos ? 1 : lineAndColumn(text, start).first;
    scanner.value("");
}

int JsonLocations::lineOf(const std::string& pointer) const {
    std::string path = pointer;
    while (true) {
        auto found = lines_.find(path);
        if (found != lines_.end()) return found->second;
        size_t slash = path.rfind('/');
        if (slash == std::string::npos) return 1;
        path.resize(slash);
    }
}

std::string childPointer(const std::string& pointer, std::string_view key) {
    std::string out = pointer + "/";
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

std::string childPointer(const std::string& pointer, size_t index) { return pointer + "/" + std::to_string(index); }

std::pair<int, int> lineAndColumn(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    int line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return {line, static_cast<int>(offset - lineStart) + 1};
}

std::optional<size_t> findDeepNesting(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) return i;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::nullopt;
}
