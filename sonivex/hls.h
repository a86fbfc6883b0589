// HLS stations: the playlists (a master playlist of variants, a media
// playlist of segments) and the feed that fetches a media playlist's
// segments one after another into a stream's download ring, where the
// decoder reads them as one stream (MPEG-TS with AAC or MP3, packed ADTS
// or MP3, fragmented MP4). A segment's title comes from its #EXTINF, or
// from the ID3 tag a packed segment starts with, which the feed takes out.
//
// Thread rules: the parsing functions keep no state and may be called from
// any thread. A feed runs on a thread of its own from Start until its
// playlist has ended, it gave up, or Cancel; its title callback runs on that
// thread with no lock of the feed held. Every other member may be called
// from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "byte_ring.h"

namespace sonivex {

struct HlsVariant {
    std::string url;
    long bandwidth = 0;  // bits per second; 0 when the playlist does not say
};

struct HlsSegment {
    std::string url;
    std::uint64_t sequence = 0;
    std::string title;   // what #EXTINF gives after its comma
    std::string keyUrl;  // AES-128 encrypted with the key there; empty: plain
    std::string iv;      // its 16 bytes from #EXT-X-KEY; empty: the sequence number
    std::string mapUrl;  // #EXT-X-MAP: the initialisation (fragmented MP4) it needs first
};

struct HlsPlaylist {
    std::vector<HlsVariant> variants;  // a master playlist's
    std::vector<HlsSegment> segments;  // a media playlist's
    double targetDuration = 0;         // seconds
    bool ended = false;                // #EXT-X-ENDLIST: no segment will be added
    bool unsupportedKey = false;       // #EXT-X-KEY with a method other than NONE or AES-128
    bool IsMaster() const { return !variants.empty(); }
};

// Reads a playlist's text; addresses are resolved against baseUrl and only
// http(s) ones kept. Any input is safe.
HlsPlaylist ParseHls(std::string_view text, std::string_view baseUrl);

// The variant with the highest bandwidth of at most maxBandwidth, else the
// one with the lowest; the first when none gives a bandwidth. Null for none.
const HlsVariant* PickVariant(const std::vector<HlsVariant>& variants, long maxBandwidth);

struct HlsFetchOptions {
    int connectTimeoutMs = 5000;
    int readTimeoutMs = 10000;  // without any data
    long totalTimeoutMs = 0;    // for the whole fetch; 0: no limit of its own
    std::string proxy;
};

// Decrypts an AES-128 (CBC, PKCS#7) segment with its 16-byte key and IV
// (empty: the sequence number, big-endian, as the IV); false when it does
// not decrypt.
bool DecryptSegment(const std::string& key, const std::string& iv, std::uint64_t sequence,
                    std::string& bytes);

// Fetches a whole resource of at most maxBytes; false (with error a
// BASS_ERROR_* code) when it fails, answers with an error status or is
// larger. cancel ends it early.
bool FetchWhole(const std::string& url, const HlsFetchOptions& options, std::size_t maxBytes,
                const std::atomic<bool>& cancel, std::string& body, int& error);

class HlsFeed : public std::enable_shared_from_this<HlsFeed> {
public:
    // text: the media playlist that url gave, as fetched.
    using TitleProc = std::function<void(const std::string& metadata, std::uint64_t at)>;
    static std::shared_ptr<HlsFeed> Start(std::string url, HlsPlaylist playlist,
                                          HlsFetchOptions options, std::shared_ptr<ByteRing> ring,
                                          TitleProc titles);

    void Cancel();
    bool Connected() const { return !ended_.load(); }
    // Why the feed ended: BASS_OK for a playlist that ended, else the error
    // of the fetches that made it give up.
    int EndError() const { return endError_.load(); }

    // A live playlist starts this many segments from its end.
    static constexpr std::size_t kLiveEdge = 3;

private:
    HlsFeed() = default;
    void Run();
    bool WriteAll(const std::string& bytes);
    // Sleeps for seconds, or until cancelled; false when cancelled.
    bool Sleep(double seconds);
    // The segment's bytes as the decoder needs them; false to skip it.
    bool Decrypt(const HlsSegment& segment, std::string& bytes);

    std::string url_;
    HlsPlaylist playlist_;
    HlsFetchOptions options_;
    std::shared_ptr<ByteRing> ring_;
    TitleProc titles_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> endError_{0};
    std::mutex lock_;
    std::condition_variable changed_;  // room in the ring, or a cancel
    std::vector<std::pair<std::string, std::string>> keys_;  // fetched: address, key
    std::string mapWritten_;  // the initialisation the ring has had last
};

}  // namespace sonivex
