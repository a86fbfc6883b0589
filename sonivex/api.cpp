// The C functions of sonivex.h: argument checks, error codes and the
// hand-over to the library's objects.
#include <cstring>
#include <vector>

#include "errors.h"
#include "library.h"
#include "sonivex.h"
#include "spectrum.h"

using namespace sonivex;

namespace {

Library& Lib()
{
    return Library::Instance();
}

// The copies that BASS_ChannelGetTags hands out: one per thread and tag
// type, valid until that thread asks for the same type again.
thread_local std::string t_tags[3];

}  // namespace

extern "C" {

DWORD BASS_GetVersion(void)
{
    return Succeed<DWORD>(0x02040000u | 0x0100u);
}

BOOL BASS_Init(int device, DWORD freq, DWORD, void*, const void*)
{
    int error = BASS_OK;
    const bool ok = Lib().Init(device, freq, error);
    SetError(error);
    return ok ? 1 : 0;
}

BOOL BASS_Free(void)
{
    if (!Lib().Free()) return Fail(BASS_ERROR_INIT, 0);
    return Succeed(1);
}

BOOL BASS_SetConfig(DWORD option, DWORD value)
{
    Configuration& config = Lib().config;
    const auto in = [&](DWORD low, DWORD high) { return value >= low && value <= high; };
    switch (option) {
        case BASS_CONFIG_BUFFER:
            if (!in(10, 10000)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.bufferMs = static_cast<int>(value);
            break;
        case BASS_CONFIG_NET_TIMEOUT:
            if (!in(100, 600000)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.netTimeoutMs = static_cast<int>(value);
            break;
        case BASS_CONFIG_NET_BUFFER:
            if (!in(100, 120000)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.netBufferMs = static_cast<int>(value);
            break;
        case BASS_CONFIG_NET_PREBUF:
            if (!in(0, 100)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.netPrebuf = static_cast<int>(value);
            break;
        case BASS_CONFIG_NET_READTIMEOUT:
            if (!in(100, 600000)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.netReadTimeoutMs = static_cast<int>(value);
            break;
        case BASS_CONFIG_NET_PLAYLIST:
            if (!in(0, 1)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.netPlaylist = static_cast<int>(value);
            break;
        case BASS_CONFIG_NET_RECONNECT:
            if (!in(0, 86400)) return Fail(BASS_ERROR_ILLPARAM, 0);
            config.netReconnect = static_cast<int>(value);
            break;
        default:
            return Fail(BASS_ERROR_ILLPARAM, 0);
    }
    return Succeed(1);
}

DWORD BASS_GetConfig(DWORD option)
{
    const Configuration& config = Lib().config;
    switch (option) {
        case BASS_CONFIG_BUFFER:
            return Succeed<DWORD>(config.bufferMs);
        case BASS_CONFIG_NET_TIMEOUT:
            return Succeed<DWORD>(config.netTimeoutMs);
        case BASS_CONFIG_NET_BUFFER:
            return Succeed<DWORD>(config.netBufferMs);
        case BASS_CONFIG_NET_PREBUF:
            return Succeed<DWORD>(config.netPrebuf);
        case BASS_CONFIG_NET_READTIMEOUT:
            return Succeed<DWORD>(config.netReadTimeoutMs);
        case BASS_CONFIG_NET_PLAYLIST:
            return Succeed<DWORD>(config.netPlaylist);
        case BASS_CONFIG_NET_RECONNECT:
            return Succeed<DWORD>(config.netReconnect);
        default:
            return Fail(BASS_ERROR_ILLPARAM, static_cast<DWORD>(-1));
    }
}

BOOL BASS_SetConfigPtr(DWORD option, const void* value)
{
    if (option != BASS_CONFIG_NET_PROXY) return Fail(BASS_ERROR_ILLPARAM, 0);
    Configuration& config = Lib().config;
    std::lock_guard guard(config.proxyLock);
    config.proxy = value != nullptr ? static_cast<const char*>(value) : "";
    return Succeed(1);
}

BOOL BASS_SetVolume(float volume)
{
    if (!(volume >= 0.0f && volume <= 1.0f)) return Fail(BASS_ERROR_ILLPARAM, 0);
    Lib().volume = volume;
    return Succeed(1);
}

float BASS_GetVolume(void)
{
    return Succeed(Lib().volume.load());
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                             void* user)
{
    Library& library = Lib();
    if (!library.Initialised()) return Fail<HSTREAM>(BASS_ERROR_INIT, 0);
    if (url == nullptr || offset != 0) return Fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0);
    const std::uint64_t generation = library.Generation();
    auto stream = std::make_shared<Stream>(library.Settings(), flags, proc, user);
    library.BeginOpen(stream);
    const int result = stream->Open(url, library.AbortFlag());
    library.EndOpen(stream);
    if (result != BASS_OK) {
        stream->Free(nullptr);
        return Fail<HSTREAM>(result, 0);
    }
    const HSTREAM handle = library.Register(stream, generation);
    if (handle == 0) {
        stream->Free(nullptr);
        return Fail<HSTREAM>(BASS_ERROR_INIT, 0);
    }
    return Succeed(handle);
}

BOOL BASS_StreamFree(HSTREAM handle)
{
    auto stream = Lib().Remove(handle);
    if (!stream) return Fail(BASS_ERROR_HANDLE, 0);
    stream->Free(&Lib().TheMixer());
    return Succeed(1);
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode)
{
    auto stream = Lib().Find(handle);
    if (!stream) return Fail(BASS_ERROR_HANDLE, static_cast<QWORD>(-1));
    const QWORD position = stream->FilePosition(mode);
    if (position == static_cast<QWORD>(-1)) return Fail(BASS_ERROR_ILLPARAM, position);
    // An ended download says why through the error code.
    if (mode == BASS_FILEPOS_CONNECTED && position == 0) return Fail(stream->EndError(), position);
    return Succeed(position);
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags)
{
    auto stream = Lib().Find(handle);
    if (!stream) return Fail<const char*>(BASS_ERROR_HANDLE, nullptr);
    if (tags != BASS_TAG_HTTP && tags != BASS_TAG_ICY && tags != BASS_TAG_META)
        return Fail<const char*>(BASS_ERROR_ILLPARAM, nullptr);
    bool has = false;
    std::string& copy = t_tags[tags - BASS_TAG_HTTP];
    copy = stream->Tags(tags, has);
    return Succeed<const char*>(has ? copy.c_str() : nullptr);
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD, SYNCPROC* proc, void* user)
{
    auto stream = Lib().Find(handle);
    if (!stream) return Fail<HSYNC>(BASS_ERROR_HANDLE, 0);
    if ((type != BASS_SYNC_META && type != BASS_SYNC_RECONNECT) || proc == nullptr)
        return Fail<HSYNC>(BASS_ERROR_ILLPARAM, 0);
    return Succeed(stream->AddSync(type, proc, user, Lib().NextSyncHandle()));
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL)
{
    auto stream = Lib().Find(handle);
    if (!stream) return Fail(BASS_ERROR_HANDLE, 0);
    if (!stream->Play(Lib().TheMixer())) return Fail(BASS_ERROR_NOPLAY, 0);
    return Succeed(1);
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length)
{
    constexpr DWORD kFailed = static_cast<DWORD>(-1);
    auto stream = Lib().Find(handle);
    if (!stream) return Fail(BASS_ERROR_HANDLE, kFailed);
    if (!stream->Playing()) return Fail(BASS_ERROR_NOPLAY, kFailed);
    if (buffer == nullptr) return Fail(BASS_ERROR_ILLPARAM, kFailed);
    const OutputHistory& history = stream->Channel()->history;
    Lib().TheMixer().NoteLook();
    if (length == BASS_DATA_FFT256) {
        std::uint32_t frames[256];
        history.Latest(frames, 256);
        Spectrum256(frames, static_cast<float*>(buffer));
        return Succeed<DWORD>(512);
    }
    if (length & BASS_DATA_FFT256) return Fail(BASS_ERROR_ILLPARAM, kFailed);
    const std::size_t count = std::min<std::size_t>(length / 4, OutputHistory::kFrames);
    history.Latest(static_cast<std::uint32_t*>(buffer), count);
    return Succeed(static_cast<DWORD>(count * 4));
}

int BASS_ErrorGetCode(void)
{
    return LastError();
}

}  // extern "C"
