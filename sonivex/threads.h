// The library's own threads that nobody joins (downloads, HLS feeds,
// decoders, reconnects): each is counted while it runs, so that BASS_Free
// can let the last ones end before it returns, and none of them outlives
// the library by more than that short wait. Any thread.
#pragma once

#include <chrono>
#include <functional>

namespace sonivex {

// Runs body on a thread of its own. OpenSSL's per-thread state (the random
// generators a TLS connection sets up) is given back before the thread is
// counted as ended.
void LaunchThread(std::function<void()> body);

// Waits until no such thread runs, at most limit; false when some still do.
bool WaitForThreads(std::chrono::milliseconds limit);

}  // namespace sonivex
