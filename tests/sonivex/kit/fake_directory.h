// A fake radio-browser directory over FakeServer: every search is answered
// with the stations it was given (or with a script of the test's own, for
// failures), and "/json/url/<uuid>" counts a click. 127.0.0.1 only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "fake_server.h"

namespace kit {

// One station as the directory describes it; the JSON text of an answer is
// made from these.
struct DirectoryEntry {
    std::string uuid;
    std::string name;
    std::string url;
    std::string urlResolved;
    std::string country;
    std::string countryCode;
    std::string language;
    std::string tags;
    std::string codec = "MP3";
    int bitrate = 128;
    long long votes = 0;
    long long clicks = 0;
};

// The JSON array of the entries, as a radio-browser server writes it.
std::string StationsJson(const std::vector<DirectoryEntry>& entries);

// "HTTP/1.1 200 OK" with a JSON body of its length, then the connection ends.
Script JsonAnswer(const std::string& body);

class FakeDirectory {
public:
    FakeDirectory();

    // "http://127.0.0.1:PORT", the server address of the directory.
    std::string Url() const { return server_.Url(""); }

    // Every search from now on is answered with these stations; their clicks
    // are answered as the directory answers them.
    void Answer(const std::vector<DirectoryEntry>& entries);
    // Every search from now on runs this script instead.
    void AnswerWith(Script script);

    // The request targets ("/json/stations/search?...") of the searches so
    // far, and the uuids of the clicks.
    std::vector<std::string> Searches() const;
    std::vector<std::string> Clicks() const;
    // Every request head received, in order.
    std::vector<std::string> Requests() const { return server_.Requests(); }

private:
    FakeServer server_;
};

}  // namespace kit
