#include "hls.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "download.h"
#include "errors.h"
#include "id3.h"
#include "playlist.h"
#include "threads.h"

namespace sonivex {

namespace {

constexpr std::size_t kMaxSegmentBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxPlaylistBytes = 1024 * 1024;
// A live playlist that cannot be read this many times in a row is gone.
constexpr int kMaxFailedReloads = 5;

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The value of NAME= in an attribute list (NAME=value,NAME="value",...).
std::string Attribute(std::string_view list, std::string_view name)
{
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t equals = list.find('=', at);
        if (equals == std::string_view::npos) break;
        const std::string_view key = Trim(list.substr(at, equals - at));
        std::size_t end = equals + 1;
        std::string value;
        if (end < list.size() && list[end] == '"') {
            const std::size_t close = list.find('"', end + 1);
            value = std::string(list.substr(end + 1, close == std::string_view::npos ? std::string_view::npos
                                                                                      : close - end - 1));
            end = close == std::string_view::npos ? list.size() : close + 1;
        } else {
            const std::size_t comma = list.find(',', end);
            value = std::string(Trim(list.substr(end, comma == std::string_view::npos ? std::string_view::npos
                                                                                       : comma - end)));
            end = comma == std::string_view::npos ? list.size() : comma;
        }
        if (key == name) return value;
        at = list.find(',', end);
        if (at == std::string_view::npos) break;
        ++at;
    }
    return {};
}

// The 16 bytes of an IV attribute ("0x" and up to 32 hex digits); empty
// when there is none or it is no such number.
std::string IvBytes(std::string hex)
{
    if (hex.size() > 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X')) hex.erase(0, 2);
    if (hex.empty() || hex.size() > 32 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return {};
    hex.insert(0, 32 - hex.size(), '0');
    std::string bytes;
    for (std::size_t i = 0; i < 32; i += 2)
        bytes.push_back(static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

struct Fetch {
    std::string* body;
    std::size_t maxBytes;
    const std::atomic<bool>* cancel;
    bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* fetch = static_cast<Fetch*>(user);
    const std::size_t bytes = size * count;
    if (fetch->body->size() + bytes > fetch->maxBytes) {
        fetch->tooLarge = true;
        return 0;
    }
    fetch->body->append(data, bytes);
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Fetch*>(user)->cancel->load() ? 1 : 0;
}

}  // namespace

HlsPlaylist ParseHls(std::string_view text, std::string_view baseUrl)
{
    HlsPlaylist playlist;
    std::uint64_t sequence = 0;
    long bandwidth = -1;  // -1: no #EXT-X-STREAM-INF before the next address
    std::string title;
    std::string keyUrl, iv, mapUrl;
    bool inf = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty()) continue;
        if (line.front() == '#') {
            if (StartsWith(line, "#EXT-X-TARGETDURATION:")) {
                playlist.targetDuration = std::atof(std::string(line.substr(22)).c_str());
            } else if (StartsWith(line, "#EXT-X-MEDIA-SEQUENCE:")) {
                sequence = std::strtoull(std::string(line.substr(22)).c_str(), nullptr, 10);
            } else if (StartsWith(line, "#EXT-X-ENDLIST")) {
                playlist.ended = true;
            } else if (StartsWith(line, "#EXT-X-KEY:")) {
                const std::string method = Attribute(line.substr(11), "METHOD");
                keyUrl.clear();
                iv.clear();
                if (method == "AES-128") {
                    keyUrl = ResolveUrl(baseUrl, Attribute(line.substr(11), "URI"));
                    iv = IvBytes(Attribute(line.substr(11), "IV"));
                    if (keyUrl.empty()) playlist.unsupportedKey = true;
                } else if (!method.empty() && method != "NONE") {
                    playlist.unsupportedKey = true;
                }
            } else if (StartsWith(line, "#EXT-X-MAP:")) {
                mapUrl = ResolveUrl(baseUrl, Attribute(line.substr(11), "URI"));
            } else if (StartsWith(line, "#EXT-X-STREAM-INF:")) {
                const std::string value = Attribute(line.substr(18), "BANDWIDTH");
                bandwidth = value.empty() ? 0 : std::atol(value.c_str());
            } else if (StartsWith(line, "#EXTINF:")) {
                const std::size_t comma = line.find(',');
                title = comma == std::string_view::npos ? std::string()
                                                        : std::string(Trim(line.substr(comma + 1)));
                inf = true;
            }
            continue;
        }
        const std::string url = ResolveUrl(baseUrl, line);
        if (bandwidth >= 0) {
            if (!url.empty()) playlist.variants.push_back({url, bandwidth});
            bandwidth = -1;
        } else if (inf || !url.empty()) {
            if (!url.empty()) playlist.segments.push_back({url, sequence, title, keyUrl, iv, mapUrl});
            ++sequence;
            title.clear();
            inf = false;
        }
    }
    return playlist;
}

const HlsVariant* PickVariant(const std::vector<HlsVariant>& variants, long maxBandwidth)
{
    if (variants.empty()) return nullptr;
    const HlsVariant* best = nullptr;
    const HlsVariant* lowest = nullptr;
    for (const HlsVariant& variant : variants) {
        if (variant.bandwidth <= 0) continue;
        if (variant.bandwidth <= maxBandwidth && (!best || variant.bandwidth > best->bandwidth))
            best = &variant;
        if (!lowest || variant.bandwidth < lowest->bandwidth) lowest = &variant;
    }
    if (best) return best;
    return lowest ? lowest : &variants.front();
}

bool DecryptSegment(const std::string& key, const std::string& iv, std::uint64_t sequence,
                    std::string& bytes)
{
    if (key.size() != 16) return false;
    unsigned char vector[16] = {};
    if (iv.size() == 16) {
        std::copy(iv.begin(), iv.end(), vector);
    } else {
        for (int i = 0; i < 8; ++i) vector[15 - i] = static_cast<unsigned char>(sequence >> (8 * i));
    }
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (context == nullptr) return false;
    std::string plain(bytes.size() + 16, '\0');
    int written = 0, last = 0;
    const bool ok =
        EVP_DecryptInit_ex(context, EVP_aes_128_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), vector) == 1 &&
        EVP_DecryptUpdate(context, reinterpret_cast<unsigned char*>(plain.data()), &written,
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size())) == 1 &&
        EVP_DecryptFinal_ex(context, reinterpret_cast<unsigned char*>(plain.data()) + written, &last) == 1;
    EVP_CIPHER_CTX_free(context);
    if (!ok) return false;
    plain.resize(static_cast<std::size_t>(written + last));
    bytes.swap(plain);
    return true;
}

