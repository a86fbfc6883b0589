#include "stream.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "errors.h"
#include "hls.h"
#include "playlist.h"
#include "sync_dispatcher.h"
#include "threads.h"

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
    if (hls_) hls_->Cancel();
    if (ring_) ring_->Abort();
}

std::shared_ptr<Download> Stream::Connect(const std::string& url, bool announce, std::uint64_t base,
                                          int* connection)
{
    DownloadOptions options;
    options.url = url;
    options.connectTimeoutMs = settings_.connectTimeoutMs;
    options.readTimeoutMs = settings_.readTimeoutMs;
    options.proxy = settings_.proxy;
    // The stream ends its ring itself: a lost connection may be followed by
    // another one's data.
    options.finishRing = false;
    int id = 0;
    {
        std::lock_guard guard(lock_);
        id = ++connections_;
        // A reconnect's transfer: its titles wait until it is taken, from
        // its very first block on.
        if (!announce) {
            candidate_ = id;
            candidateTitles_.clear();
        }
    }
    if (connection != nullptr) *connection = id;

    // The listener outlives neither its stream's usefulness nor a free: it
    // holds the stream weakly and stays silent once the stream is freed.
    std::weak_ptr<Stream> weak = weak_from_this();
    Download::Listener listener;
    listener.status = [weak, announce](const std::string& line) {
        auto self = weak.lock();
        if (self && announce && !self->freed_ && (self->flags_ & BASS_STREAM_STATUS) &&
            self->proc_)
            self->proc_(line.c_str(), 0, self->user_);
    };
    listener.audio = [weak](const std::uint8_t* data, std::size_t size) {
        auto self = weak.lock();
        if (self && !self->freed_ && self->proc_)
            self->proc_(data, static_cast<DWORD>(size), self->user_);
    };
    listener.metadata = [weak, id, base](std::string_view text, std::uint64_t at) {
        if (auto self = weak.lock()) self->OnConnectionMetadata(id, base + at, text);
    };
    listener.ended = [weak, id] {
        if (auto self = weak.lock()) self->OnConnectionEnded(id);
    };
    auto download = Download::Start(std::move(options), std::move(listener));
    std::lock_guard guard(lock_);
    opening_ = download;
    return download;
}

std::shared_ptr<Download> Stream::AudioDownload() const
{
    std::lock_guard guard(lock_);
    return download_;
}

std::shared_ptr<HlsFeed> Stream::Feed() const
{
    std::lock_guard guard(lock_);
    return hls_;
}

void Stream::PostSyncs(const std::vector<PendingSync>& due) const
{
    if (due.empty()) return;
    const HSTREAM handle = handle_.load();
    if (freed_ || handle == 0) return;
    std::vector<Sync> syncs;
    {
        std::lock_guard guard(lock_);
        syncs = syncs_;
    }
    for (const PendingSync& event : due)
        for (const Sync& sync : syncs)
            if (sync.type == event.type)
                // A title is state: one waiting call reads the newest.
                PostSync({sync.handle, handle, event.data, sync.proc, sync.user},
                         event.type == BASS_SYNC_META);
}

void Stream::OnConnectionMetadata(int connection, std::uint64_t at, std::string_view text)
{
    std::vector<PendingSync> due;
    {
        std::lock_guard guard(lock_);
        if (!armed_ || connection == audioConnection_) {
            NoteTitle(text, at, due);
        } else if (connection == candidate_) {
            // A reconnect's transfer that may yet become the stream's.
            candidateTitles_.emplace_back(at, std::string(text));
        }
    }
    PostSyncs(due);
}

void Stream::NoteTitle(std::string_view text, std::uint64_t at, std::vector<PendingSync>& due)
{
    const auto isTitle = [](const TimedEvent& event) { return !event.back; };
    const bool titleWaits = std::any_of(placeEvents_.begin(), placeEvents_.end(), isTitle) ||
                            std::any_of(frameEvents_.begin(), frameEvents_.end(), isTitle);
    if (metadata_.empty() && !titleWaits) {
        // The first title names the first sound: nothing else is playing.
        metadata_ = std::string(text);
        due.push_back({BASS_SYNC_META, 0});
        return;
    }
    // The title that will be current once everything waiting is heard.
    std::string_view latest = metadata_;
    for (const auto* events : {&frameEvents_, &placeEvents_})
        for (const TimedEvent& event : *events)
            if (!event.back) latest = event.title;
    if (text == latest) return;
    // Titles a few hundred bytes apart (a server that changes them at every
    // block) are one change: the later one counts.
    constexpr std::uint64_t kSamePlace = 512;
    if (!placeEvents_.empty() && !placeEvents_.back().back &&
        at < placeEvents_.back().at + kSamePlace) {
        placeEvents_.back().title = std::string(text);
        return;
    }
    placeEvents_.push_back({at, false, std::string(text)});
}

