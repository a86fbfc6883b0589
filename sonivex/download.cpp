#include "download.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <thread>

#include "errors.h"
#include "threads.h"

namespace sonivex {

namespace {

constexpr const char* kUserAgent = "libsonivex/1.0";

std::string WithoutLineBreak(const char* data, std::size_t size)
{
    while (size > 0 && (data[size - 1] == '\n' || data[size - 1] == '\r'))
        --size;
    return std::string(data, size);
}

bool IsStatusLine(std::string_view line)
{
    return line.substr(0, 5) == "HTTP/" || line.substr(0, 4) == "ICY ";
}

// Whether a response says where its body ends: a length, or chunks, whose
// last one libcurl checks. Without either, only the connection's close ends
// the body.
bool HasDeclaredEnd(const HttpHeaders& headers)
{
    if (headers.Find("content-length")) return true;
    const auto encoding = headers.Find("transfer-encoding");
    if (!encoding) return false;
    std::string lower = *encoding;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("chunked") != std::string::npos;
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

void InitCurlOnce()
{
    static CurlGlobal global;
}

}  // namespace

void SetTransferOptions(void* handle, const std::string& url, int connectTimeoutMs,
                        const std::string& proxy)
{
    CURL* easy = static_cast<CURL*>(handle);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs));
    if (!proxy.empty()) curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    const char* caFile = std::getenv("SONIVEX_CA_FILE");
    if (caFile != nullptr && *caFile != '\0') curl_easy_setopt(easy, CURLOPT_CAINFO, caFile);
}

int Download::ErrorForCurlResult(int curlCode, bool headersComplete)
{
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_OK:
            return BASS_OK;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return BASS_ERROR_NOHOST;
        case CURLE_COULDNT_CONNECT:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
            return BASS_ERROR_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return BASS_ERROR_TIMEOUT;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
            return BASS_ERROR_TLS;
        case CURLE_PARTIAL_FILE:  // shorter than its Content-Length
        case CURLE_RECV_ERROR:    // also a chunk size that overflows or is no number
            return BASS_ERROR_HTTP;
        case CURLE_BAD_CONTENT_ENCODING:  // "gzip" that is not
            return BASS_ERROR_FORMAT;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_HTTP_RETURNED_ERROR:
        case CURLE_UNSUPPORTED_PROTOCOL:  // also an answer that is not HTTP (HTTP/0.9)
        case CURLE_WEIRD_SERVER_REPLY:
            return BASS_ERROR_HTTP;
        default:
            // A failure while the head was still coming (headers too large, a
            // broken reply) is the server's answer; later it is a dropped stream.
            return headersComplete ? BASS_ERROR_UNKNOWN : BASS_ERROR_HTTP;
    }
}

Download::Download(DownloadOptions options, Listener listener)
    : options_(std::move(options)), listener_(std::move(listener))
{
}

Download::~Download() = default;

std::shared_ptr<Download> Download::Start(DownloadOptions options, Listener listener)
{
    InitCurlOnce();
    std::shared_ptr<Download> download(new Download(std::move(options), std::move(listener)));
    // The thread owns the download as long as it runs; nobody joins it, so
    // that no caller ever waits on a listener call.
    LaunchThread([self = download] { self->Run(); });
    return download;
}

std::size_t Download::HeaderThunk(char* data, std::size_t size, std::size_t count, void* self)
{
    return static_cast<Download*>(self)->OnHeader(data, size * count);
}

std::size_t Download::BodyThunk(char* data, std::size_t size, std::size_t count, void* self)
{
    return static_cast<Download*>(self)->OnBody(data, size * count);
}

int Download::ProgressThunk(void* self, long long, long long, long long, long long)
{
    return static_cast<Download*>(self)->Cancelled() ? 1 : 0;
}

