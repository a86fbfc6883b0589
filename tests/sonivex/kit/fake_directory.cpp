#include "fake_directory.h"

#include <cstdio>

namespace kit {

namespace {

// A JSON string literal; the texts of the tests are UTF-8 and pass as they are.
std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string Target(const std::string& head)
{
    const std::size_t start = head.find(' ');
    if (start == std::string::npos) return {};
    const std::size_t end = head.find(' ', start + 1);
    return head.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

constexpr const char* kClickPrefix = "/json/url/";

}  // namespace

std::string StationsJson(const std::vector<DirectoryEntry>& entries)
{
    std::string json = "[";
    for (const DirectoryEntry& entry : entries) {
        if (json.size() > 1) json += ',';
        json += "{\"changeuuid\":\"00000000-0000-0000-0000-000000000000\"";
        json += ",\"stationuuid\":" + Quoted(entry.uuid);
        json += ",\"name\":" + Quoted(entry.name);
        json += ",\"url\":" + Quoted(entry.url);
        json += ",\"url_resolved\":" + Quoted(entry.urlResolved);
        json += ",\"homepage\":\"\",\"favicon\":\"\"";
        json += ",\"tags\":" + Quoted(entry.tags);
        json += ",\"country\":" + Quoted(entry.country);
        json += ",\"countrycode\":" + Quoted(entry.countryCode);
        json += ",\"language\":" + Quoted(entry.language);
        json += ",\"votes\":" + std::to_string(entry.votes);
        json += ",\"codec\":" + Quoted(entry.codec);
        json += ",\"bitrate\":" + std::to_string(entry.bitrate);
        json += ",\"lastcheckok\":1";
        json += ",\"clickcount\":" + std::to_string(entry.clicks);
        json += ",\"clicktrend\":0}";
    }
    return json + "]";
}

Script JsonAnswer(const std::string& body)
{
    return Script()
        .Send(Script::HttpHead(
                  200, "OK",
                  {"Content-Type: application/json; charset=utf-8",
                   "Content-Length: " + std::to_string(body.size()), "Connection: close"},
                  "HTTP/1.1") +
              body)
        .Close();
}

FakeDirectory::FakeDirectory()
{
    Answer({});
}

void FakeDirectory::Answer(const std::vector<DirectoryEntry>& entries)
{
    server_.SetFallback(JsonAnswer(StationsJson(entries)));
    for (const DirectoryEntry& entry : entries) {
        if (entry.uuid.empty()) continue;
        const std::string answer =
            "{\"ok\":true,\"message\":\"retrieved station url\",\"stationuuid\":" +
            Quoted(entry.uuid) + ",\"name\":" + Quoted(entry.name) +
            ",\"url\":" + Quoted(entry.url) + "}";
        server_.Route(kClickPrefix + entry.uuid, JsonAnswer(answer));
    }
}

void FakeDirectory::AnswerWith(Script script)
{
    server_.SetFallback(std::move(script));
}

std::vector<std::string> FakeDirectory::Searches() const
{
    std::vector<std::string> searches;
    for (const std::string& head : server_.Requests()) {
        const std::string target = Target(head);
        if (target.rfind("/json/stations/search", 0) == 0) searches.push_back(target);
    }
    return searches;
}

std::vector<std::string> FakeDirectory::Clicks() const
{
    std::vector<std::string> clicks;
    for (const std::string& head : server_.Requests()) {
        const std::string target = Target(head);
        if (target.rfind(kClickPrefix, 0) == 0)
            clicks.push_back(target.substr(std::string(kClickPrefix).size()));
    }
    return clicks;
}

}  // namespace kit