bool FetchWhole(const std::string& url, const HlsFetchOptions& options, std::size_t maxBytes,
                const std::atomic<bool>& cancel, std::string& body, int& error)
{
    body.clear();
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
        error = BASS_ERROR_UNKNOWN;
        return false;
    }
    Fetch fetch{&body, maxBytes, &cancel};
    SetTransferOptions(easy, url, options.connectTimeoutMs, options.proxy);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    // No byte for the read timeout ends the fetch.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(std::max(1, options.readTimeoutMs / 1000)));
    if (options.totalTimeoutMs > 0) curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &fetch);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &fetch);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    if (result == CURLE_OK) return true;
    error = fetch.tooLarge ? BASS_ERROR_FORMAT : Download::ErrorForCurlResult(result, true);
    return false;
}

std::shared_ptr<HlsFeed> HlsFeed::Start(std::string url, HlsPlaylist playlist,
                                        HlsFetchOptions options, std::shared_ptr<ByteRing> ring,
                                        TitleProc titles)
{
    std::shared_ptr<HlsFeed> feed(new HlsFeed);
    feed->url_ = std::move(url);
    feed->playlist_ = std::move(playlist);
    feed->options_ = std::move(options);
    feed->ring_ = std::move(ring);
    feed->titles_ = std::move(titles);
    std::weak_ptr<HlsFeed> weak = feed;
    feed->ring_->SetSpaceListener([weak] {
        if (auto self = weak.lock()) self->changed_.notify_all();
    });
    // The thread owns the feed while it runs; nobody waits for it.
    LaunchThread([feed] { feed->Run(); });
    return feed;
}

void HlsFeed::Cancel()
{
    {
        std::lock_guard guard(lock_);
        cancelled_ = true;
    }
    changed_.notify_all();
    ring_->Abort();
}

bool HlsFeed::Sleep(double seconds)
{
    std::unique_lock guard(lock_);
    changed_.wait_for(guard, std::chrono::duration<double>(seconds), [&] { return cancelled_.load(); });
    return !cancelled_;
}

