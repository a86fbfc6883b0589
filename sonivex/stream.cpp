#include "stream.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "errors.h"
#include "playlist.h"
#include "sync_dispatcher.h"

namespace sonivex {

namespace {

constexpr int kPlaylistDepth = 3;
// How long a failed download may still take to say its last word before the
// next playlist entry is tried (its callbacks and the next one's never overlap).
constexpr auto kSettleTime = std::chrono::milliseconds(2000);

// A web page where a stream should be (a station's status page, a login
// page): declared as HTML, or markup under any other type. Audio sent as
// text/plain, as some servers do, still gets its chance in the decoder.
bool LooksLikePage(std::string_view contentType, std::string_view body)
{
    std::string type(contentType.substr(0, contentType.find(';')));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.back())))
        type.pop_back();
    if (type == "text/html" || type == "application/xhtml+xml") return true;
    std::size_t start = 0;
    if (body.substr(0, 3) == "\xEF\xBB\xBF") start = 3;
    while (start < body.size() && std::isspace(static_cast<unsigned char>(body[start])))
        ++start;
    std::string head(body.substr(start, 15));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return head.rfind("<!doctype", 0) == 0 || head.rfind("<html", 0) == 0 ||
           head.rfind("<?xml", 0) == 0;
}

}  // namespace

std::size_t Stream::DownloadBufferSize(int netBufferMs, int kbps)
{
    if (kbps <= 0) kbps = 128;
    const std::size_t bytes =
        static_cast<std::size_t>(kbps) * static_cast<std::size_t>(netBufferMs) / 8;
    return std::max<std::size_t>(bytes, 16 * 1024);
}

Stream::Stream(StreamSettings settings, DWORD flags, DOWNLOADPROC* proc, void* user)
    : settings_(std::move(settings)), flags_(flags), proc_(proc), user_(user)
{
}

Stream::~Stream()
{
    if (download_) download_->Cancel();
    if (ring_) ring_->Abort();
}

std::shared_ptr<Download> Stream::Connect(const std::string& url)
{
    DownloadOptions options;
    options.url = url;
    options.connectTimeoutMs = settings_.connectTimeoutMs;
    options.readTimeoutMs = settings_.readTimeoutMs;
    options.proxy = settings_.proxy;

    // The listener outlives neither its stream's usefulness nor a free: it
    // holds the stream weakly and stays silent once the stream is freed.
    std::weak_ptr<Stream> weak = weak_from_this();
    Download::Listener listener;
    listener.status = [weak](const std::string& line) {
        auto self = weak.lock();
        if (self && !self->freed_ && (self->flags_ & BASS_STREAM_STATUS) && self->proc_)
            self->proc_(line.c_str(), 0, self->user_);
    };
    listener.audio = [weak](const std::uint8_t* data, std::size_t size) {
        auto self = weak.lock();
        if (self && !self->freed_ && self->proc_)
            self->proc_(data, static_cast<DWORD>(size), self->user_);
    };
    listener.metadata = [weak](std::string_view text) {
        if (auto self = weak.lock()) self->OnMetadata(text);
    };
    listener.ended = [weak] {
        auto self = weak.lock();
        if (self && !self->freed_ && self->proc_) self->proc_(nullptr, 0, self->user_);
    };
    auto download = Download::Start(std::move(options), std::move(listener));
    std::lock_guard guard(lock_);
    opening_ = download;
    return download;
}

void Stream::CancelOpen()
{
    std::shared_ptr<Download> download;
    std::shared_ptr<ByteRing> ring;
    {
        std::lock_guard guard(lock_);
        download = opening_;
        ring = ring_;
    }
    if (download) download->Cancel();
    if (ring) ring->Abort();
}

std::chrono::milliseconds Stream::SettleTime() const
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - Download::Clock::now());
    return std::clamp(left, std::chrono::milliseconds(0), kSettleTime);
}

