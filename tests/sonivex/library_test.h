// What the library's network tests share: a fixture that brings the library
// up on the null output and down again, a recorder for the download
// callback, and a look at how far the output has played a stream.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library.h"
#include "sonivex.h"
#include "wait_until.h"

namespace sonivex_test {

// Everything a stream's download callback was told, in order; also whether
// two calls ever overlapped.
struct DownloadRecord {
    mutable std::mutex lock;
    std::vector<std::string> statuses;
    std::string audio;
    int ends = 0;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    static void Proc(const void* buffer, DWORD length, void* user)
    {
        auto* self = static_cast<DownloadRecord*>(user);
        if (self->inside.fetch_add(1) != 0) self->overlapped = true;
        {
            std::lock_guard guard(self->lock);
            if (buffer == nullptr)
                ++self->ends;
            else if (length == 0)
                self->statuses.emplace_back(static_cast<const char*>(buffer));
            else
                self->audio.append(static_cast<const char*>(buffer), length);
        }
        self->inside.fetch_sub(1);
    }
    std::vector<std::string> Statuses() const
    {
        std::lock_guard guard(lock);
        return statuses;
    }
    std::string Audio() const
    {
        std::lock_guard guard(lock);
        return audio;
    }
    int Ends() const
    {
        std::lock_guard guard(lock);
        return ends;
    }
};

// The tag block as a list of its texts.
inline std::vector<std::string> TagLines(const char* block)
{
    std::vector<std::string> lines;
    for (; block != nullptr && *block != '\0'; block += std::string(block).size() + 1)
        lines.emplace_back(block);
    return lines;
}

using kit::WaitUntil;

// The frames of the stream the output has taken so far (the silence of a
// stream that ran dry included), read without looking at the sound data:
// what a test waits for when the stream must have played for a while. 0 for
// a handle that is not a stream's.
inline std::uint64_t FramesPlayed(HSTREAM handle)
{
    const std::shared_ptr<sonivex::Stream> stream = sonivex::Library::Instance().Find(handle);
    return stream && stream->Channel() ? stream->Channel()->framesOutput.load() : 0;
}

// The titles a stream's meta syncs found in its tags, in order ("(none)"
// for a sync that found none).
struct TitleRecord {
    mutable std::mutex lock;
    std::vector<std::string> titles;

    static void Proc(HSYNC, DWORD channel, DWORD, void* user)
    {
        auto* self = static_cast<TitleRecord*>(user);
        const char* meta = BASS_ChannelGetTags(channel, BASS_TAG_META);
        std::lock_guard guard(self->lock);
        self->titles.emplace_back(meta ? meta : "(none)");
    }
    std::vector<std::string> Titles() const
    {
        std::lock_guard guard(lock);
        return titles;
    }
    bool Saw(const std::string& title) const
    {
        std::lock_guard guard(lock);
        return std::find(titles.begin(), titles.end(), title) != titles.end();
    }
};

inline double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The library up on the null output (device 0), following playlists, with
// short time limits and no reconnecting; down again after each test.
struct LibraryTest : testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
        BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
        BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 2000);
        BASS_SetConfig(BASS_CONFIG_NET_READTIMEOUT, 2000);
        BASS_SetConfig(BASS_CONFIG_NET_BUFFER, 5000);
        BASS_SetConfig(BASS_CONFIG_BUFFER, 500);
        // Finite test streams end where they end; the tests of reconnecting
        // turn it on.
        BASS_SetConfig(BASS_CONFIG_NET_RECONNECT, 0);
    }
    void TearDown() override { BASS_Free(); }

    // A record for a stream's download callback. Freeing a stream never
    // waits for its callback, so one that is running then finishes on its
    // own: a record lives as long as the fixture, whose members go after
    // TearDown's BASS_Free has waited for the library's threads.
    DownloadRecord& NewRecord() { return records_.emplace_back(); }

    HSTREAM Open(const std::string& url, DownloadRecord* record = nullptr)
    {
        return BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_STATUS,
                                    record ? &DownloadRecord::Proc : nullptr, record);
    }

private:
    std::deque<DownloadRecord> records_;
};

}  // namespace sonivex_test
