#include "stream_worker.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "shell.h"
#include "window_messages.h"

std::atomic<HSTREAM> CurrentStream{0};
std::string StartedAddress;
std::atomic<bool> WorkerBusy{false};
std::atomic<HWND> MainWindowHandle{nullptr};
std::atomic<std::FILE*> StreamTrace{nullptr};

std::atomic<std::chrono::milliseconds> BufferWaitLimit{kBufferWaitLimit};

namespace {

// How long the buffer may stand still before the wait gives up on it, and
// the least time between two passes of the wait.
constexpr auto kStallLimit = std::chrono::seconds(10);
constexpr auto kPassInterval = std::chrono::milliseconds(10);

void Send(TStreamStatus code, LPARAM value)
{
    SendMessageA(MainWindowHandle.load(), WM_STREAMSTATUS, code, value);
}

void SendText(TStreamStatus code, const std::string& text)
{
    Send(code, reinterpret_cast<LPARAM>(text.c_str()));
}

// One line to the trace, whole: lines of several threads never mix.
void Trace(const std::string& text)
{
    std::FILE* file = StreamTrace.load();
    if (file == nullptr) return;
    const std::string line = TraceLine(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}

void TraceFailure(const std::string& address, int error)
{
    Trace("failed: " + address + " (error " + std::to_string(error) + ")");
}

// The buffer wait. Returns false when the stream turned out to have nothing
// to play (the connection ended or stood still with the buffer empty).
bool WaitForBuffer(HSTREAM stream)
{
    std::int32_t best = -1;
    const auto began = std::chrono::steady_clock::now();
    auto lastRise = began;
    auto nextPass = std::chrono::steady_clock::now();
    for (;;) {
        std::this_thread::sleep_until(nextPass);
        nextPass = std::chrono::steady_clock::now() + kPassInterval;
        const QWORD end = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END);
        if ((end & 0xFFFFFFFFu) == 0xFFFFFFFFu) return true;  // the library's error value
        const QWORD download = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
        const QWORD current = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT);
        const bool buffered = download > current && download != static_cast<QWORD>(-1);
        // A buffer of no size has no level.
        if ((end & 0xFFFFFFFFu) == 0) return buffered;
        const std::int32_t progress = BufferProgress(end, download, current);
        Send(stBuffering, progress);
        if (static_cast<std::uint32_t>(progress) > 75) return true;
        const auto now = std::chrono::steady_clock::now();
        if (progress > best) {
            best = progress;
            lastRise = now;
        }
        // A connection that ended or stands still fills no more.
        if (BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0 || now - lastRise >= kStallLimit ||
            now - began >= BufferWaitLimit.load())
            return buffered;
    }
}

}  // namespace

std::string TraceLine(const std::string& text)
{
    std::string line = text;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return line;
}

std::optional<std::string> StreamTitleOf(const char* metadata)
{
    if (metadata == nullptr) return std::nullopt;
    const std::string text(metadata);
    const std::size_t p = text.find("StreamTitle=");
    if (p == std::string::npos) return std::nullopt;
    // The title starts after the quote that follows "StreamTitle=".
    const std::size_t start = p + 13;
    if (start >= text.size()) return std::string();
    const std::size_t end = text.find("';", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::int32_t BufferProgress(QWORD end, QWORD download, QWORD current)
{
    const auto held = static_cast<std::int64_t>(download - current);
    const std::int64_t size = static_cast<std::uint32_t>(end & 0xFFFFFFFFu);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(held * 100 / size));
}

std::vector<std::pair<TStreamStatus, std::string>> HeaderMessages(const char* block)
{
    std::vector<std::pair<TStreamStatus, std::string>> messages;
    for (const char* line = block; line != nullptr && *line != '\0'; line += std::strlen(line) + 1) {
        if (std::strncmp(line, "icy-name:", 9) == 0)
            messages.emplace_back(stStationName, line + 9);
        else if (std::strncmp(line, "icy-br:", 7) == 0)
            messages.emplace_back(stBitrate, std::string("bitrate: ") + (line + 7));
    }
    return messages;
}

void DownloadStatusProc(const void* buffer, DWORD length, void*)
{
    if (buffer != nullptr && length == 0)
        Send(stServerStatus, reinterpret_cast<LPARAM>(static_cast<const char*>(buffer)));
}

void MetaSyncProc(HSYNC, DWORD, DWORD, void*) { ReadStreamTitle(); }

void ReconnectSyncProc(HSYNC, DWORD channel, DWORD data, void*)
{
    // A stream that is no longer current has nothing to show.
    if (channel != CurrentStream.load()) return;
    Trace(data > 0 ? "reconnecting: try " + std::to_string(data) : std::string("sound is back"));
    SendMessageA(MainWindowHandle.load(), WM_STREAMRECONNECT, data, 0);
}

void ReadStreamTitle()
{
    const auto title = StreamTitleOf(BASS_ChannelGetTags(CurrentStream.load(), BASS_TAG_META));
    if (!title) return;
    Trace("title: " + *title);
    SendText(stSongTitle, *title);
}

void StreamOpenWorker(std::string address)
{
    BASS_StreamFree(CurrentStream.load());
    Send(stConnecting, 0);
    Trace("connecting: " + address);
    CurrentStream = BASS_StreamCreateURL(address.c_str(), 0, BASS_STREAM_STATUS, &DownloadStatusProc, nullptr);
    const HSTREAM stream = CurrentStream.load();
    // A connection lost while the buffer fills is tried again too: the
    // window hears of it from the start.
    if (stream != 0) BASS_ChannelSetSync(stream, BASS_SYNC_RECONNECT, 0, &ReconnectSyncProc, nullptr);
    if (stream == 0) {
        const int why = BASS_ErrorGetCode();
        TraceFailure(address, why);
        SendMessageA(MainWindowHandle.load(), WM_STREAMFAILURE, why, 0);
        Send(stConnectFailed, 0);
    } else if (!WaitForBuffer(stream)) {
        // Connected, and then nothing came: as good as no connection. The
        // download says why it ended; one that ended whole brought nothing.
        BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED);
        const int why = BASS_ErrorGetCode();
        BASS_StreamFree(stream);
        CurrentStream = 0;
        const int reported = why != BASS_OK ? why : BASS_ERROR_NOTAUDIO;
        TraceFailure(address, reported);
        SendMessageA(MainWindowHandle.load(), WM_STREAMFAILURE, reported, 0);
        Send(stConnectFailed, 0);
    } else {
        const char* tags = BASS_ChannelGetTags(stream, BASS_TAG_ICY);
        if (tags == nullptr) tags = BASS_ChannelGetTags(stream, BASS_TAG_HTTP);
        for (const auto& [code, text] : HeaderMessages(tags)) SendText(code, text);
        ReadStreamTitle();
        BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &MetaSyncProc, nullptr);
        if (BASS_ChannelPlay(stream, 0))
            Trace("playing: " + address);
        else
            TraceFailure(address, BASS_ErrorGetCode());
    }
    WorkerBusy = false;
}

bool StartStreamWorker(const std::string& address)
{
    if (WorkerBusy.load()) {
        MessageBeep(0);
        return false;
    }
    WorkerBusy = true;
    StartedAddress = address;
    try {
        std::thread(&StreamOpenWorker, address).detach();
    } catch (const std::system_error&) {
        WorkerBusy = false;
    }
    return true;
}

bool StopStream()
{
    if (WorkerBusy.load()) {
        MessageBeep(0);
        return false;
    }
    // No worker runs, so nobody else writes the handle now.
    BASS_StreamFree(CurrentStream.exchange(0));
    return true;
}