int Stream::Open(const std::string& url, const std::atomic<bool>& abort)
{
    // A server that dribbles its answer a byte at a time, or playlists of
    // silent or ever new entries, would otherwise hold the caller for as
    // long as they like: every connection has its own limits, the whole
    // open has this one.
    deadline_ = Download::Clock::now() +
                std::chrono::milliseconds(std::int64_t{kOpenTimeouts} * settings_.connectTimeoutMs);
    fetches_ = 0;
    std::set<std::string> visited;
    const int result = OpenAddress(url, 0, visited, abort);
    if (result != BASS_OK) return result;

    // Fill the download buffer to the pre-buffer level, or until the
    // download ends (a short stream), the deadline passes (the stream plays
    // with what it has) or BASS_Free comes.
    const std::uint64_t target =
        ring_->Capacity() * static_cast<std::uint64_t>(settings_.prebufPercent) / 100;
    while (ring_->Written() - ring_->Taken() < target && download_->Connected() && !Expired()) {
        if (abort.load()) return BASS_ERROR_UNKNOWN;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return abort.load() ? BASS_ERROR_UNKNOWN : BASS_OK;
}

int Stream::StoppedWait(Download& download, Download::WaitResult result)
{
    if (result != Download::WaitResult::Aborted && result != Download::WaitResult::TimedOut)
        return BASS_OK;
    download.Cancel();
    return result == Download::WaitResult::Aborted ? BASS_ERROR_UNKNOWN : BASS_ERROR_TIMEOUT;
}

int Stream::OpenAddress(const std::string& url, int depth, std::set<std::string>& visited,
                        const std::atomic<bool>& abort)
{
    if (!IsHttpUrl(url)) return BASS_ERROR_ILLPARAM;
    if (Expired()) return BASS_ERROR_TIMEOUT;
    ++fetches_;
    // Playlist entries come back in libcurl's normal form, and a playlist
    // may name itself with another case or port: compared as one address.
    visited.insert(NormalisedUrl(url));
    auto download = Connect(url);
    const Download::WaitResult head = download->WaitForBody(512, abort, deadline_);
    if (head == Download::WaitResult::Failed) {
        download->WaitFinished(SettleTime());
        const int error = download->Error();
        return error != BASS_OK ? error : BASS_ERROR_FORMAT;
    }
    if (const int stopped = StoppedWait(*download, head); stopped != BASS_OK) return stopped;

    const PlaylistKind kind =
        settings_.followPlaylists
            ? DetectPlaylist(download->ContentType(), download->EffectiveUrl(), download->Prefix())
            : PlaylistKind::None;
    if (kind == PlaylistKind::None) return OpenAudio(download, abort);

    if (kind == PlaylistKind::Hls || depth >= kPlaylistDepth) {
        // HLS is a list of segments, not of stations.
        download->Cancel();
        download->WaitFinished(SettleTime());
        return BASS_ERROR_FORMAT;
    }
    const Download::WaitResult body = download->WaitForWholeBody(abort, deadline_);
    if (const int stopped = StoppedWait(*download, body); stopped != BASS_OK) return stopped;
    const std::string text = download->Prefix();
    const std::string base = download->EffectiveUrl();
    download->Cancel();
    download->WaitFinished(SettleTime());

    int result = BASS_ERROR_FORMAT;  // a playlist without a usable entry
    for (const std::string& entry : ParsePlaylist(kind, text, base)) {
        if (visited.count(NormalisedUrl(entry))) continue;
        if (fetches_ >= kMaxOpenFetches || Expired()) break;
        result = OpenAddress(entry, depth + 1, visited, abort);
        if (result == BASS_OK || abort.load()) break;
    }
    if (result != BASS_OK && result != BASS_ERROR_UNKNOWN && Expired()) return BASS_ERROR_TIMEOUT;
    return result;
}

int Stream::OpenAudio(const std::shared_ptr<Download>& download, const std::atomic<bool>& abort)
{
    const HttpHeaders headers = download->Headers();
    if (LooksLikePage(download->ContentType(), download->Prefix())) {
        download->Cancel();
        return BASS_ERROR_FORMAT;
    }
    const int headerKbps = headers.BitrateKbps();
    {
        std::lock_guard guard(lock_);
        ring_ = std::make_shared<ByteRing>(DownloadBufferSize(settings_.netBufferMs, headerKbps));
        if (headers.IsIcy()) {
            hasIcy_ = true;
            icyTags_ = headers.TagBlock(false);
        } else {
            hasHttp_ = true;
            httpTags_ = headers.TagBlock(true);
        }
    }
    download_ = download;
    download->AttachRing(ring_);

    int error = BASS_OK;
    // The decoder's first reads wait for data: not past the deadline.
    ring_->SetReadDeadline(deadline_);
    decoder_ = Decoder::Open(ring_, download->ContentType(), settings_.outputRate, error);
    ring_->SetReadDeadline(Download::Clock::time_point::max());
    if (!decoder_) {
        download->Cancel();
        if (abort.load()) return BASS_ERROR_UNKNOWN;
        if (Expired()) return BASS_ERROR_TIMEOUT;
        // A download that broke before the first sound says why itself.
        const int downloadError = download->Error();
        return downloadError != BASS_OK && downloadError != BASS_ERROR_UNKNOWN ? downloadError
                                                                               : BASS_ERROR_FORMAT;
    }
    if (headerKbps == 0 && decoder_->BitRate() > 0)
        ring_->Resize(DownloadBufferSize(settings_.netBufferMs, decoder_->BitRate() / 1000));

    std::string title;
    if (decoder_->TakeTitle(title)) OnMetadata(title);

    const std::size_t frames =
        std::max<std::size_t>(static_cast<std::size_t>(settings_.bufferMs) *
                                  static_cast<std::size_t>(settings_.outputRate) / 1000,
                              4096);
    channel_ = std::make_shared<PlaybackChannel>(frames);
    return BASS_OK;
}

void Stream::OnMetadata(std::string_view text)
{
    // FIXME: the title changes when its block arrives, a few seconds before
    // the listener hears the song it names.
    std::vector<Sync> syncs;
    {
        std::lock_guard guard(lock_);
        if (text == metadata_) return;
        metadata_ = std::string(text);
        syncs = syncs_;
    }
    const HSTREAM handle = handle_.load();
    if (freed_ || handle == 0) return;
    for (const Sync& sync : syncs)
        if (sync.type == BASS_SYNC_META)
            PostSync({sync.handle, handle, 0, sync.proc, sync.user}, /*coalesce=*/true);
}

bool Stream::Play(Mixer& mixer)
{
    if (freed_ || !channel_) return false;
    if (channel_->stopped.load()) return false;
    if (!playing_.exchange(true)) {
        std::thread([self = shared_from_this()] { self->DecodeLoop(); }).detach();
    }
    mixer.Add(channel_);
    return true;
}

bool Stream::Playing() const
{
    return playing_.load() && channel_ && !channel_->stopped.load();
}

void Stream::DecodeLoop()
{
    std::vector<std::uint32_t> frames;
    FrameRing& ring = channel_->ring;
    while (!freed_) {
        frames.clear();
        const Decoder::Result result = decoder_->Decode(frames);
        std::string title;
        if (decoder_->TakeTitle(title)) OnMetadata(title);
        if (result == Decoder::Result::Undecodable) {
            // Nothing more will play: the download need not go on.
            undecodable_ = true;
            download_->Cancel();
        }
        if (result != Decoder::Result::Frames) break;
        // Wait for room in the playback buffer: it holds bufferMs of sound
        // ahead of the output. A full buffer is left to drain by a quarter
        // (or by what is left to write, if more) before the output wakes the
        // decoder, so that it wakes a few times a second rather than at every
        // block the output takes.
        std::size_t written = 0;
        while (written < frames.size() && !freed_) {
            written += ring.Write(frames.data() + written, frames.size() - written);
            if (written < frames.size())
                ring.WaitForRoom(std::max(frames.size() - written, ring.Capacity() / 4));
        }
    }
    channel_->sourceEnded.store(true, std::memory_order_release);
}

void Stream::Free(Mixer* mixer)
{
    freed_ = true;
    if (mixer != nullptr && channel_) mixer->Remove(channel_.get());
    if (channel_) channel_->ring.StopWaiting();
    CancelOpen();
    if (download_) download_->Cancel();
    if (ring_) ring_->Abort();
}

QWORD Stream::FilePosition(DWORD mode) const
{
    if (!ring_) return static_cast<QWORD>(-1);
    switch (mode) {
        case BASS_FILEPOS_END:
            return ring_->Capacity();
        case BASS_FILEPOS_DOWNLOAD:
            return ring_->Written();
        case BASS_FILEPOS_CURRENT:
            return ring_->Taken();
        case BASS_FILEPOS_CONNECTED:
            return download_ && download_->Connected() && !undecodable_ ? 1 : 0;
        default:
            return static_cast<QWORD>(-1);
    }
}

int Stream::EndError() const
{
    if (undecodable_) return BASS_ERROR_FORMAT;
    return download_ ? download_->EndError() : BASS_OK;
}

std::string Stream::Tags(DWORD type, bool& has) const
{
    std::lock_guard guard(lock_);
    switch (type) {
        case BASS_TAG_ICY:
            has = hasIcy_;
            return icyTags_;
        case BASS_TAG_HTTP:
            has = hasHttp_;
            return httpTags_;
        case BASS_TAG_META:
            has = !metadata_.empty();
            return metadata_;
        default:
            has = false;
            return {};
    }
}

HSYNC Stream::AddSync(DWORD type, SYNCPROC* proc, void* user, HSYNC handle)
{
    std::lock_guard guard(lock_);
    syncs_.push_back({handle, type, proc, user});
    return handle;
}

bool Stream::HasSync(HSYNC sync) const
{
    if (freed_) return false;
    std::lock_guard guard(lock_);
    return std::any_of(syncs_.begin(), syncs_.end(),
                       [&](const Sync& s) { return s.handle == sync; });
}

}  // namespace sonivex
