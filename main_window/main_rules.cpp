#include "main_rules.h"

#include <QList>
#include <QTextDocument>
#include <charconv>
#include <cstring>

#include "ansi_text.h"

std::string Ansi(const char* utf8) { return platform::AnsiText(utf8); }

QString Shown(const std::string& bytes) { return QString::fromStdString(platform::DisplayText(bytes)); }

QString PlainHint(const QString& text)
{
    if (!Qt::mightBeRichText(text)) return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

std::string Bytes(const QString& text) { return platform::AnsiText(text.toStdString()); }

std::string StationDecoration(std::int32_t storedIndex)
{
    const std::int64_t number = std::int64_t{storedIndex} + 1;
    return Ansi("    \\ Станция ") + std::to_string(static_cast<std::int32_t>(number)) + " \\";
}

std::string WithoutDecoration(const std::string& text, const std::string& decoration)
{
    if (text.size() >= decoration.size() &&
        text.compare(text.size() - decoration.size(), decoration.size(), decoration) == 0)
        return text.substr(0, text.size() - decoration.size());
    return text;
}

std::int32_t ParseStationIndex(const char* text)
{
    if (text == nullptr) return 0;
    const char* end = text + std::strlen(text);
    const char* start = text;
    if (start != end && *start == '+') ++start;  // "+5" is a number too
    std::int32_t value = 0;
    const auto [stop, error] = std::from_chars(start, end, value);
    if (error != std::errc() || stop != end || start == end) return 0;
    return value;
}

std::int32_t ClampStationIndex(std::int32_t index)
{
    if (index <= 0) return 0;
    if (index >= 99) return 99;
    return index;
}

QString TickerStep(const QString& title, std::int32_t& position)
{
    const QList<uint> text = (QString(30, ' ') + title + QString(4, ' ')).toUcs4();
    const auto length = static_cast<std::int32_t>(text.size());
    QString shown;
    if (position >= 1 && position <= length) {
        const QList<uint> rest = text.mid(position - 1);
        shown = QString::fromUcs4(reinterpret_cast<const char32_t*>(rest.data()), rest.size());
    }
    ++position;
    if (position >= length) position = 1;
    return shown;
}
