// Text from outside the program (names in a home description, settings keys and values, colour
// messages) made safe to show on a terminal, where a raw escape sequence could retitle the window
// or clear the screen, and a raw newline could forge a line of output.
//
// Plain functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace device {

// `text` with everything a terminal would act on written as an escape: newline, tab and carriage
// return as \n, \t and \r; every other control character (U+0000-U+001F, U+007F and U+0080-
// U+009F) and every byte that is not part of valid UTF-8 as \xHH, one per byte. A backslash is
// doubled, so an escape cannot be told apart from a name that spells one. Everything else,
// letters of any script included, passes unchanged.
std::string printable(std::string_view text);

// printable(text) in double quotes, with a double quote inside written as \".
std::string quotedPrintable(std::string_view text);

}  // namespace device