bool HlsFeed::WriteAll(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (cancelled_) return false;
        done += ring_->Write(reinterpret_cast<const std::uint8_t*>(bytes.data()) + done,
                             bytes.size() - done);
        if (done < bytes.size()) {
            // The decoder makes room at its pace; it wakes us when it does.
            std::unique_lock guard(lock_);
            changed_.wait_for(guard, std::chrono::milliseconds(100),
                              [&] { return cancelled_.load() || ring_->Free() > 0; });
        }
    }
    return true;
}

bool HlsFeed::Decrypt(const HlsSegment& segment, std::string& bytes)
{
    if (segment.keyUrl.empty()) return true;
    const std::string* key = nullptr;
    for (const auto& [url, value] : keys_)
        if (url == segment.keyUrl) key = &value;
    if (key == nullptr) {
        std::string fetched;
        int error = BASS_OK;
        if (!FetchWhole(segment.keyUrl, options_, 64, cancelled_, fetched, error)) return false;
        // A few keys at most: a station changes its key now and then.
        if (keys_.size() >= 8) keys_.erase(keys_.begin());
        keys_.emplace_back(segment.keyUrl, std::move(fetched));
        key = &keys_.back().second;
    }
    return DecryptSegment(*key, segment.iv, segment.sequence, bytes);
}

void HlsFeed::Run()
{
    std::uint64_t next = 0;
    if (!playlist_.segments.empty()) {
        const auto& segments = playlist_.segments;
        // A live playlist is joined near its end, a finished one from its start.
        const std::size_t from =
            playlist_.ended || segments.size() <= kLiveEdge ? 0 : segments.size() - kLiveEdge;
        next = segments[from].sequence;
    }
    int error = BASS_OK;
    int failedReloads = 0;
    std::string body;
    while (!cancelled_) {
        bool fetchedAny = false;
        for (const HlsSegment& segment : playlist_.segments) {
            if (cancelled_) break;
            if (segment.sequence < next) continue;
            next = segment.sequence + 1;
            int segmentError = BASS_OK;
            // A segment that cannot be had is skipped: the next one follows.
            if (!FetchWhole(segment.url, options_, kMaxSegmentBytes, cancelled_, body, segmentError) ||
                !Decrypt(segment, body))
                continue;
            fetchedAny = true;
            // Fragmented MP4 segments follow their initialisation, which
            // goes into the ring once, and again when it changes.
            if (!segment.mapUrl.empty() && segment.mapUrl != mapWritten_) {
                std::string init;
                int initError = BASS_OK;
                if (!FetchWhole(segment.mapUrl, options_, kMaxSegmentBytes, cancelled_, init, initError))
                    continue;
                if (!WriteAll(init)) break;
                mapWritten_ = segment.mapUrl;
            }
            // Packed audio (ADTS or MP3 segments) begins each segment with an
            // ID3 tag, which the decoder must not see; its song, when it
            // names one, is the segment's title.
            std::string metadata = SongMetadata("", segment.title);
            if (segment.mapUrl.empty()) {
                std::size_t tags = 0;
                for (Id3Song song = ReadId3(body); song.size > 0;
                     song = ReadId3(std::string_view(body).substr(tags))) {
                    if (std::string named = SongMetadata(song.artist, song.title); !named.empty())
                        metadata = std::move(named);
                    tags += song.size;
                }
                body.erase(0, tags);
            }
            if (!metadata.empty() && titles_) titles_(metadata, ring_->Written());
            if (!WriteAll(body)) break;
        }
        if (cancelled_ || playlist_.ended) break;
        // A live playlist grows: read it again after a segment's time, or
        // half of it when nothing new came.
        const double target = playlist_.targetDuration > 0 ? playlist_.targetDuration : 2.0;
        if (!Sleep(fetchedAny ? target : target / 2)) break;
        std::string text;
        if (!FetchWhole(url_, options_, kMaxPlaylistBytes, cancelled_, text, error)) {
            if (++failedReloads >= kMaxFailedReloads) break;
            continue;
        }
        failedReloads = 0;
        error = BASS_OK;
        HlsPlaylist reloaded = ParseHls(text, url_);
        if (reloaded.unsupportedKey) {
            error = BASS_ERROR_FORMAT;
            break;
        }
        playlist_ = std::move(reloaded);
    }
    endError_ = cancelled_ ? BASS_OK : error;
    if (!cancelled_) ring_->Finish();
    ended_ = true;
}

}  // namespace sonivex