std::size_t Download::OnHeader(const char* data, std::size_t size)
{
    if (Cancelled()) return 0;
    std::string line = WithoutLineBreak(data, size);
    bool failed = false;
    std::string status;
    {
        std::lock_guard guard(lock_);
        if (IsStatusLine(line)) {
            // Every response starts afresh: a redirect's or a 100's headers
            // say nothing about the body that will follow.
            current_.Begin(line);
            status = line;
        } else if (!line.empty()) {
            current_.Add(std::move(line));
        } else {
            const int code = current_.StatusCode();
            const bool redirect = code >= 300 && code < 400 && current_.Find("location");
            if (code >= 100 && code < 200) {
                // An interim response; the real one follows.
            } else if (redirect) {
                // libcurl follows it; the next response starts with its status line.
            } else if (code >= 200 && code < 300) {
                final_ = current_;
                headersComplete_ = true;
                const auto metaint = final_.Find("icy-metaint");
                demux_.Reset(metaint ? IcyDemux::ParseMetaint(*metaint) : 0);
                contentType_ = final_.Find("content-type").value_or("");
                lastData_ = std::chrono::steady_clock::now();
            } else {
                final_ = current_;
                error_ = BASS_ERROR_HTTP;
                failed = true;
            }
        }
    }
    if (!status.empty() && listener_.status && !Cancelled()) listener_.status(status);
    changed_.notify_all();
    return failed ? 0 : size;
}

void Download::DrainSpill()
{
    if (spill_.empty()) return;
    std::size_t moved = 0;
    if (ring_) {
        moved = ring_->Write(spill_.data(), spill_.size());
    } else {
        moved = std::min(spill_.size(), kPrefixLimit - std::min(prefix_.size(), kPrefixLimit));
        prefix_.append(reinterpret_cast<const char*>(spill_.data()), moved);
    }
    spill_.erase(spill_.begin(), spill_.begin() + static_cast<std::ptrdiff_t>(moved));
    roomWanted_.store(!spill_.empty() || pausedForRoom_, std::memory_order_release);
    // The no-data timer restarts when held data moves on: while the spill
    // held it we were not taking anything from the server.
    if (moved > 0) lastData_ = std::chrono::steady_clock::now();
}

std::size_t Download::OnBody(const char* data, std::size_t size)
{
    if (Cancelled()) return 0;
    bool attached = false;
    {
        std::lock_guard guard(lock_);
        if (!spill_.empty()) {
            // Still holding the last read: libcurl keeps this one and hands
            // it over again once the transfer is resumed.
            pausedForRoom_ = true;
            roomWanted_.store(true, std::memory_order_release);
            return CURL_WRITEFUNC_PAUSE;
        }
        readAudio_.clear();
        readMetadata_.clear();
        demux_.Feed(
            reinterpret_cast<const std::uint8_t*>(data), size,
            [&](const std::uint8_t* audio, std::size_t n) {
                readAudio_.insert(readAudio_.end(), audio, audio + n);
            },
            [&](std::string_view text) {
                readMetadata_.emplace_back(std::string(text), audioBytes_ + readAudio_.size());
            });
        audioBytes_ += readAudio_.size();
        spill_.assign(readAudio_.begin(), readAudio_.end());
        DrainSpill();
        lastData_ = std::chrono::steady_clock::now();
        attached = ring_ != nullptr;
    }
    changed_.notify_all();
    AnnouncePrefix();
    if (!Cancelled()) {
        if (listener_.audio && attached && !readAudio_.empty())
            listener_.audio(readAudio_.data(), readAudio_.size());
        if (listener_.metadata)
            for (const auto& [text, at] : readMetadata_)
                listener_.metadata(text, at);
    }
    return size;
}

void Download::AnnouncePrefix()
{
    std::vector<std::uint8_t> prefix;
    {
        std::lock_guard guard(lock_);
        prefix.swap(prefixForListener_);
    }
    if (!prefix.empty() && listener_.audio && !Cancelled())
        listener_.audio(prefix.data(), prefix.size());
}

