// The listening log's rules that need no window: the texts of its lines, the
// automatic log file's name, and how the log's text becomes a file.
//
// Lines are the program's bytes: its own words in windows-1251, station names,
// titles and addresses as they came. Numbers are decimal without leading
// zeros; the year has its four digits.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

// A local date and time as the log writes it, read once per operation.
struct LogTime {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;    // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The local date and time now, to the second.
LogTime LocalLogTime();

// " ", 46 hyphens, " ": opens and closes the start-up and shutdown records.
std::string SeparatorLine();

// " Интернет приемник Tarvel " and the program's web-site host name.
std::string ProgramLine();

// " Включен 5.3.2024 г.  в 14 час 3 мин 7 сек ": when the program started.
std::string SwitchedOnLine(const LogTime& time);

// " Выключен ..." in the same form: when the program ended.
std::string SwitchedOffLine(const LogTime& time);

// The line of two blanks that sets a station line apart.
std::string StationGapLine();

// " Станция N >> " + panel 0 + " = " + the address box, N the preset's
// number (index plus one): the program's words in windows-1251, the two texts
// as they are.
std::string StationLine(std::int32_t stationIndex, const std::string& statusText,
                        const std::string& address);

// The station line as the log shows it. The pieces keep their own encodings,
// so the line is shown piece by piece: a station name in UTF-8 beside the
// program's windows-1251 words still reads right.
QString ShownStationLine(std::int32_t stationIndex, const std::string& statusText,
                         const std::string& address);

// " " + the title, as the stream sent it.
std::string TitleLine(const std::string& title);

// "_2024_3_5_14_3_7.log" for 5 March 2024 at 14:03:07.
std::string AutoLogFileName(const LogTime& time);

// What a line appended to the log inserts at its end. The log's text normally
// ends with a line break, and the line goes before a new one; when the user
// has removed that break (the last line is not empty), the break goes first,
// so the line still starts a line of its own.
QString AppendedText(bool lastLineEmpty, const QString& line);

// The file bytes of a log's raw text (lines separated by the document's
// paragraph or line separators, or by '\n'): every line break as CR LF, the
// text in the program's bytes (windows-1251, UTF-8 for what it lacks). This
// is how lines the user typed or changed are written.
std::string LogFileBytes(const QString& rawText);
