// The station catalogue: every preset address has the shape its slot calls
// for, and every button picture is drawn, sized and distinct.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "StationAddresses.h"
#include "station_pictures.h"

namespace {

struct Url {
    std::string scheme, host, path;
    std::optional<long> port;
    std::map<std::string, std::string> query;
    bool valid = false;
};

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// scheme://host[:port][/path][?key=value&...]
Url Parse(std::string_view text)
{
    Url url;
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string_view::npos) return url;
    url.scheme = text.substr(0, schemeEnd);
    text.remove_prefix(schemeEnd + 3);
    const std::string_view authority = text.substr(0, text.find_first_of("/?"));
    text.remove_prefix(authority.size());
    const size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (!AllDigits(port) || port.size() > 5) return url;
        url.port = std::stol(std::string(port));
    }
    const size_t question = text.find('?');
    url.path = text.substr(0, question);
    if (question != std::string_view::npos) {
        std::string_view query = text.substr(question + 1);
        while (!query.empty()) {
            const std::string_view pair = query.substr(0, query.find('&'));
            query.remove_prefix(std::min(query.size(), pair.size() + 1));
            const size_t equals = pair.find('=');
            url.query[std::string(pair.substr(0, equals))] =
                equals == std::string_view::npos ? "" : std::string(pair.substr(equals + 1));
        }
    }
    url.valid = !url.host.empty();
    return url;
}

