// sonivex-play: the radio in a terminal, over the audio library's C API.
//
//   sonivex-play [--seconds N] [--volume V] [--reconnect S] [--no-sound] ADDRESS
//
// One line per event: the server's status, the buffer filling, the station's
// name and bit rate, each new title, a lost connection being tried again and
// coming back, errors with their code's name, and why the stream ended. Ends after N seconds or on Ctrl-C or SIGTERM, also while
// the station is still being opened; exits with 1 when the stream cannot be
// opened, 2 for a bad command line.
#include <atomic>
#include <chrono>
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "ansi_text.h"
#include "ondalux_version.h"
#include "sonivex.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_opening{false};
std::mutex g_printLock;
const auto g_start = std::chrono::steady_clock::now();

void Print(const std::string& line)
{
    std::lock_guard guard(g_printLock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

long MillisecondsSinceStart()
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - g_start)
                                 .count());
}

// Each error code's name, and in words why a station could not be opened
// with it and why a stream's data ended with it.
struct ErrorWords {
    int code;
    const char* name;
    const char* openReason;
    const char* endReason;
};
constexpr ErrorWords kErrors[] = {
    {BASS_OK, "BASS_OK", "it failed", "the whole stream was received"},
    {BASS_ERROR_INIT, "BASS_ERROR_INIT", "it failed", "an unknown failure"},
    {BASS_ERROR_ALREADY, "BASS_ERROR_ALREADY", "it failed", "an unknown failure"},
    {BASS_ERROR_HANDLE, "BASS_ERROR_HANDLE", "it failed", "an unknown failure"},
    {BASS_ERROR_ILLPARAM, "BASS_ERROR_ILLPARAM", "not an http:// or https:// address",
     "an unknown failure"},
    {BASS_ERROR_CONNECT, "BASS_ERROR_CONNECT", "connection refused", "the connection was lost"},
    {BASS_ERROR_TIMEOUT, "BASS_ERROR_TIMEOUT", "no answer", "the server sent nothing for too long"},
    {BASS_ERROR_FORMAT, "BASS_ERROR_FORMAT", "format not supported", "the data could not be decoded"},
    {BASS_ERROR_NOPLAY, "BASS_ERROR_NOPLAY", "it failed", "an unknown failure"},
    {BASS_ERROR_HTTP, "BASS_ERROR_HTTP", "the server answered with an error",
     "the connection broke or the server closed it"},
    {BASS_ERROR_TLS, "BASS_ERROR_TLS", "certificate not accepted", "the secure connection failed"},
    {BASS_ERROR_NOHOST, "BASS_ERROR_NOHOST", "no such host", "an unknown failure"},
    {BASS_ERROR_NOTAUDIO, "BASS_ERROR_NOTAUDIO", "not an audio stream", "an unknown failure"},
};
constexpr ErrorWords kUnknownError = {BASS_ERROR_UNKNOWN, "BASS_ERROR_UNKNOWN", "it failed",
                                      "an unknown failure"};

const ErrorWords& WordsFor(int code)
{
    for (const ErrorWords& words : kErrors)
        if (words.code == code) return words;
    return kUnknownError;
}

const char* ErrorName(int code) { return WordsFor(code).name; }
const char* OpenReason(int code) { return WordsFor(code).openReason; }
const char* EndReason(int code) { return WordsFor(code).endReason; }

// Ctrl-C and SIGTERM arrive at a thread of their own, which may call the
// library: freeing it ends an open in progress at once. Every other thread,
// the library's included, has the two signals blocked.
void WatchSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        int signal = 0;
        while (sigwait(&signals, &signal) == 0) {
            g_stop = true;
            if (g_opening) BASS_Free();
        }
    }).detach();
}

