// The one place where texts change encoding.
//
// Texts inside the program are byte strings. The program's own texts are
// written in the sources in UTF-8 and stored in windows-1251; station names
// and titles stay the bytes the stream sent until they are shown, and are
// shown as UTF-8 when they are valid UTF-8, else as windows-1251.
#pragma once

#include <string>
#include <string_view>

namespace platform {

bool IsValidUtf8(std::string_view bytes);

// Bytes as the screen shows them, in UTF-8: valid UTF-8 as it is, anything
// else read as windows-1251.
std::string DisplayText(std::string_view bytes);

// A shown (UTF-8) text back to bytes: each character in windows-1251 where
// that code page has it, in UTF-8 where it does not.
std::string AnsiText(std::string_view utf8);

}  // namespace platform