bool IsIPv4(const std::string& host)
{
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        const size_t dot = std::min(host.find('.', start), host.size());
        const std::string part = host.substr(start, dot - start);
        if (!AllDigits(part) || part.size() > 3 || std::stoi(part) > 255) return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

bool EndsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

enum class Kind { PLS, DIR, IP, HOST, PATH, M3U, M3UQ, Unknown };
using enum Kind;

std::string Name(Kind kind)
{
    constexpr const char* kNames[] = {"PLS", "DIR", "IP", "HOST", "PATH", "M3U", "M3UQ", "unknown"};
    return kNames[static_cast<int>(kind)];
}

void PrintTo(Kind kind, std::ostream* out) { *out << Name(kind); }

bool LooksNumeric(const std::string& host)
{
    return host.find_first_not_of("0123456789.") == std::string::npos;
}

Kind Classify(const Url& url)
{
    if (!url.valid || url.scheme != "http") return Unknown;
    const bool hasQuery = !url.query.empty();
    if (EndsWith(url.path, ".m3u"))
        return !hasQuery ? M3U
               : url.query.count("station") && url.query.count("stream") ? M3UQ
                                                                          : Unknown;
    if (EndsWith(url.path, ".pls")) {
        if (!hasQuery) return url.port ? Unknown : PLS;
        return url.query.count("id") && AllDigits(url.query.at("id")) ? DIR : Unknown;
    }
    if (hasQuery) return Unknown;
    if (url.path.empty()) {
        if (LooksNumeric(url.host)) return IsIPv4(url.host) && url.port ? IP : Unknown;
        return HOST;
    }
    // A mount path, not a bare slash, on a named host.
    return url.port && url.path.size() > 1 && !LooksNumeric(url.host) ? PATH : Unknown;
}

// The kind each preset slot holds, ten genre columns of ten.
constexpr Kind kExpected[100] = {
    PLS,  PLS,  DIR,  IP,   DIR,  DIR,  DIR,  DIR,  IP,   DIR,   // Funk
    DIR,  DIR,  DIR,  PLS,  IP,   IP,   DIR,  DIR,  DIR,  DIR,   // Jazz
    DIR,  PLS,  PLS,  PLS,  PATH, IP,   PLS,  IP,   IP,   DIR,   // World
    IP,   HOST, IP,   HOST, IP,   IP,   PLS,  PLS,  PLS,  PLS,   // Blue&Rock
    PLS,  PLS,  PLS,  PATH, IP,   IP,   IP,   DIR,  DIR,  IP,    // Retro
    HOST, PATH, M3UQ, HOST, M3U,  M3UQ, PATH, PATH, DIR,  DIR,   // Radio
    PLS,  HOST, IP,   DIR,  DIR,  DIR,  M3U,  IP,   DIR,  DIR,   // Latino
    IP,   M3U,  IP,   HOST, DIR,  IP,   IP,   HOST, PATH, PATH,  // Modern
    PLS,  IP,   IP,   IP,   IP,   PATH, PATH, HOST, M3U,  IP,    // Classik
    IP,   DIR,  IP,   PATH, IP,   HOST, DIR,  PLS,  PATH, PATH,  // Relax
};

Url Slot(int slot) { return Parse(StationAddresses[slot - 1]); }

TEST(UrlShapes, ClassifierTellsTheKindsApart)
{
    EXPECT_EQ(Classify(Parse("http://somafm.com/groovesalad.pls")), PLS);
    EXPECT_EQ(Classify(Parse("http://yp.shoutcast.com/sbin/tunein-station.pls?id=42")), DIR);
    EXPECT_EQ(Classify(Parse("http://1.2.3.4:8000")), IP);
    EXPECT_EQ(Classify(Parse("http://host.example:8000")), HOST);
    EXPECT_EQ(Classify(Parse("http://ice1.somafm.com:80/groovesalad-128-mp3")), PATH);
    EXPECT_EQ(Classify(Parse("http://host.example/list.m3u")), M3U);
    EXPECT_EQ(Classify(Parse("http://host.example/radio.m3u?station=a&stream=128")), M3UQ);
    // Near misses: a trailing slash, a missing port, a bad octet, a wordy id,
    // a playlist with a port, an https address, a half-formed query.
    EXPECT_EQ(Classify(Parse("http://1.2.3.4:8000/")), Unknown);
    EXPECT_EQ(Classify(Parse("http://host.example:8000/")), Unknown);
    EXPECT_EQ(Classify(Parse("http://1.2.3.4")), Unknown);
    EXPECT_EQ(Classify(Parse("http://1.2.3.256:80")), Unknown);
    EXPECT_EQ(Classify(Parse("http://h.example/t.pls?id=abc")), Unknown);
    EXPECT_EQ(Classify(Parse("http://h.example:8000/listen.pls")), Unknown);
    EXPECT_EQ(Classify(Parse("https://somafm.com/groovesalad.pls")), Unknown);
    EXPECT_EQ(Classify(Parse("http://h.example/a.m3u?station=a")), Unknown);
}

TEST(StationCatalogue, EverySlotHasItsKindAndTheTotalsAdd)
{
    std::map<Kind, int> totals;
    for (int slot = 1; slot <= 100; ++slot) {
        const Kind kind = Classify(Slot(slot));
        EXPECT_EQ(kind, kExpected[slot - 1])
            << "slot " << slot << ": " << StationAddresses[slot - 1];
        ++totals[kind];
    }
    EXPECT_EQ(totals[PLS], 17);
    EXPECT_EQ(totals[DIR], 27);
    EXPECT_EQ(totals[IP], 29);
    EXPECT_EQ(totals[HOST], 9);
    EXPECT_EQ(totals[PATH], 12);
    EXPECT_EQ(totals[M3U], 4);
    EXPECT_EQ(totals[M3UQ], 2);
}

TEST(StationCatalogue, OnlySlots17And70Repeat)
{
    EXPECT_STREQ(StationAddresses[16], StationAddresses[69]);
    std::set<std::string> seen;
    for (int slot = 1; slot <= 100; ++slot) {
        if (slot != 70) {
            EXPECT_TRUE(seen.insert(StationAddresses[slot - 1]).second) << "slot " << slot;
        }
    }
}

TEST(StationCatalogue, PlainHttpWithoutBlanksOrControls)
{
    for (int slot = 1; slot <= 100; ++slot) {
        const std::string address = StationAddresses[slot - 1];
        EXPECT_EQ(address.rfind("http://", 0), 0u) << "slot " << slot;
        for (const unsigned char c : address)
            EXPECT_TRUE(c > ' ' && c < 0x7f) << "slot " << slot << ": " << address;
    }
}

TEST(StationCatalogue, PartsFitTheirKinds)
{
    for (int slot = 1; slot <= 100; ++slot) {
        SCOPED_TRACE(StationAddresses[slot - 1]);
        const Url url = Slot(slot);
        EXPECT_TRUE(!url.port || (*url.port >= 1 && *url.port <= 65535));
        switch (kExpected[slot - 1]) {
        case IP: {
            ASSERT_TRUE(IsIPv4(url.host));
            const int first = std::stoi(url.host);
            const int second = std::stoi(url.host.substr(url.host.find('.') + 1));
            EXPECT_TRUE(first != 0 && first != 10 && first != 127 && first < 224);
            EXPECT_FALSE(first == 192 && second == 168);
            EXPECT_FALSE(first == 172 && second >= 16 && second < 32);
            EXPECT_TRUE(url.port.has_value());
            break;
        }
        case DIR:
            ASSERT_TRUE(url.query.count("id"));
            EXPECT_TRUE(AllDigits(url.query.at("id")));
            EXPECT_GT(std::stol(url.query.at("id")), 0);
            break;
        case M3UQ:
            ASSERT_TRUE(url.query.count("station") && url.query.count("stream"));
            EXPECT_FALSE(url.query.at("station").empty());
            EXPECT_TRUE(AllDigits(url.query.at("stream")));
            break;
        case PLS:
            EXPECT_FALSE(IsIPv4(url.host));
            EXPECT_FALSE(url.port.has_value());
            break;
        case HOST:
            EXPECT_FALSE(IsIPv4(url.host));
            EXPECT_EQ(url.port.has_value(), slot != 88);
            break;
        default:
            break;
        }
    }
}

QImage Picture(int slot) { return StationPicture(slot).toImage().convertToFormat(QImage::Format_ARGB32); }

TEST(StationPictures, EverySlotHasItsOwnPicture)
{
    std::vector<QImage> pictures;
    int square16 = 0;
    for (int slot = 1; slot <= 100; ++slot) {
        const QImage picture = Picture(slot);
        ASSERT_FALSE(picture.isNull()) << "slot " << slot;
        const QSize size = picture.size();
        if (size == QSize(16, 16)) ++square16;
        EXPECT_TRUE(size.width() >= 12 && size.width() <= 22 && size.height() >= 12 &&
                    size.height() <= 18)
            << "slot " << slot;
        int opaque = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) opaque += qAlpha(picture.pixel(x, y)) > 128;
        EXPECT_GT(opaque, 8) << "slot " << slot << " is nearly blank";
        EXPECT_EQ(picture, Picture(slot)) << "slot " << slot << " changes between calls";
        pictures.push_back(picture);
    }
    EXPECT_EQ(square16, 74);
    for (size_t a = 0; a < pictures.size(); ++a)
        for (size_t b = a + 1; b < pictures.size(); ++b)
            EXPECT_NE(pictures[a], pictures[b]) << "slots " << a + 1 << " and " << b + 1;
}

TEST(StationPictures, NoPictureOutsideTheSlots)
{
    for (const int slot : {-1, 0, 101, 1000}) EXPECT_TRUE(StationPicture(slot).isNull()) << slot;
}

}  // namespace
