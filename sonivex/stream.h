// One stream from an address: its download, its decoder and its place in
// the output, from BASS_StreamCreateURL to BASS_StreamFree.
//
// Thread rules: Open runs on the calling thread and blocks; every other
// member may be called from any thread. The application's download callback
// runs only on the download threads (or, once, on the opening thread when a
// download ended before it was known to be audio), never two calls at once;
// its sync callbacks run on the sync thread. No lock of a stream is held
// while either runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "byte_ring.h"
#include "decoder.h"
#include "download.h"
#include "mixer.h"
#include "sonivex.h"

namespace sonivex {

class HlsFeed;

// An open ends by this many connect timeouts, whatever the servers do.
constexpr int kOpenTimeouts = 3;
// At most this many addresses are fetched in one open, playlists included.
constexpr int kMaxOpenFetches = 64;

struct StreamSettings {
    int outputRate = 44100;
    int bufferMs = 500;      // decoded sound kept ahead of the output
    int netBufferMs = 5000;  // the download buffer, in ms of the stream
    int prebufPercent = 75;
    int connectTimeoutMs = 5000;
    int readTimeoutMs = 10000;
    bool followPlaylists = false;
    int reconnectSeconds = 300;  // how long a lost connection is tried again; 0: never
    std::string proxy;
};

class Stream : public std::enable_shared_from_this<Stream> {
public:
    Stream(StreamSettings settings, DWORD flags, DOWNLOADPROC* proc, void* user);
    ~Stream();

    // Connects, follows playlists, identifies the format and fills the
    // download buffer to the pre-buffer level. Returns BASS_OK or an error
    // code; abort (set by BASS_Free) ends it early.
    int Open(const std::string& url, const std::atomic<bool>& abort);

    void SetHandle(HSTREAM handle) { handle_.store(handle); }
    HSTREAM Handle() const { return handle_.load(); }

    // Starts the decoder thread and puts the stream into the output.
    bool Play(Mixer& mixer);
    bool Playing() const;
    // Ends an Open in progress on another thread (BASS_Free).
    void CancelOpen();
    // Stops the sound at once and lets go of every thread; never waits for
    // the application's callbacks. The output removes the channel itself.
    void Free(Mixer* mixer);

    QWORD FilePosition(DWORD mode) const;
    // Why the stream's data ended, once it has: BASS_OK for a complete
    // download, else the download's error or BASS_ERROR_FORMAT when the
    // decoder could make nothing of the data.
    int EndError() const;
    // The tag block or text of that type, or "" with has false.
    std::string Tags(DWORD type, bool& has) const;
    HSYNC AddSync(DWORD type, SYNCPROC* proc, void* user, HSYNC handle);
    bool HasSync(HSYNC sync) const;

    const std::shared_ptr<PlaybackChannel>& Channel() const { return channel_; }

    // Computes the download buffer's size: netBufferMs at the given rate (or
    // 128 kbps when unknown), at least 16 KiB.
    static std::size_t DownloadBufferSize(int netBufferMs, int kbps);

private:
    struct PendingSync {
        DWORD type;
        DWORD data;
    };
    // Something that happens when the output reaches a place in the sound:
    // a title changes, or the sound is back after a reconnect.
    struct TimedEvent {
        std::uint64_t at;  // a ring place (bytes) or a frame place
        bool back;         // else a title
        std::string title;
    };