void Download::Wake()
{
    std::lock_guard guard(wakeLock_);
    if (multi_ != nullptr) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void Download::AttachRing(std::shared_ptr<ByteRing> ring)
{
    std::weak_ptr<Download> weak = weak_from_this();
    // The decoder reads many times a second; the download thread needs to
    // hear of it only while it holds data that did not fit.
    ring->SetSpaceListener([weak] {
        if (auto self = weak.lock(); self && self->roomWanted_.load(std::memory_order_acquire))
            self->Wake();
    });
    bool announceHere = false;
    std::vector<std::uint8_t> prefix;
    {
        std::lock_guard guard(lock_);
        ring_ = ring;
        std::vector<std::uint8_t> pending(prefix_.begin(), prefix_.end());
        pending.insert(pending.end(), spill_.begin(), spill_.end());
        prefix_.clear();
        prefixForListener_ = pending;
        spill_ = std::move(pending);
        DrainSpill();
        if (ended_ && spill_.empty() && options_.finishRing) ring_->Finish();
        if (endedUnannounced_) {
            // The download thread is gone: its last word falls to us.
            endedUnannounced_ = false;
            announceHere = true;
            prefix.swap(prefixForListener_);
        }
    }
    Wake();
    if (announceHere && !Cancelled()) {
        if (listener_.audio && !prefix.empty()) listener_.audio(prefix.data(), prefix.size());
        if (listener_.ended) listener_.ended();
    }
}

void Download::Cancel()
{
    cancelled_.store(true, std::memory_order_release);
    {
        std::lock_guard guard(lock_);
        if (ring_) ring_->Abort();
    }
    changed_.notify_all();
    Wake();
}

Download::WaitResult Download::WaitForBody(std::size_t bytes, const std::atomic<bool>& abort,
                                           Clock::time_point deadline)
{
    std::unique_lock guard(lock_);
    for (;;) {
        if (abort.load() || Cancelled()) return WaitResult::Aborted;
        if (Clock::now() >= deadline) return WaitResult::TimedOut;
        if (error_ != BASS_OK && !headersComplete_) return WaitResult::Failed;
        if (headersComplete_ && (prefix_.size() + spill_.size() >= bytes || ended_))
            return prefix_.empty() && spill_.empty() && error_ != BASS_OK ? WaitResult::Failed
                                                                          : WaitResult::Ready;
        if (ended_) return WaitResult::Failed;
        changed_.wait_for(guard, std::chrono::milliseconds(20));
    }
}

Download::WaitResult Download::WaitForWholeBody(const std::atomic<bool>& abort,
                                                Clock::time_point deadline)
{
    std::unique_lock guard(lock_);
    for (;;) {
        if (abort.load() || Cancelled()) return WaitResult::Aborted;
        if (Clock::now() >= deadline) return WaitResult::TimedOut;
        if (ended_ || prefix_.size() >= kPrefixLimit)
            return prefix_.empty() && error_ != BASS_OK ? WaitResult::Failed : WaitResult::Ready;
        changed_.wait_for(guard, std::chrono::milliseconds(20));
    }
}

bool Download::WaitFinished(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return finished_; });
}

std::string Download::Prefix() const
{
    std::lock_guard guard(lock_);
    return prefix_ + std::string(spill_.begin(), spill_.end());
}

HttpHeaders Download::Headers() const
{
    std::lock_guard guard(lock_);
    return final_;
}

std::string Download::EffectiveUrl() const
{
    std::lock_guard guard(lock_);
    return effectiveUrl_.empty() ? options_.url : effectiveUrl_;
}

std::string Download::ContentType() const
{
    std::lock_guard guard(lock_);
    return contentType_;
}

bool Download::Connected() const
{
    std::lock_guard guard(lock_);
    return !ended_;
}

int Download::Error() const
{
    std::lock_guard guard(lock_);
    return error_;
}

int Download::EndError() const
{
    std::lock_guard guard(lock_);
    if (error_ != BASS_OK || !ended_) return error_;
    // A live stream has no end of its own: the server closing it is a
    // broken transfer, not the end of a file.
    return HasDeclaredEnd(final_) ? BASS_OK : BASS_ERROR_HTTP;
}