void Stream::PlaceEvents(std::uint64_t soundAt, std::uint64_t frame, bool resumed)
{
    const auto place = [&](TimedEvent event) {
        event.at = frame;
        // Events of the same frame: the later title counts, a return stays.
        if (!frameEvents_.empty() && frameEvents_.back().at == frame && !event.back &&
            !frameEvents_.back().back)
            frameEvents_.back().title = std::move(event.title);
        else
            frameEvents_.push_back(std::move(event));
    };
    if (resumed) place({frame, true, {}});
    while (!placeEvents_.empty() && placeEvents_.front().at <= soundAt) {
        place(std::move(placeEvents_.front()));
        placeEvents_.pop_front();
    }
    if (!frameEvents_.empty())
        channel_->nextEventFrame.store(frameEvents_.front().at, std::memory_order_release);
}

void Stream::OnOutputReached()
{
    std::vector<PendingSync> due;
    {
        std::lock_guard guard(lock_);
        const std::uint64_t heard = channel_->ring.Taken();
        bool titleChanged = false;
        while (!frameEvents_.empty() && frameEvents_.front().at <= heard) {
            TimedEvent& event = frameEvents_.front();
            if (event.back) {
                due.push_back({BASS_SYNC_RECONNECT, 0});
            } else if (event.title != metadata_) {
                metadata_ = std::move(event.title);
                titleChanged = true;
            }
            frameEvents_.pop_front();
        }
        if (titleChanged) due.push_back({BASS_SYNC_META, 0});
        channel_->nextEventFrame.store(
            frameEvents_.empty() ? std::numeric_limits<std::uint64_t>::max() : frameEvents_.front().at,
            std::memory_order_release);
    }
    PostSyncs(due);
}

void Stream::OnConnectionEnded(int connection)
{
    bool reconnect = false;
    {
        std::lock_guard guard(lock_);
        if (connection != audioConnection_ || freed_) return;
        // A file that came whole is at its end; a stream that broke, stalled
        // or was closed by its server is tried again, once it is open.
        reconnect = armed_ && settings_.reconnectSeconds > 0 && !undecodable_ && download_ &&
                    download_->EndError() != BASS_OK;
    }
    if (!reconnect) {
        EndAudio();
        return;
    }
    LaunchThread([self = shared_from_this()] { self->Reconnect(); });
}

void Stream::EndAudio()
{
    if (ring_) ring_->Finish();
    if (!freed_ && proc_) proc_(nullptr, 0, user_);
}

void Stream::Reconnect()
{
    using Clock = Download::Clock;
    // Pauses before each round of tries: ever longer, up to half a minute.
    static constexpr std::chrono::milliseconds kPauses[] = {
        std::chrono::milliseconds(500), std::chrono::seconds(1),  std::chrono::seconds(2),
        std::chrono::seconds(4),        std::chrono::seconds(8),  std::chrono::seconds(16),
        std::chrono::seconds(30)};
    const auto giveUpAt = Clock::now() + std::chrono::seconds(settings_.reconnectSeconds);
    std::vector<std::string> candidates;
    {
        std::lock_guard guard(lock_);
        candidates.push_back(audioUrl_);
        candidates.insert(candidates.end(), entries_.begin(), entries_.end());
    }
    for (std::size_t attempt = 1;; ++attempt) {
        // The application hears of each round as it begins, of the first
        // one as soon as the connection is lost.
        PostSyncs({{BASS_SYNC_RECONNECT, static_cast<DWORD>(attempt)}});
        const auto pause = kPauses[std::min(attempt - 1, std::size(kPauses) - 1)];
        {
            std::unique_lock guard(lock_);
            wake_.wait_until(guard, std::min(Clock::now() + pause, giveUpAt),
                             [&] { return freed_.load(); });
        }
        if (freed_ || Clock::now() >= giveUpAt) break;
        for (const std::string& url : candidates) {
            if (freed_ || Clock::now() >= giveUpAt) break;
            if (TryReconnect(url, giveUpAt)) return;
        }
    }
    if (!freed_) EndAudio();
}

