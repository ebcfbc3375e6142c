// Reading a method's type string: the types of its return value and arguments, and comparing them
// with the types of a call made from C++.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime.h"

namespace {

struct TypeToken {
    char kind;
    std::string structName;  // for '{' and '('
    std::string text;        // the type as written, qualifiers and class name included, offset dropped
};

// Skips one type starting at `p`; returns the position after it.
const char* skipType(const char* p, TypeToken* token) {
    while (*p && std::strchr("rnNoORV", *p)) ++p;
    token->kind = *p;
    token->structName.clear();
    switch (*p) {
        case '\0':
            return p;
        case '{':
        case '(':
        case '[': {
            char open = *p, close = open == '{' ? '}' : open == '(' ? ')' : ']';
            const char* nameStart = p + 1;
            int depth = 0;
            const char* q = p;
            for (; *q; ++q) {
                if (*q == open) ++depth;
                if (*q == close && --depth == 0) break;
            }
            if (open != '[') {
                const char* nameEnd = nameStart;
                while (*nameEnd && *nameEnd != '=' && *nameEnd != close) ++nameEnd;
                token->structName.assign(nameStart, nameEnd);
            }
            return *q ? q + 1 : q;
        }
        case '^': {
            TypeToken pointee;
            return skipType(p + 1, &pointee);
        }
        case '@':
            if (p[1] == '?') return p + 2;
            if (p[1] == '"') {
                const char* q = std::strchr(p + 2, '"');
                return q ? q + 1 : p + 2;
            }
            return p + 1;
        case 'b':
            ++p;
            while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
            return p;
        default:
            return p + 1;
    }
}

std::vector<TypeToken> tokenize(const char* types) {
    std::vector<TypeToken> tokens;
    const char* p = types ? types : "";
    while (*p) {
        while (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-') ++p;
        if (!*p) break;
        TypeToken token;
        const char* start = p;
        p = skipType(p, &token);
        token.text.assign(start, p);
        tokens.push_back(token);
    }
    return tokens;
}

bool sameType(const TypeToken& method, const TypeToken& call) {
    if (method.kind != call.kind) return false;
    if (method.kind == '{' && !method.structName.empty() && !call.structName.empty())
        return method.structName == call.structName;
    return true;
}

// The tokens of a method's type string: its return type, then self, _cmd and its arguments.
std::vector<TypeToken> methodTokens(Method m) { return tokenize(method_getTypeEncoding(m)); }

char* copyText(const std::vector<TypeToken>& tokens, size_t position) {
    if (position >= tokens.size()) return nullptr;
    return strdup(tokens[position].text.c_str());
}

void copyInto(const std::vector<TypeToken>& tokens, size_t position, char* dst, size_t dst_len) {
    if (dst == nullptr || dst_len == 0) return;
    const char* text = position < tokens.size() ? tokens[position].text.c_str() : "";
    std::strncpy(dst, text, dst_len);
}

}  // namespace

unsigned int method_getNumberOfArguments(Method m) {
    std::vector<TypeToken> tokens = methodTokens(m);
    return tokens.empty() ? 0 : static_cast<unsigned int>(tokens.size() - 1);
}

char* method_copyReturnType(Method m) { return copyText(methodTokens(m), 0); }

char* method_copyArgumentType(Method m, unsigned int index) { return copyText(methodTokens(m), size_t{index} + 1); }

void method_getReturnType(Method m, char* dst, size_t dst_len) { copyInto(methodTokens(m), 0, dst, dst_len); }

void method_getArgumentType(Method m, unsigned int index, char* dst, size_t dst_len) {
    copyInto(methodTokens(m), size_t{index} + 1, dst, dst_len);
}

void objc_checkCallTypes(id receiver, SEL op, const char* methodTypes, const std::string& callTypes) {
    std::vector<TypeToken> method = tokenize(methodTypes);
    std::vector<TypeToken> call = tokenize(callTypes.c_str());
    bool match = method.size() == call.size();
    for (size_t i = 0; match && i < method.size(); ++i) match = sameType(method[i], call[i]);
    if (match) return;
    std::fprintf(stderr, "objc: message %s to %s called as \"%s\" but the method's types are \"%s\"\n", sel_getName(op),
                 object_getClassName(receiver), callTypes.c_str(), methodTypes);
    std::abort();
}
