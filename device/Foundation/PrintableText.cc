#include "PrintableText.h"

#include <cstdio>

namespace device {
namespace {

// The length of the valid UTF-8 sequence at `text[i]`, or 0 when the byte there does not start one
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
size_t sequenceLength(std::string_view text, size_t i) {
    auto byte = [&](size_t at) { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u; };
    const unsigned lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    // The second byte's range excludes overlong forms, surrogates and code points beyond U+10FFFF.
    unsigned low = 0x80, high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) return 0;
    return length;
}

void appendHex(std::string& out, unsigned char byte) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    out += escape;
}

std::string escaped(std::string_view text, bool escapeQuotes) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const size_t length = sequenceLength(text, i);
        // U+0080-U+009F, the C1 controls, are C2 80-C2 9F in UTF-8.
        const bool c1 = length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (length == 0 || c1 || byte < 0x20 || byte == 0x7f) {
            switch (byte) {
                case '\n':
                    out += "\\n";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                default:
                    appendHex(out, byte);
            }
            if (c1) appendHex(out, static_cast<unsigned char>(text[i + 1]));
            i += c1 ? 2 : 1;
            continue;
        }
        if (byte == '\\')
            out += "\\\\";
        else if (byte == '"' && escapeQuotes)
            out += "\\\"";
        else
            out.append(text, i, length);
        i += length;
    }
    return out;
}

}  // namespace

std::string printable(std::string_view text) { return escaped(text, false); }

std::string quotedPrintable(std::string_view text) { return "\"" + escaped(text, true) + "\""; }

}  // namespace device
