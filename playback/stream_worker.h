// The program's side of the audio library: the worker that opens a station
// on a thread of its own, the two callbacks it gives the library, and the
// state they share with the main window.
//
// The worker and the callbacks touch no window and no main-thread state:
// they read CurrentStream and report everything with WM_STREAMSTATUS, sent
// synchronously to MainWindowHandle (the sender waits until the main window
// has handled it). Texts sent with a message are borrowed for the send only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sonivex.h"
#include "win_types.h"

// The main window's private status message: wParam a status code, lParam a
// number or a borrowed zero-terminated text.
constexpr UINT WM_STREAMSTATUS = WM_USER + 101;  // 1125

// The current stream's connection was lost and is being tried again
// (wParam: the round of tries, 1 when it was lost), or its sound is back
// (wParam 0). Sent by the reconnect sync; lParam 0.
constexpr UINT WM_STREAMRECONNECT = WM_USER + 102;  // 1126

// Why the start failed: wParam the audio library's error code, lParam 0.
// Sent just before stConnectFailed.
constexpr UINT WM_STREAMFAILURE = WM_USER + 103;  // 1127

enum TStreamStatus : WPARAM {
    stConnecting = 0,     // lParam 0
    stConnectFailed = 1,  // lParam 0
    stBuffering = 2,      // the buffer's fill level in percent, signed
    stStationName = 3,    // the text after "icy-name:"
    stBitrate = 4,        // "bitrate: " and the text after "icy-br:"
    stSongTitle = 7,      // the title, possibly empty
    stServerStatus = 8,   // the server's status line
};

// The handle of the current stream, 0 when there is none. Written only by
// the worker; read whole from any thread.
extern std::atomic<HSTREAM> CurrentStream;
// True while a worker runs: set by StartStreamWorker, cleared by the worker
// as its last step.
extern std::atomic<bool> WorkerBusy;
// Where the status messages go; set at start-up before the first worker.
extern std::atomic<HWND> MainWindowHandle;

// Where the course of each start is written, a line each, as it happens:
// "connecting: ADDRESS", "playing: ADDRESS" once the sound starts,
// "failed: ADDRESS (error N)", "title: TITLE", "reconnecting: try N" and
// "sound is back". Nothing while it is null (the default); --verbose sets
// standard error. Set before the first worker.
extern std::atomic<std::FILE*> StreamTrace;

// One trace line: text with every control character (a server's text may
// hold any) shown as '?', so that the trace cannot steer a terminal.
std::string TraceLine(const std::string& text);

// However slowly the buffer rises, the open's wait for it ends this long
// after it began, and the stream plays with what it has: 30 s. Tests of the
// rule shorten it; nothing else changes it.
constexpr std::chrono::milliseconds kBufferWaitLimit = std::chrono::seconds(30);
extern std::atomic<std::chrono::milliseconds> BufferWaitLimit;

// Main thread only. While a worker runs: the default beep, nothing started,
// false. Otherwise starts StreamOpenWorker on its own copy of address and
// answers true (also when the thread could not be made; then WorkerBusy is
// cleared again and nothing is reported).
bool StartStreamWorker(const std::string& address);

// The address the last worker was started with; empty before the first.
// Main thread only.
extern std::string StartedAddress;

// Main thread only. While a worker runs: the default beep, nothing stopped,
// false. Otherwise frees the current stream, if there is one (its sound
// stops, the pictures go quiet), and answers true.
bool StopStream();

// The worker's thread routine: frees the current stream, opens the new one,
// waits for its buffer, reports its name, bit rate and title, registers for
// title changes and starts playback.
void StreamOpenWorker(std::string address);

// The download callback: hands the server's status lines to the window.
void DownloadStatusProc(const void* buffer, DWORD length, void* user);
// The metadata sync: reads the title of whatever CurrentStream holds now.
void MetaSyncProc(HSYNC handle, DWORD channel, DWORD data, void* user);
// The reconnect sync: tells the window of the current stream's tries.
void ReconnectSyncProc(HSYNC handle, DWORD channel, DWORD data, void* user);
// Reads the current stream's metadata and sends the title, if it has one.
void ReadStreamTitle();

// The rules the worker follows, on their own for testing.

// The title in a metadata text: what follows "StreamTitle='" up to the
// first "';" after it (to the end when there is none); nothing when the
// text has no "StreamTitle=".
std::optional<std::string> StreamTitleOf(const char* metadata);

// The fill level of the download buffer in percent, as the status shows it:
// (download - current) x 100 / end in 64-bit signed arithmetic, end taken as
// its low 32 bits, the quotient's low 32 bits read as a signed number.
// end must not be 0.
std::int32_t BufferProgress(QWORD end, QWORD download, QWORD current);

// The station name and bit rate messages a block of header lines gives,
// in the order of its lines: "icy-name:" and "icy-br:" (case-sensitive).
std::vector<std::pair<TStreamStatus, std::string>> HeaderMessages(const char* block);
