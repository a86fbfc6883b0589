#include "writer_rules.h"

#include <QDateTime>

#include "texts.h"
#include "program_info.h"

namespace {

// "5.3.2024 г.  в 14 час 3 мин 7 сек ": two blanks after "г.", one at the end.
std::string DateAndTime(const LogTime& time)
{
    using std::to_string;
    return to_string(time.day) + "." + to_string(time.month) + "." + to_string(time.year) +
           Ansi(" г.  в ") + to_string(time.hour) + Ansi(" час ") + to_string(time.minute) +
           Ansi(" мин ") + to_string(time.second) + Ansi(" сек ");
}

// " Станция N >> ".
std::string StationLineStart(std::int32_t stationIndex)
{
    // Widened first: the index is the program's, but nothing here should
    // overflow whatever it holds.
    const std::int64_t number = std::int64_t{stationIndex} + 1;
    return Ansi(" Станция ") + std::to_string(number) + " >> ";
}

}  // namespace

LogTime LocalLogTime()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
}

std::string SeparatorLine()
{
    return " " + std::string(46, '-') + " ";
}

std::string ProgramLine()
{
    return Ansi(" Интернет приемник Tarvel ") + kWebSiteDomain;
}

std::string SwitchedOnLine(const LogTime& time)
{
    return Ansi(" Включен ") + DateAndTime(time);
}

std::string SwitchedOffLine(const LogTime& time)
{
    return Ansi(" Выключен ") + DateAndTime(time);
}

std::string StationGapLine()
{
    return "  ";
}

std::string StationLine(std::int32_t stationIndex, const std::string& statusText,
                        const std::string& address)
{
    return StationLineStart(stationIndex) + statusText + " = " + address;
}

QString ShownStationLine(std::int32_t stationIndex, const std::string& statusText,
                         const std::string& address)
{
    return Shown(StationLineStart(stationIndex)) + Shown(statusText) + QStringLiteral(" = ") +
           Shown(address);
}

std::string TitleLine(const std::string& title)
{
    return " " + title;
}

std::string AutoLogFileName(const LogTime& time)
{
    using std::to_string;
    return "_" + to_string(time.year) + "_" + to_string(time.month) + "_" + to_string(time.day) +
           "_" + to_string(time.hour) + "_" + to_string(time.minute) + "_" +
           to_string(time.second) + ".log";
}

QString AppendedText(bool lastLineEmpty, const QString& line)
{
    return lastLineEmpty ? line + QChar(u'\n') : QChar(u'\n') + line;
}

std::string LogFileBytes(const QString& rawText)
{
    QString text;
    text.reserve(rawText.size() + rawText.size() / 16);
    for (const QChar c : rawText) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n')
            text += QStringLiteral("\r\n");
        else
            text += c;
    }
    return Bytes(text);
}
