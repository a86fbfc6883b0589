#include "DirectoryClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include "program_info.h"

namespace {

// What went wrong with a connection, in the user's words; Qt's own text for
// the rarer cases.
QString ConnectionTrouble(const QNetworkReply& reply)
{
    switch (reply.error()) {
        case QNetworkReply::ConnectionRefusedError:
            return QString::fromUtf8("сервер отказал в соединении");
        case QNetworkReply::HostNotFoundError:
            return QString::fromUtf8("сервер не найден");
        case QNetworkReply::RemoteHostClosedError:
            return QString::fromUtf8("сервер закрыл соединение");
        case QNetworkReply::SslHandshakeFailedError:
            return QString::fromUtf8("не удалось установить защищённое соединение");
        case QNetworkReply::NetworkSessionFailedError:
        case QNetworkReply::TemporaryNetworkFailureError:
            return QString::fromUtf8("сеть недоступна");
        default:
            return reply.errorString();
    }
}

}  // namespace

DirectoryClient::DirectoryClient(QString server, QObject* parent)
    : QObject(parent), server_(std::move(server)), network_(new QNetworkAccessManager(this))
{
    network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

DirectoryClient::~DirectoryClient()
{
    // Replies still under way go with the manager; none may report to a
    // client that is going.
    Abort();
}

QByteArray DirectoryClient::UserAgent()
{
    return QByteArray(kProgramName) + '/' + QByteArray(kProgramVersion);
}

QNetworkReply* DirectoryClient::Get(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    request.setRawHeader("Accept", "application/json");
    QNetworkReply* reply = network_->get(request);
    // The limit counts from the last byte that arrived, so a long answer
    // that keeps coming is not cut off.
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, [reply] {
        reply->setProperty("timedOut", true);
        reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, timer, [timer] { timer->start(); });
    timer->start(timeout_);
    return reply;
}

void DirectoryClient::Search(const DirectoryQuery& query)
{
    Abort();
    const QUrl url = SearchUrl(server_, query);
    const QString key = url.toString(QUrl::FullyEncoded);
    if (const auto cached = cache_.constFind(key); cached != cache_.constEnd()) {
        cachedPending_ = true;
        const unsigned generation = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, generation, stations = *cached] {
                if (generation != generation_) return;
                cachedPending_ = false;
                emit SearchFinished({stations, {}});
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkReply* reply = Get(url);
    search_ = reply;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, key] { SearchReplied(reply, key); });
}

void DirectoryClient::Abort()
{
    ++generation_;
    cachedPending_ = false;
    if (QNetworkReply* reply = search_.data()) {
        search_.clear();
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void DirectoryClient::SearchReplied(QNetworkReply* reply, const QString& key)
{
    reply->deleteLater();
    if (reply != search_.data()) return;
    search_.clear();

    DirectoryResult result;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->property("timedOut").toBool()) {
        result.failure = TimeoutMessage(timeout_);
    } else if (status.isValid() && status.toInt() >= 400) {
        result.failure = HttpErrorMessage(status.toInt());
    } else if (reply->error() != QNetworkReply::NoError) {
        result.failure = NoConnectionMessage(ConnectionTrouble(*reply));
    } else {
        DirectoryAnswer answer = ReadStations(reply->readAll());
        result.failure = answer.failure;
        result.stations = std::move(answer.stations);
        if (result.failure.isEmpty()) cache_.insert(key, result.stations);
    }
    emit SearchFinished(result);
}

void DirectoryClient::CountClick(const QString& uuid)
{
    if (uuid.isEmpty()) return;
    QNetworkReply* reply = Get(ClickUrl(server_, uuid));
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
