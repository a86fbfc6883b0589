// The main window's rules that need no widget: the settings' clamping and
// the address box's decoration, the ticker's step, the failure reasons.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "texts.h"

// The text start-up appends to the address box after the stored address,
// in windows-1251: "    \ Станция N \" with N the stored index plus one.
std::string StationDecoration(std::int32_t storedIndex);

// text without the decoration at its end; text as it is when it does not
// end with it.
std::string WithoutDecoration(const std::string& text, const std::string& decoration);

// A stored "LastNamber": a decimal integer, or 0 for anything else.
std::int32_t ParseStationIndex(const char* text);

// 0 to 99: 0 or less gives 0, 99 or more 99.
std::int32_t ClampStationIndex(std::int32_t index);

// One tick of the taskbar ticker: the application title shows the title
// behind 30 blanks, followed by 4, from the 1-based position on; the
// position moves one character on and starts again at 1 when it reaches the
// text's length. Characters, not bytes, so a UTF-8 title moves one letter
// at a time.
QString TickerStep(const QString& title, std::int32_t& position);

// Why a station could not be played, for status panel 1: a short text that
// fits the panel and the whole sentence for its hint, both in
// windows-1251. error is the audio library's error code; serverStatus what
// panel 1 shows (the server's status line, if one came), which an HTTP
// error keeps; timeoutSeconds the library's connect limit.
struct FailureText {
    std::string panel;
    std::string hint;
};
FailureText FailureReason(int error, const std::string& serverStatus, int timeoutSeconds);