std::uint64_t Download::AudioBytes() const
{
    std::lock_guard guard(lock_);
    return audioBytes_;
}

void Download::Run()
{
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    // libcurl keeps pointers to these lists for the whole transfer.
    curl_slist* aliases = curl_slist_append(nullptr, "ICY 200 OK");
    curl_slist* requestHeaders = curl_slist_append(nullptr, "Icy-MetaData: 1");

    SetTransferOptions(easy, options_.url, options_.connectTimeoutMs, options_.proxy);
    curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, aliases);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Download::HeaderThunk);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Download::BodyThunk);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Download::ProgressThunk);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_multi_add_handle(multi, easy);
    {
        std::lock_guard guard(wakeLock_);
        multi_ = multi;
    }

    const auto started = std::chrono::steady_clock::now();
    int result = CURLE_OK;
    int timeoutError = BASS_OK;
    for (;;) {
        if (Cancelled()) break;
        bool resume = false;
        {
            std::lock_guard guard(lock_);
            DrainSpill();
            if (pausedForRoom_ && spill_.empty()) {
                pausedForRoom_ = false;
                roomWanted_.store(false, std::memory_order_release);
                resume = true;
                lastData_ = std::chrono::steady_clock::now();
            }
        }
        AnnouncePrefix();
        // Resuming may hand over the held data at once: no lock here.
        if (resume) curl_easy_pause(easy, CURLPAUSE_CONT);

        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        bool done = false;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;

        {
            std::lock_guard guard(lock_);
            const auto now = std::chrono::steady_clock::now();
            if (!headersComplete_) {
                // libcurl's connect timeout ends with the connection; a server
                // that accepts and never answers needs a limit of its own.
                if (now - started > std::chrono::milliseconds(options_.connectTimeoutMs))
                    timeoutError = BASS_ERROR_TIMEOUT;
            } else if (!pausedForRoom_ && spill_.empty() &&
                       now - lastData_ > std::chrono::milliseconds(options_.readTimeoutMs)) {
                // A full buffer is no silence of the server's: the timer only
                // counts while we are ready to take data.
                timeoutError = BASS_ERROR_TIMEOUT;
            }
        }
        if (timeoutError != BASS_OK) break;
        // Data, a wake-up or a cancel ends the wait at once; the timeout only
        // paces the connect and no-data checks above.
        curl_multi_poll(multi, nullptr, 0, 200, nullptr);
    }

    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    {
        std::lock_guard guard(wakeLock_);
        multi_ = nullptr;
    }
    {
        std::lock_guard guard(lock_);
        if (effective != nullptr) effectiveUrl_ = effective;
        if (error_ == BASS_OK) {
            if (timeoutError != BASS_OK)
                error_ = timeoutError;
            else if (!Cancelled() && (result != CURLE_OK || !headersComplete_))
                error_ = result != CURLE_OK ? ErrorForCurlResult(result, headersComplete_)
                                            : BASS_ERROR_HTTP;
        }
    }
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(aliases);
    curl_slist_free_all(requestHeaders);

    // What is still in the spill goes into the ring as room is made, so that
    // the end of a stream is not lost.
    {
        std::unique_lock guard(lock_);
        while (!spill_.empty() && ring_ && !Cancelled()) {
            DrainSpill();
            if (!spill_.empty()) changed_.wait_for(guard, std::chrono::milliseconds(10));
        }
        ended_ = true;
        if (ring_ && spill_.empty() && options_.finishRing) ring_->Finish();
    }
    changed_.notify_all();
    bool announce = false;
    {
        std::lock_guard guard(lock_);
        if (ring_)
            announce = true;
        else
            endedUnannounced_ = true;
    }
    if (announce) {
        AnnouncePrefix();
        if (listener_.ended && !Cancelled()) listener_.ended();
    }
    {
        std::lock_guard guard(lock_);
        finished_ = true;
    }
    changed_.notify_all();
}

}  // namespace sonivex
