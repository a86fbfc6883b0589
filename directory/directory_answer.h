// The rules of a radio-browser directory that need no network: how a search
// is asked for, how an answer is read, and what the user is told when
// something goes wrong. The client (DirectoryClient.h) sends and receives;
// everything it decides is here.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <vector>

// What the user searches for; an empty field does not narrow the search.
struct DirectoryQuery {
    QString name;
    QString tag;
    QString country;  // two letters are a country code ("DE"), more a name
    QString language;
};

// One station of an answer, as the directory describes it.
struct DirectoryStation {
    QString uuid;
    QString name;
    QString address;  // url_resolved, or url where that is empty
    QString country;
    QString countryCode;
    QString language;
    QString tags;
    QString codec;
    int bitrate = 0;  // kbit/s, 0 when unknown
    std::int64_t votes = 0;
    std::int64_t clicks = 0;
};

// How many stations a search asks the server for.
constexpr int kDirectorySearchLimit = 100;

// <server>/json/stations/search with the query's fields (empty ones left
// out), the most clicked first, broken stations hidden. server has no
// trailing '/'.
QUrl SearchUrl(const QString& server, const DirectoryQuery& query);
// <server>/json/url/<uuid>: the directory counts one play of the station.
QUrl ClickUrl(const QString& server, const QString& uuid);

// An answer read: the stations with an http(s) address, the most popular
// first (clicks, then votes; the server's order among equals), or a failure
// message when the body is not a JSON array.
struct DirectoryAnswer {
    std::vector<DirectoryStation> stations;
    QString failure;  // empty when the answer was read
};
DirectoryAnswer ReadStations(const QByteArray& body);

// Whether text is an absolute http or https address with a host.
bool IsWebAddress(const QString& text);

// The messages of a search that failed.
QString TimeoutMessage(std::chrono::milliseconds timeout);
QString HttpErrorMessage(int status);
QString UnreadableAnswerMessage();
// reason: what went wrong with the connection, already in words.
QString NoConnectionMessage(const QString& reason);
