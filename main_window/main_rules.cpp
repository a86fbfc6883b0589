#include "main_rules.h"

#include <QList>
#include <QTextDocument>
#include <charconv>
#include <cstring>

#include "ansi_text.h"
#include "sonivex.h"

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

FailureText FailureReason(int error, const std::string& serverStatus, int timeoutSeconds)
{
    switch (error) {
    case BASS_ERROR_NOHOST:
        return {Ansi("Адрес не найден"), Ansi("Сервера с таким именем нет: проверьте адрес")};
    case BASS_ERROR_CONNECT:
        return {Ansi("Отказ в соединении"), Ansi("Сервер отказал в соединении или недоступен")};
    case BASS_ERROR_TIMEOUT:
        return {Ansi("Нет ответа"),
                Ansi("Сервер не ответил за ") + std::to_string(timeoutSeconds) + Ansi(" с")};
    case BASS_ERROR_HTTP:
        // The server's own answer says it best, as it always has.
        if (serverStatus.rfind("HTTP/", 0) == 0 || serverStatus.rfind("ICY ", 0) == 0)
            return {serverStatus, Ansi("Сервер ответил ошибкой: ") + serverStatus};
        return {Ansi("Ошибка сервера"), Ansi("Сервер прервал передачу или ответил не по правилам HTTP")};
    case BASS_ERROR_TLS:
        return {Ansi("Сертификат отклонён"),
                Ansi("Защищённое соединение не установлено: сертификат сервера не принят")};
    case BASS_ERROR_NOTAUDIO:
        return {Ansi("Не аудиопоток"),
                Ansi("По адресу нет аудиопотока: веб-страница или плейлист без станций")};
    case BASS_ERROR_FORMAT:
        return {Ansi("Формат не поддержан"), Ansi("Формат потока не поддерживается")};
    case BASS_ERROR_ILLPARAM:
        return {Ansi("Неверный адрес"), Ansi("Адрес станции начинается с http:// или https://")};
    default:
        return {Ansi("Ошибка"), Ansi("Поток не открылся (код ошибки ") + std::to_string(error) + ")"};
    }
}