bool Stream::TryReconnect(const std::string& url, Download::Clock::time_point giveUpAt)
{
    int connection = 0;
    auto download = Connect(url, /*announce=*/false, ring_->Written(), &connection);
    const Download::WaitResult result = download->WaitForBody(512, freed_, giveUpAt);
    const bool audio = result == Download::WaitResult::Ready &&
                       DetectPlaylist(download->ContentType(), download->EffectiveUrl(),
                                      download->Prefix()) == PlaylistKind::None &&
                       !LooksLikePage(download->ContentType(), download->Prefix());
    if (!audio || freed_) {
        download->Cancel();
        download->WaitFinished(std::chrono::milliseconds(500));
        return false;
    }
    std::vector<PendingSync> due;
    {
        std::lock_guard guard(lock_);
        audioConnection_ = connection;
        candidate_ = 0;
        download_ = download;
        // The new connection's data follows a junction: the decoder starts
        // afresh there instead of reading on from a cut-off frame.
        ring_->MarkJunction();
        for (const auto& [at, title] : candidateTitles_) NoteTitle(title, at, due);
        candidateTitles_.clear();
    }
    download->AttachRing(ring_);
    PostSyncs(due);
    return true;
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
    if (abort.load()) return BASS_ERROR_UNKNOWN;
    // From now on a lost connection is tried again. One lost while opening
    // has ended the stream's data already.
    std::lock_guard guard(lock_);
    armed_ = true;
    return BASS_OK;
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

    // HLS is one station cut into segments.
    if (kind == PlaylistKind::Hls) return OpenHls(download, abort);
    if (depth >= kPlaylistDepth) {
        // A list this deep leads to nothing to play.
        download->Cancel();
        download->WaitFinished(SettleTime());
        return BASS_ERROR_NOTAUDIO;
    }
    const Download::WaitResult body = download->WaitForWholeBody(abort, deadline_);
    if (const int stopped = StoppedWait(*download, body); stopped != BASS_OK) return stopped;
    const std::string text = download->Prefix();
    const std::string base = download->EffectiveUrl();
    download->Cancel();
    download->WaitFinished(SettleTime());

    int result = BASS_ERROR_NOTAUDIO;  // a playlist without a usable entry
    const std::vector<std::string> entries = ParsePlaylist(kind, text, base);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (visited.count(NormalisedUrl(entries[i]))) continue;
        if (fetches_ >= kMaxOpenFetches || Expired()) break;
        result = OpenAddress(entries[i], depth + 1, visited, abort);
        if (result == BASS_OK) {
            // The entries after the one that plays, then those before it:
            // where a lost connection is tried next (the innermost list).
            std::lock_guard guard(lock_);
            if (entries_.empty()) {
                entries_.assign(entries.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries.end());
                entries_.insert(entries_.end(), entries.begin(),
                                entries.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
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
        return BASS_ERROR_NOTAUDIO;
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
    {
        std::lock_guard guard(lock_);
        download_ = download;
        audioConnection_ = connections_;
        audioUrl_ = download->EffectiveUrl();
    }
    download->AttachRing(ring_);

    return StartDecoder(download->ContentType(), abort, headerKbps, [download] {
        download->Cancel();
        return download->Error();
    });
}

int Stream::StartDecoder(const std::string& contentType, const std::atomic<bool>& abort,
                         int headerKbps, const std::function<int()>& stopSource)
{
    int error = BASS_OK;
    // The decoder's first reads wait for data: not past the deadline.
    ring_->SetReadDeadline(deadline_);
    decoder_ = Decoder::Open(ring_, contentType, settings_.outputRate, error);
    ring_->SetReadDeadline(Download::Clock::time_point::max());
    if (!decoder_) {
        // A source that broke before the first sound says why itself.
        const int sourceError = stopSource();
        if (abort.load()) return BASS_ERROR_UNKNOWN;
        if (Expired()) return BASS_ERROR_TIMEOUT;
        return sourceError != BASS_OK && sourceError != BASS_ERROR_UNKNOWN ? sourceError
                                                                           : BASS_ERROR_FORMAT;
    }
    if (headerKbps == 0 && decoder_->BitRate() > 0)
        ring_->Resize(DownloadBufferSize(settings_.netBufferMs, decoder_->BitRate() / 1000));

    std::string title;
    std::uint64_t titleAt = 0;
    if (decoder_->TakeTitle(title, titleAt)) {
        std::vector<PendingSync> due;
        {
            std::lock_guard guard(lock_);
            NoteTitle(title, titleAt, due);
        }
        PostSyncs(due);
    }

    const std::size_t frames =
        std::max<std::size_t>(static_cast<std::size_t>(settings_.bufferMs) *
                                  static_cast<std::size_t>(settings_.outputRate) / 1000,
                              4096);
    channel_ = std::make_shared<PlaybackChannel>(frames);
    channel_->softEdges = true;
    std::weak_ptr<Stream> weak = weak_from_this();
    channel_->eventDue = [weak] {
        if (auto self = weak.lock()) self->OnOutputReached();
    };
    return BASS_OK;
}

int Stream::OpenHls(const std::shared_ptr<Download>& download, const std::atomic<bool>& abort)
{
    const Download::WaitResult body = download->WaitForWholeBody(abort, deadline_);
    if (const int stopped = StoppedWait(*download, body); stopped != BASS_OK) return stopped;
    const std::string text = download->Prefix();
    std::string mediaUrl = download->EffectiveUrl();
    const HttpHeaders headers = download->Headers();
    download->Cancel();
    download->WaitFinished(SettleTime());

    HlsFetchOptions options;
    options.connectTimeoutMs = settings_.connectTimeoutMs;
    options.readTimeoutMs = settings_.readTimeoutMs;
    options.proxy = settings_.proxy;
    HlsPlaylist playlist = ParseHls(text, mediaUrl);
    int kbps = 0;
    if (playlist.IsMaster()) {
        // The best sound a radio needs: no more than 320 kbps.
        const HlsVariant* variant = PickVariant(playlist.variants, 320000);
        mediaUrl = variant->url;
        kbps = static_cast<int>(variant->bandwidth / 1000);
        std::string media;
        int error = BASS_OK;
        ++fetches_;
        // Within the open's deadline, however slowly the server sends it.
        HlsFetchOptions bounded = options;
        bounded.totalTimeoutMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       deadline_ - Download::Clock::now())
                                                       .count());
        if (bounded.totalTimeoutMs <= 0) return BASS_ERROR_TIMEOUT;
        if (!FetchWhole(mediaUrl, bounded, 1024 * 1024, abort, media, error)) return error;
        playlist = ParseHls(media, mediaUrl);
        if (playlist.IsMaster()) return BASS_ERROR_NOTAUDIO;
    }
    // SAMPLE-AES and other schemes are not for us.
    if (playlist.unsupportedKey) return BASS_ERROR_FORMAT;
    if (playlist.segments.empty()) return BASS_ERROR_NOTAUDIO;
    {
        std::lock_guard guard(lock_);
        ring_ = std::make_shared<ByteRing>(DownloadBufferSize(settings_.netBufferMs, kbps));
        hasHttp_ = true;
        httpTags_ = headers.TagBlock(true);
        audioUrl_ = mediaUrl;
    }
    std::weak_ptr<Stream> weak = weak_from_this();
    auto feed = HlsFeed::Start(mediaUrl, std::move(playlist), options, ring_,
                               [weak](const std::string& metadata, std::uint64_t at) {
                                   auto self = weak.lock();
                                   if (!self) return;
                                   std::vector<PendingSync> due;
                                   {
                                       std::lock_guard guard(self->lock_);
                                       self->NoteTitle(metadata, at, due);
                                   }
                                   self->PostSyncs(due);
                               });
    {
        std::lock_guard guard(lock_);
        hls_ = feed;
    }
    return StartDecoder("", abort, kbps, [feed] {
        feed->Cancel();
        return feed->EndError();
    });
}

bool Stream::Play(Mixer& mixer)
{
    if (freed_ || !channel_) return false;
    if (channel_->stopped.load()) return false;
    if (!playing_.exchange(true)) {
        LaunchThread([self = shared_from_this()] { self->DecodeLoop(); });
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
        std::uint64_t titleAt = 0;
        std::vector<PendingSync> due;
        {
            std::lock_guard guard(lock_);
            if (decoder_->TakeTitle(title, titleAt)) NoteTitle(title, titleAt, due);
            // What was waiting for this sound now waits for the output to
            // reach these frames.
            if (result == Decoder::Result::Frames)
                PlaceEvents(decoder_->LastSoundAt(), ring.Written(), decoder_->TakeResumed());
        }
        PostSyncs(due);
        if (result == Decoder::Result::Undecodable) {
            // Nothing more will play: the download need not go on.
            undecodable_ = true;
            if (auto download = AudioDownload()) download->Cancel();
            if (auto feed = Feed()) feed->Cancel();
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
    {
        std::lock_guard guard(lock_);
        freed_ = true;
    }
    wake_.notify_all();
    if (mixer != nullptr && channel_) mixer->Remove(channel_.get());
    if (channel_) channel_->ring.StopWaiting();
    CancelOpen();
    if (auto download = AudioDownload()) download->Cancel();
    if (auto feed = Feed()) feed->Cancel();
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
        case BASS_FILEPOS_CONNECTED: {
            // 0 also while a lost connection is being tried again.
            if (const auto feed = Feed()) return feed->Connected() && !undecodable_ ? 1 : 0;
            const auto download = AudioDownload();
            return download && download->Connected() && !undecodable_ ? 1 : 0;
        }
        default:
            return static_cast<QWORD>(-1);
    }
}

int Stream::EndError() const
{
    if (undecodable_) return BASS_ERROR_FORMAT;
    if (const auto feed = Feed()) return feed->EndError();
    const auto download = AudioDownload();
    return download ? download->EndError() : BASS_OK;
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
