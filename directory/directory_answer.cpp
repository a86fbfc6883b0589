#include "directory_answer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>

namespace {

// Servers have sent counts as numbers and as strings of digits.
std::int64_t Count(const QJsonValue& value)
{
    if (value.isDouble()) return std::max<std::int64_t>(0, value.toInteger());
    if (value.isString()) return std::max<qlonglong>(0, value.toString().trimmed().toLongLong());
    return 0;
}

QString Text(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toString().trimmed();
}

}  // namespace

QUrl SearchUrl(const QString& server, const DirectoryQuery& query)
{
    // Each value is percent-encoded whole: a '+' or '&' in a name is part of
    // the name, not a space or the next field.
    QByteArray items;
    const auto add = [&items](const char* key, const QString& value) {
        const QString trimmed = value.trimmed();
        if (trimmed.isEmpty()) return;
        if (!items.isEmpty()) items += '&';
        items += key;
        items += '=';
        items += QUrl::toPercentEncoding(trimmed);
    };
    add("name", query.name);
    add("tag", query.tag);
    const QString country = query.country.trimmed();
    if (country.size() == 2)
        add("countrycode", country.toUpper());
    else
        add("country", country);
    add("language", query.language);
    add("limit", QString::number(kDirectorySearchLimit));
    add("hidebroken", QStringLiteral("true"));
    add("order", QStringLiteral("clickcount"));
    add("reverse", QStringLiteral("true"));
    QUrl url(server + QStringLiteral("/json/stations/search"));
    url.setQuery(QString::fromLatin1(items));
    return url;
}

QUrl ClickUrl(const QString& server, const QString& uuid)
{
    return QUrl(server + QStringLiteral("/json/url/") +
                QString::fromLatin1(QUrl::toPercentEncoding(uuid)));
}

bool IsWebAddress(const QString& text)
{
    const QUrl url(text.trimmed());
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

DirectoryAnswer ReadStations(const QByteArray& body)
{
    DirectoryAnswer answer;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        answer.failure = UnreadableAnswerMessage();
        return answer;
    }
    const QJsonArray entries = document.array();
    answer.stations.reserve(static_cast<std::size_t>(entries.size()));
    for (const QJsonValue& entry : entries) {
        if (!entry.isObject()) continue;
        const QJsonObject object = entry.toObject();
        DirectoryStation station;
        station.address = Text(object, "url_resolved");
        if (!IsWebAddress(station.address)) station.address = Text(object, "url");
        if (!IsWebAddress(station.address)) continue;
        station.uuid = Text(object, "stationuuid");
        station.name = Text(object, "name");
        station.country = Text(object, "country");
        station.countryCode = Text(object, "countrycode");
        station.language = Text(object, "language");
        station.tags = Text(object, "tags");
        station.codec = Text(object, "codec");
        station.bitrate =
            static_cast<int>(std::min<std::int64_t>(Count(object.value("bitrate")), 1 << 20));
        station.votes = Count(object.value("votes"));
        station.clicks = Count(object.value("clickcount"));
        answer.stations.push_back(std::move(station));
    }
    std::stable_sort(answer.stations.begin(), answer.stations.end(),
                     [](const DirectoryStation& a, const DirectoryStation& b) {
                         if (a.clicks != b.clicks) return a.clicks > b.clicks;
                         return a.votes > b.votes;
                     });
    return answer;
}

QString TimeoutMessage(std::chrono::milliseconds timeout)
{
    const auto seconds =
        std::max<std::int64_t>(1, std::chrono::round<std::chrono::seconds>(timeout).count());
    // Russian counts: 1, 21, 31 секунду; 2-4, 22-24 секунды; the rest секунд.
    const std::int64_t lastTwo = seconds % 100, last = seconds % 10;
    const char* word = "секунд";
    if (last == 1 && lastTwo != 11)
        word = "секунду";
    else if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14))
        word = "секунды";
    return QString::fromUtf8("Каталог не ответил за %1 %2")
        .arg(seconds)
        .arg(QString::fromUtf8(word));
}

QString HttpErrorMessage(int status)
{
    return QString::fromUtf8("Каталог ответил ошибкой %1").arg(status);
}

QString UnreadableAnswerMessage()
{
    return QString::fromUtf8("Каталог прислал ответ, который не удалось прочитать");
}

QString NoConnectionMessage(const QString& reason)
{
    return QString::fromUtf8("Нет связи с каталогом: ") + reason;
}
