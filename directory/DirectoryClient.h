// The program's client of a radio-browser directory server, over Qt
// Network. Everything runs on the thread that made the client (the main
// thread): requests go out asynchronously, nothing ever blocks, and every
// search ends in exactly one SearchFinished within the time limit.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <vector>

#include "directory_answer.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// How long a request may go without a byte from the server.
constexpr std::chrono::milliseconds kDirectoryTimeout = std::chrono::seconds(10);

// What a search found, or why it found nothing.
struct DirectoryResult {
    std::vector<DirectoryStation> stations;  // the most popular first
    QString failure;                         // empty when the search worked
};

class DirectoryClient : public QObject {
    Q_OBJECT
public:
    // server: "https://host[:port][/path]" without a trailing '/'.
    explicit DirectoryClient(QString server, QObject* parent = nullptr);
    ~DirectoryClient() override;

    const QString& Server() const { return server_; }
    // The "User-Agent" every request carries: "Ondalux/<version>".
    static QByteArray UserAgent();

    // Starts a search; a search still under way is abandoned and reports
    // nothing. A query answered before in this session is answered from
    // memory, without a request, though still after Search has returned.
    void Search(const DirectoryQuery& query);
    // Abandons the search under way, if any; it reports nothing.
    void Abort();
    bool Searching() const { return !search_.isNull() || cachedPending_; }

    // Tells the directory that the station is being played. Nothing waits
    // for the answer and a failure goes unsaid: the count is the
    // directory's business, not the listener's.
    void CountClick(const QString& uuid);

    // The time limit of later requests (tests use a short one).
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

signals:
    void SearchFinished(const DirectoryResult& result);

private:
    QNetworkReply* Get(const QUrl& url);
    void SearchReplied(QNetworkReply* reply, const QString& key);

    QString server_;
    QNetworkAccessManager* network_;
    std::chrono::milliseconds timeout_ = kDirectoryTimeout;
    QPointer<QNetworkReply> search_;
    bool cachedPending_ = false;
    unsigned generation_ = 0;  // which Search a queued cached answer belongs to
    QHash<QString, std::vector<DirectoryStation>> cache_;  // by search address
};
