// What the directory tests share: stations of the fake directory and a
// way to wait for a client's answers.
#pragma once

#include <QTest>
#include <string>
#include <vector>

#include "DirectoryClient.h"
#include "fake_directory.h"

namespace directory_test {

// Three stations in no order of popularity; the most clicked is a playlist.
inline std::vector<kit::DirectoryEntry> ThreeStations()
{
    kit::DirectoryEntry jazz;
    jazz.uuid = "11111111-aaaa-4000-8000-000000000001";
    jazz.name = "Jazz Quarter";
    jazz.url = "http://jazz.example/live";
    jazz.urlResolved = "http://jazz.example/live.mp3";
    jazz.country = "Germany";
    jazz.countryCode = "DE";
    jazz.language = "german";
    jazz.tags = "jazz,swing";
    jazz.votes = 900;
    jazz.clicks = 40;
    kit::DirectoryEntry blues = jazz;
    blues.uuid = "22222222-bbbb-4000-8000-000000000002";
    blues.name = "Blues Room";
    blues.url = "http://blues.example/listen.pls";
    blues.urlResolved = "http://blues.example/listen.pls";
    blues.codec = "AAC+";
    blues.bitrate = 64;
    blues.votes = 3;
    blues.clicks = 5000;
    kit::DirectoryEntry swing = jazz;
    swing.uuid = "33333333-cccc-4000-8000-000000000003";
    swing.name = "Swing Hour";
    swing.url = "https://swing.example/stream";
    swing.urlResolved = "";
    swing.votes = 10;
    swing.clicks = 40;
    return {jazz, blues, swing};
}

// Collects what a client reports.
struct Answers {
    explicit Answers(DirectoryClient& client)
    {
        QObject::connect(&client, &DirectoryClient::SearchFinished, &client,
                         [this](const DirectoryResult& result) { results.push_back(result); });
    }
    // Waits (bounded) until count answers have come.
    bool WaitFor(std::size_t count, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return results.size() >= count; }, ms);
    }
    std::vector<DirectoryResult> results;
};

}  // namespace directory_test
