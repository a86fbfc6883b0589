// The directory's rules without a network: reading an answer, the time
// limit's words, and the server setting of the settings file.
#include "directory_answer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "DirectoryClient.h"
#include "directory_server.h"
#include "fake_directory.h"

namespace {

TEST(DirectoryAnswerTest, PlayableStationsComeMostPopularFirst)
{
    kit::DirectoryEntry base;
    base.url = "http://radio.example/a";
    std::vector<kit::DirectoryEntry> entries(7, base);
    entries[0].name = "quiet";
    entries[0].clicks = 1;
    entries[1].name = "loud";
    entries[1].clicks = 90;
    entries[1].votes = 1;
    entries[2].name = "loud, liked";  // as many clicks, more votes: before "loud"
    entries[2].clicks = 90;
    entries[2].votes = 7;
    entries[3].name = "ftp only";
    entries[3].url = "ftp://radio.example/a";
    entries[4].name = "no address";
    entries[4].url = "";
    entries[5].name = "resolved";
    entries[5].url = "http://radio.example/old";
    entries[5].urlResolved = "https://edge.example/new.aac";
    entries[5].clicks = 2;
    entries[6].name = "bad resolved";  // falls back to its url
    entries[6].url = "http://radio.example/fallback";
    entries[6].urlResolved = "not an address";
    entries[6].clicks = 1;
    const DirectoryAnswer answer =
        ReadStations(QByteArray::fromStdString(kit::StationsJson(entries)));
    ASSERT_TRUE(answer.failure.isEmpty());
    std::vector<QString> names, addresses;
    for (const DirectoryStation& station : answer.stations) {
        names.push_back(station.name);
        addresses.push_back(station.address);
    }
    // Equal clicks and votes keep the server's order ("quiet" before "bad
    // resolved").
    EXPECT_EQ(names,
              (std::vector<QString>{"loud, liked", "loud", "resolved", "quiet", "bad resolved"}));
    EXPECT_EQ(addresses[2], "https://edge.example/new.aac");
    EXPECT_EQ(addresses[4], "http://radio.example/fallback");
}

TEST(DirectoryAnswerTest, EveryFieldIsReadAndCountsMayBeStrings)
{
    const DirectoryAnswer answer = ReadStations(
        R"([{"stationuuid":"u-1","name":"  Радио Тест ","url":"http://r.example/s",)"
        R"("country":"The Russian Federation","countrycode":"RU","language":"russian",)"
        R"("tags":"pop,news","codec":"OGG","bitrate":"96","votes":"12","clickcount":7},)"
        R"(17, "text", null])");
    ASSERT_TRUE(answer.failure.isEmpty());
    ASSERT_EQ(answer.stations.size(), 1u);
    const DirectoryStation& station = answer.stations[0];
    EXPECT_EQ(station.uuid, "u-1");
    EXPECT_EQ(station.name, QString::fromUtf8("Радио Тест"));
    EXPECT_EQ(station.address, "http://r.example/s");
    EXPECT_EQ(station.country, "The Russian Federation");
    EXPECT_EQ(station.countryCode, "RU");
    EXPECT_EQ(station.language, "russian");
    EXPECT_EQ(station.tags, "pop,news");
    EXPECT_EQ(station.codec, "OGG");
    EXPECT_EQ(station.bitrate, 96);
    EXPECT_EQ(station.votes, 12);
    EXPECT_EQ(station.clicks, 7);
}

TEST(DirectoryAnswerTest, TheTimeLimitIsTenSecondsAndSaidInRussian)
{
    EXPECT_EQ(kDirectoryTimeout, std::chrono::seconds(10));
    EXPECT_EQ(TimeoutMessage(kDirectoryTimeout),
              QString::fromUtf8("Каталог не ответил за 10 секунд"));
    EXPECT_EQ(TimeoutMessage(std::chrono::seconds(1)),
              QString::fromUtf8("Каталог не ответил за 1 секунду"));
    EXPECT_EQ(TimeoutMessage(std::chrono::seconds(3)),
              QString::fromUtf8("Каталог не ответил за 3 секунды"));
    EXPECT_EQ(TimeoutMessage(std::chrono::seconds(12)),
              QString::fromUtf8("Каталог не ответил за 12 секунд"));
    EXPECT_EQ(TimeoutMessage(std::chrono::seconds(21)),
              QString::fromUtf8("Каталог не ответил за 21 секунду"));
}

TEST(DirectoryServerTest, TheSettingNamesTheServerAndABadOneFallsBack)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string file = folder.filePath("Ondalux.ini").toStdString();
    const QString public_server = kDefaultDirectoryServer;
    EXPECT_EQ(DirectoryServerIn(file), public_server) << "no settings file yet";

    struct Case {
        const char* lines;
        const char* server;
    };
    const Case cases[] = {
        {"[Ondalux]\r\nLastNamber=3\r\n", kDefaultDirectoryServer},
        {"[Directory]\r\nServer=http://127.0.0.1:8080/\r\n", "http://127.0.0.1:8080"},
        {"[directory]\nserver = https://radio.lan/api \n", "https://radio.lan/api"},
        {"[Directory]\r\nServer=\r\n", kDefaultDirectoryServer},
        {"[Directory]\r\nServer=ftp://radio.lan\r\n", kDefaultDirectoryServer},
        {"[Directory]\r\nServer=radio.lan:8080\r\n", kDefaultDirectoryServer},
        {"[Directory]\r\nServer=http://\r\n", kDefaultDirectoryServer},
        {"[Other]\r\nServer=http://127.0.0.1:1\r\n", kDefaultDirectoryServer},
    };
    for (const Case& c : cases) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.lines;
        EXPECT_EQ(DirectoryServerIn(file), QString::fromLatin1(c.server)) << c.lines;
    }
}

}  // namespace