    int OpenAddress(const std::string& url, int depth, std::set<std::string>& visited,
                    const std::atomic<bool>& abort);
    bool Expired() const { return Download::Clock::now() >= deadline_; }
    // A wait that BASS_Free or the deadline ended cancels its download and
    // gives the open's error; any other result gives BASS_OK.
    static int StoppedWait(Download& download, Download::WaitResult result);
    // How long a finished download may take to say its last word: at most
    // kSettleTime, and never past the open's deadline.
    std::chrono::milliseconds SettleTime() const;
    int OpenAudio(const std::shared_ptr<Download>& download, const std::atomic<bool>& abort);
    // A new transfer. Its status lines reach the application when announce
    // is set (while opening); one without is a reconnect's candidate. Its
    // metadata counts for the stream once it is the audio connection, from
    // ring place base.
    std::shared_ptr<Download> Connect(const std::string& url, bool announce = true,
                                      std::uint64_t base = 0, int* connection = nullptr);
    void OnConnectionMetadata(int connection, std::uint64_t at, std::string_view text);
    void OnConnectionEnded(int connection);
    // A title whose sound begins at ring place at (lock_ held): the first
    // one counts at once, later ones when the output reaches their sound.
    // Adds the syncs to post to due.
    void NoteTitle(std::string_view text, std::uint64_t at, std::vector<PendingSync>& due);
    // The output has taken frames up to where an event was due.
    void OnOutputReached();
    // Turns the events of ring places up to soundAt into events of frame
    // place frame (decoder thread, lock_ held).
    void PlaceEvents(std::uint64_t soundAt, std::uint64_t frame, bool resumed);
    void DecodeLoop();
    // The reconnect thread: tries the address again, then the playlist's
    // other entries, with growing pauses, until one plays or time is up.
    void Reconnect();
    bool TryReconnect(const std::string& url, Download::Clock::time_point giveUpAt);
    void EndAudio();  // no more data will come: the ring ends, the application hears of it
    std::shared_ptr<Download> AudioDownload() const;
    std::shared_ptr<HlsFeed> Feed() const;
    // An HLS station: its variant, its media playlist, a feed of its
    // segments into the ring, then the decoder.
    int OpenHls(const std::shared_ptr<Download>& download, const std::atomic<bool>& abort);
    // What every open ends with: the decoder on the ring, the channel.
    // stopSource ends the data's source when the decoder fails and says why
    // it broke (BASS_OK when it did not).
    int StartDecoder(const std::string& contentType, const std::atomic<bool>& abort, int headerKbps,
                     const std::function<int()>& stopSource);
    void PostSyncs(const std::vector<PendingSync>& due) const;

    struct Sync {
        HSYNC handle;
        DWORD type;
        SYNCPROC* proc;
        void* user;
    };

    // One deadline for the whole open, playlists and their entries
    // included, and a bound on the addresses it fetches (Open thread only).
    Download::Clock::time_point deadline_ = Download::Clock::time_point::max();
    int fetches_ = 0;

    const StreamSettings settings_;
    const DWORD flags_;
    DOWNLOADPROC* const proc_;
    void* const user_;
    std::atomic<HSTREAM> handle_{0};
    std::atomic<bool> freed_{false};
    std::atomic<bool> playing_{false};
    std::atomic<bool> undecodable_{false};

    std::shared_ptr<Download> download_;  // the audio download
    std::shared_ptr<HlsFeed> hls_;        // or an HLS station's feed (under lock_)
    std::shared_ptr<Download> opening_;   // the download Open waits on (under lock_)
    std::shared_ptr<ByteRing> ring_;
    std::unique_ptr<Decoder> decoder_;  // until the decoder thread takes it
    std::shared_ptr<PlaybackChannel> channel_;

    mutable std::mutex lock_;  // guards what follows
    std::condition_variable wake_;  // a freed stream wakes its reconnect thread
    int connections_ = 0;           // transfers started
    int audioConnection_ = 0;       // the one whose audio the ring takes
    int candidate_ = 0;             // a reconnect's transfer, until it is taken
    std::vector<std::pair<std::uint64_t, std::string>> candidateTitles_;
    bool armed_ = false;  // opened: a lost connection is tried again
    std::string audioUrl_;  // the audio's address after redirects
    std::vector<std::string> entries_;  // the playlist's other entries, in order
    std::deque<TimedEvent> placeEvents_;  // by ring place, not yet decoded
    std::deque<TimedEvent> frameEvents_;  // by frame place, not yet heard
    std::string metadata_;
    std::string icyTags_, httpTags_;
    bool hasIcy_ = false, hasHttp_ = false;
    std::vector<Sync> syncs_;
};

}  // namespace sonivex
