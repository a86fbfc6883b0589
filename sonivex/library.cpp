#include "library.h"

extern "C" {
#include <libavutil/log.h>
}

#include "errors.h"
#include "sync_dispatcher.h"
#include "threads.h"

namespace sonivex {

Library& Library::Instance()
{
    // Never destroyed: threads of the library may outlive main's return.
    static Library* library = new Library;
    return *library;
}

Library::Library() : mixer_(volume)
{
    // FFmpeg's remarks on damaged frames are of no use to a listener; the
    // library reports failures through its error codes.
    av_log_set_level(AV_LOG_QUIET);
    SetSyncLiveness([this](DWORD channel, HSYNC sync) {
        auto stream = Find(channel);
        return stream && stream->HasSync(sync);
    });
}

bool Library::Init(int device, DWORD frequency, int& error)
{
    if (frequency < 8000 || frequency > 192000 || device < -1) {
        error = BASS_ERROR_ILLPARAM;
        return false;
    }
    std::lock_guard guard(lock_);
    if (initialised_) {
        error = BASS_ERROR_ALREADY;
        return false;
    }
    outputRate_ = static_cast<int>(frequency);
    if (device != 0) output_ = OpenSdlOutput(device, outputRate_, mixer_);
    if (!output_) {
        if (device >= 1) {
            error = BASS_ERROR_ILLPARAM;  // a device that was asked for by number
            return false;
        }
        output_ = OpenNullOutput(outputRate_, mixer_);
    }
    abortOpens_ = false;
    initialised_ = true;
    error = BASS_OK;
    return true;
}

bool Library::Free()
{
    std::unordered_map<DWORD, std::shared_ptr<Stream>> streams;
    std::set<std::shared_ptr<Stream>> opening;
    std::unique_ptr<Output> output;
    {
        std::lock_guard guard(lock_);
        if (!initialised_) return false;
        initialised_ = false;
        abortOpens_ = true;
        ++generation_;
        streams.swap(streams_);
        opening.swap(opening_);
        output = std::move(output_);
    }
    for (auto& [handle, stream] : streams)
        stream->Free(&mixer_);
    for (auto& stream : opening)
        stream->CancelOpen();
    mixer_.RemoveAll();
    if (output) output->Close();
    // The streams' threads have been told to end; let them, briefly.
    WaitForThreads(std::chrono::seconds(1));
    return true;
}

StreamSettings Library::Settings()
{
    StreamSettings settings;
    {
        std::lock_guard guard(lock_);
        settings.outputRate = outputRate_;
    }
    settings.bufferMs = config.bufferMs;
    settings.netBufferMs = config.netBufferMs;
    settings.prebufPercent = config.netPrebuf;
    settings.connectTimeoutMs = config.netTimeoutMs;
    settings.readTimeoutMs = config.netReadTimeoutMs;
    settings.followPlaylists = config.netPlaylist != 0;
    settings.reconnectSeconds = config.netReconnect;
    std::lock_guard guard(config.proxyLock);
    settings.proxy = config.proxy;
    return settings;
}

void Library::BeginOpen(const std::shared_ptr<Stream>& stream)
{
    std::lock_guard guard(lock_);
    opening_.insert(stream);
}

void Library::EndOpen(const std::shared_ptr<Stream>& stream)
{
    std::lock_guard guard(lock_);
    opening_.erase(stream);
}

HSTREAM Library::Register(const std::shared_ptr<Stream>& stream, std::uint64_t generation)
{
    std::lock_guard guard(lock_);
    // A BASS_Free since the opening began: the stream belongs to nobody.
    if (!initialised_ || generation != generation_) return 0;
    do {
        ++nextHandle_;
    } while (nextHandle_ == 0 || streams_.count(nextHandle_));
    streams_[nextHandle_] = stream;
    stream->SetHandle(nextHandle_);
    return nextHandle_;
}

std::shared_ptr<Stream> Library::Find(DWORD handle)
{
    std::lock_guard guard(lock_);
    const auto found = streams_.find(handle);
    return found != streams_.end() ? found->second : nullptr;
}

std::shared_ptr<Stream> Library::Remove(DWORD handle)
{
    std::lock_guard guard(lock_);
    const auto found = streams_.find(handle);
    if (found == streams_.end()) return nullptr;
    auto stream = found->second;
    streams_.erase(found);
    return stream;
}

HSYNC Library::NextSyncHandle()
{
    HSYNC handle;
    do {
        handle = nextSync_.fetch_add(1);
    } while (handle == 0);
    return handle;
}

}  // namespace sonivex