// The title between "StreamTitle='" and the "';" that ends it.
std::string TitleOf(const char* metadata)
{
    if (metadata == nullptr) return {};
    const std::string text(metadata);
    const std::size_t start = text.find("StreamTitle='");
    if (start == std::string::npos) return {};
    const std::size_t from = start + 13;
    const std::size_t end = text.find("';", from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

void OnDownload(const void* buffer, DWORD length, void*)
{
    if (buffer != nullptr && length == 0)
        Print("status: " + platform::DisplayText(static_cast<const char*>(buffer)));
    // The end of the download is told by the main loop, with its reason.
}

void OnReconnect(HSYNC, DWORD, DWORD round, void*)
{
    if (round > 0)
        Print("connection lost, reconnecting (" + std::to_string(round) + ")");
    else
        Print("back");
}

void OnMetadata(HSYNC, DWORD channel, DWORD, void*)
{
    Print("title: " + platform::DisplayText(TitleOf(BASS_ChannelGetTags(channel, BASS_TAG_META))));
}

void PrintHeaders(HSTREAM stream)
{
    const char* tags = BASS_ChannelGetTags(stream, BASS_TAG_ICY);
    if (tags == nullptr) tags = BASS_ChannelGetTags(stream, BASS_TAG_HTTP);
    for (; tags != nullptr && *tags != '\0'; tags += std::strlen(tags) + 1) {
        std::string line(tags);
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (name == "icy-name") Print("station: " + platform::DisplayText(value));
        if (name == "icy-br") Print("bitrate: " + value + " kbps");
    }
}

// Waits until the download buffer is over three quarters full, reporting
// its level as it rises; gives up when the download ends or stalls.
void WaitForBuffer(HSTREAM stream)
{
    int last = -1;
    auto lastRise = std::chrono::steady_clock::now();
    while (!g_stop) {
        const QWORD end = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END);
        const QWORD downloaded = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
        const QWORD taken = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CURRENT);
        if (end == static_cast<QWORD>(-1) || end == 0) return;
        const int percent = static_cast<int>((downloaded - taken) * 100 / end);
        if (percent > last) {
            Print("buffer: " + std::to_string(percent) + "%");
            last = percent;
            lastRise = std::chrono::steady_clock::now();
        }
        if (percent > 75) return;
        if (BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED) == 0) return;
        if (std::chrono::steady_clock::now() - lastRise > std::chrono::seconds(10)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The usage: asked for (--help) on standard output, else after a mistake
// on standard error.
int Usage(bool asked = false)
{
    std::fprintf(asked ? stdout : stderr,
                 "usage: sonivex-play [--seconds N] [--volume V] [--reconnect S] [--no-sound] "
                 "ADDRESS\n"
                 "       sonivex-play --help | --version\n"
                 "  V from 0.0 to 1.0; without --seconds it plays until Ctrl-C\n"
                 "  S: how long a lost connection is tried again, in seconds (300; 0 never)\n");
    return asked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = -1;
    float volume = 1.0f;
    long reconnect = -1;
    bool sound = true;
    const char* address = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") return Usage(true);
        if (argument == "--version") {
            std::printf("sonivex-play %s\n", ONDALUX_VERSION);
            return 0;
        }
        if (argument == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (argument == "--volume" && i + 1 < argc) {
            volume = static_cast<float>(std::atof(argv[++i]));
        } else if (argument == "--reconnect" && i + 1 < argc) {
            reconnect = std::atol(argv[++i]);
        } else if (argument == "--no-sound") {
            sound = false;
        } else if (argument.rfind("--", 0) == 0 || address != nullptr) {
            return Usage();
        } else {
            address = argv[i];
        }
    }
    if (address == nullptr) return Usage();

    WatchSignals();

    if (!BASS_Init(sound ? -1 : 0, 44100, 0, nullptr, nullptr)) {
        Print(std::string("error: no sound output: ") + ErrorName(BASS_ErrorGetCode()));
        return 1;
    }
    if (!BASS_SetVolume(volume)) {
        Print("error: the volume goes from 0.0 to 1.0");
        BASS_Free();
        return 2;
    }
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    if (reconnect >= 0 && !BASS_SetConfig(BASS_CONFIG_NET_RECONNECT, static_cast<DWORD>(reconnect))) {
        Print("error: --reconnect takes 0 to 86400 seconds");
        BASS_Free();
        return 2;
    }

    g_opening = true;
    const HSTREAM stream =
        g_stop ? 0 : BASS_StreamCreateURL(address, 0, BASS_STREAM_STATUS, &OnDownload, nullptr);
    const int openError = BASS_ErrorGetCode();
    g_opening = false;
    if (g_stop) {
        Print("stopped");
        BASS_Free();
        std::_Exit(0);
    }
    if (stream == 0) {
        Print(std::string("error: cannot open ") + address + ": " + OpenReason(openError) + " (" +
              ErrorName(openError) + ")");
        BASS_Free();
        return 1;
    }
    BASS_ChannelSetSync(stream, BASS_SYNC_RECONNECT, 0, &OnReconnect, nullptr);
    WaitForBuffer(stream);
    PrintHeaders(stream);
    if (const char* metadata = BASS_ChannelGetTags(stream, BASS_TAG_META))
        Print("title: " + platform::DisplayText(TitleOf(metadata)));
    BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &OnMetadata, nullptr);
    if (!BASS_ChannelPlay(stream, 0)) {
        Print(std::string("error: cannot play: ") + ErrorName(BASS_ErrorGetCode()));
        BASS_Free();
        return 1;
    }
    Print("playing");

    bool heard = false;
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (!g_stop && (seconds < 0 || std::chrono::steady_clock::now() < until)) {
        if (!heard) {
            std::int16_t frames[2 * 256];
            if (BASS_ChannelGetData(stream, frames, sizeof frames) == sizeof frames) {
                for (const std::int16_t sample : frames)
                    heard = heard || sample != 0;
                if (heard)
                    Print("first sound after " + std::to_string(MillisecondsSinceStart()) + " ms");
            }
        }
        if (BASS_ChannelGetData(stream, nullptr, 0) == static_cast<DWORD>(-1) &&
            BASS_ErrorGetCode() == BASS_ERROR_NOPLAY) {
            // The data ended for good (a lost connection was tried again
            // meanwhile): why.
            BASS_StreamGetFilePosition(stream, BASS_FILEPOS_CONNECTED);
            const int why = BASS_ErrorGetCode();
            Print(std::string("download ended: ") + EndReason(why) + " (" + ErrorName(why) + ")");
            Print("stream ended");
            break;
        }
        // Fine steps only while listening for the first sound; then a look
        // four times a second for the end of the stream, and the stop at
        // the exact time asked for.
        auto pause =
            std::chrono::steady_clock::duration(std::chrono::milliseconds(heard ? 250 : 10));
        if (seconds >= 0) pause = std::min(pause, until - std::chrono::steady_clock::now());
        if (pause > pause.zero()) std::this_thread::sleep_for(pause);
    }
    BASS_StreamFree(stream);
    BASS_Free();
    // Everything of ours is closed and every line printed (Print flushes).
    // Ending here skips the exit handlers of the hundred and more libraries
    // the decoders bring along, which would only page in their clean-up code
    // (some 2 MB, and time) to free memory the process gives back anyway.
    std::_Exit(0);
}
