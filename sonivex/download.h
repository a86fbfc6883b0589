// One HTTP(S) transfer of a stream or a playlist, run by libcurl on a
// thread of its own.
//
// Until a ring is attached the body collects in a prefix of at most 64 KiB
// (enough to tell a playlist from audio, and to read a whole playlist);
// after that, the audio (with the ICY metadata taken out) goes into the
// ring. While the ring is full the transfer pauses; the bytes of the last
// read that did not fit wait in a spill of their own and are not counted as
// downloaded until they are in the ring.
//
// Thread rules: the Listener's functions run on the download thread, in
// order, never two at once and never under a lock of the download; after
// Cancel() only a call already running may still finish. Every other member
// may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "byte_ring.h"
#include "http_headers.h"
#include "icy_demux.h"

namespace sonivex {

struct DownloadOptions {
    std::string url;
    int connectTimeoutMs = 5000;  // until the response head has arrived
    int readTimeoutMs = 10000;    // without any data, once the body flows
    std::string proxy;            // "[user:password@]host:port", empty: none of our own
    // Whether the end of the transfer ends the ring's data too; a stream
    // that may reconnect ends it itself.
    bool finishRing = true;
};

// What every transfer of the library asks of libcurl: the address, http
// and https only (redirects too, at most ten), our user agent, any content
// encoding, the connect limit, the proxy and a test's CA file. easy is a
// CURL*.
void SetTransferOptions(void* easy, const std::string& url, int connectTimeoutMs,
                        const std::string& proxy);

class Download : public std::enable_shared_from_this<Download> {
public:
    struct Listener {
        std::function<void(const std::string& statusLine)> status;
        std::function<void(const std::uint8_t* data, std::size_t size)> audio;
        // at: the audio bytes of this transfer that came before the text.
        std::function<void(std::string_view metadata, std::uint64_t at)> metadata;
        std::function<void()> ended;
    };

    static constexpr std::size_t kPrefixLimit = 64 * 1024;

    static std::shared_ptr<Download> Start(DownloadOptions options, Listener listener);
    ~Download();

    using Clock = std::chrono::steady_clock;
    enum class WaitResult { Ready, Failed, Aborted, TimedOut };
    // Waits until the final response's head is in and the prefix holds at
    // least bytes (or the body has ended), or the transfer failed, or abort
    // is set (checked every few milliseconds), or the deadline has passed.
    WaitResult WaitForBody(std::size_t bytes, const std::atomic<bool>& abort,
                           Clock::time_point deadline);
    // Waits until the body has ended or filled the prefix, as above.
    WaitResult WaitForWholeBody(const std::atomic<bool>& abort, Clock::time_point deadline);

    // Moves the prefix into ring and sends the rest of the audio there;
    // from now on the listener hears of audio, the prefix first.
    void AttachRing(std::shared_ptr<ByteRing> ring);

    // Ends the transfer as soon as libcurl lets it; never waits.
    void Cancel();
    // Waits until the download thread has left its last listener call and
    // ended, at most timeout; true when it has.
    bool WaitFinished(std::chrono::milliseconds timeout);

    std::string Prefix() const;
    HttpHeaders Headers() const;  // the final response's
    std::string EffectiveUrl() const;
    std::string ContentType() const;
    bool Connected() const;            // false once the transfer has ended
    int Error() const;                 // a BASS_ERROR_* code once failed, else BASS_OK
    // Why an ended body ended: Error(), or for a body that only the close of
    // the connection could end (no length, no chunks) BASS_ERROR_HTTP.
    int EndError() const;
    std::uint64_t AudioBytes() const;  // audio bytes received, spill included

    // Maps a finished transfer's libcurl result to an error code.
    static int ErrorForCurlResult(int curlCode, bool headersComplete);

private:
    explicit Download(DownloadOptions options, Listener listener);
    void Run();
    std::size_t OnHeader(const char* data, std::size_t size);
    std::size_t OnBody(const char* data, std::size_t size);
    void DrainSpill();      // lock held
    void AnnouncePrefix();  // download thread, no lock held
    void Wake();
    bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

    static std::size_t HeaderThunk(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t BodyThunk(char* data, std::size_t size, std::size_t count, void* self);
    static int ProgressThunk(void* self, long long, long long, long long, long long);

    const DownloadOptions options_;
    const Listener listener_;
    std::atomic<bool> cancelled_{false};

    mutable std::mutex lock_;
    std::condition_variable changed_;
    HttpHeaders current_;  // the response being received
    HttpHeaders final_;    // the response whose body we take
    bool headersComplete_ = false;
    bool ended_ = false;
    bool finished_ = false;  // the thread has done its last call
    int error_ = 0;
    std::string effectiveUrl_;
    std::string contentType_;
    std::string prefix_;
    std::shared_ptr<ByteRing> ring_;
    std::vector<std::uint8_t> spill_;
    bool pausedForRoom_ = false;
    // True while the spill holds data waiting for room in the ring: only then
    // does taking data from the ring wake the download thread.
    std::atomic<bool> roomWanted_{false};
    std::uint64_t audioBytes_ = 0;
    IcyDemux demux_;
    std::chrono::steady_clock::time_point lastData_;

    // Audio that came before the ring was attached, for the listener, which
    // hears of audio only from then on; and whether the transfer ended
    // before that, so that the listener still hears of its end.
    std::vector<std::uint8_t> prefixForListener_;
    bool endedUnannounced_ = false;

    // The pieces of one read, handed to the listener after the lock is gone.
    std::vector<std::uint8_t> readAudio_;
    std::vector<std::pair<std::string, std::uint64_t>> readMetadata_;
    std::vector<std::string> statusLines_;

    std::mutex wakeLock_;
    void* multi_ = nullptr;  // CURLM*, valid while the thread runs
};

}  // namespace sonivex
