/*
 * libsonivex: internet-radio streaming, decoding and sound output.
 *
 * The only public header of the library. Plain C, usable from C and C++.
 *
 * Threads: every function may be called from any thread at any time. No
 * function waits for a callback of the application that is running, and the
 * library never calls a callback while holding a lock that a function here
 * takes, so a callback may call any function of the library and may block
 * (for instance in a synchronous message to a window) without deadlock.
 *
 * Errors: every function sets the calling thread's error code, which
 * BASS_ErrorGetCode reads: BASS_OK on success, else one BASS_ERROR_* code.
 */
#ifndef SONIVEX_H
#define SONIVEX_H

#include <stdint.h>

#if defined(_WIN32)
#define SONIVEX_API __declspec(dllexport)
#else
#define SONIVEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int BOOL;
typedef DWORD HSTREAM;
typedef DWORD HSYNC;

/* Receives a stream's download (see BASS_StreamCreateURL). */
typedef void DOWNLOADPROC(const void *buffer, DWORD length, void *user);
/* Receives a sync event (see BASS_ChannelSetSync). */
typedef void SYNCPROC(HSYNC handle, DWORD channel, DWORD data, void *user);

/* Configuration options (BASS_SetConfig, BASS_GetConfig). */
#define BASS_CONFIG_BUFFER 0            /* decoded sound kept ahead, ms (500; 10 to 10000) */
#define BASS_CONFIG_NET_TIMEOUT 0x10001 /* connect timeout, ms (5000) */
#define BASS_CONFIG_NET_BUFFER 0x10002  /* download buffer length, ms of the stream (5000) */
#define BASS_CONFIG_NET_PREBUF 15       /* % of the download buffer to fill before returning (75) */
#define BASS_CONFIG_NET_PROXY 17        /* BASS_SetConfigPtr: "[user:password@]host:port" */
#define BASS_CONFIG_NET_READTIMEOUT 0x10003 /* ms without data: connection dead (10000) */
#define BASS_CONFIG_NET_PLAYLIST 21     /* 1: follow playlist links when opening an address (0) */
#define BASS_CONFIG_NET_RECONNECT 0x10005 /* s a lost connection is tried again; 0: never (300) */

/* BASS_StreamCreateURL flags. */
#define BASS_STREAM_STATUS 0x800000 /* hand server status lines to the DOWNLOADPROC */

/* BASS_StreamGetFilePosition modes. */
#define BASS_FILEPOS_CURRENT 0   /* bytes the decoder has taken */
#define BASS_FILEPOS_DOWNLOAD 1  /* audio bytes received (metadata excluded) */
#define BASS_FILEPOS_END 2       /* size of the download buffer */
#define BASS_FILEPOS_CONNECTED 0x10004 /* 1 while the download is connected, 0 once ended */

/* BASS_ChannelGetTags types. */
#define BASS_TAG_HTTP 3 /* status line and header lines of an HTTP response */
#define BASS_TAG_ICY 4  /* header lines of an ICY response */
#define BASS_TAG_META 5 /* the latest in-band metadata text */

/* BASS_ChannelSetSync types. */
#define BASS_SYNC_META 4 /* the output reached the sound of a new metadata text */
#define BASS_SYNC_RECONNECT 0x10001 /* data n >= 1: connection lost, try n; 0: sound back */

/* BASS_ChannelGetData length flags. */
#define BASS_DATA_FFT256 0x80000000 /* 128 floats: magnitudes of a 256-point FFT */

/* Error codes (BASS_ErrorGetCode). */
#define BASS_OK 0
#define BASS_ERROR_INIT 1      /* BASS_Init has not been called */
#define BASS_ERROR_ALREADY 2   /* BASS_Init has already been called */
#define BASS_ERROR_HANDLE 3    /* not a valid handle */
#define BASS_ERROR_ILLPARAM 4  /* a parameter is not valid */
#define BASS_ERROR_CONNECT 5   /* the server refused the connection or cannot be reached */
#define BASS_ERROR_TIMEOUT 6   /* no answer in time */
#define BASS_ERROR_FORMAT 7    /* no audio, or a format that is not supported */
#define BASS_ERROR_NOPLAY 8    /* the channel is not playing */
#define BASS_ERROR_HTTP 9      /* the server answered with an error status */
#define BASS_ERROR_TLS 10      /* the secure connection failed */
#define BASS_ERROR_UNKNOWN 11  /* anything else */
#define BASS_ERROR_NOHOST 12   /* the server's name is not known */
#define BASS_ERROR_NOTAUDIO 13 /* a web page, or a playlist with nothing that plays */

/* The library's version: 0x0204 in the high 16 bits. Never fails. */
SONIVEX_API DWORD BASS_GetVersion(void);

/* Opens the sound output at freq Hz, stereo. device -1 is the default
 * output; when no sound device can be opened, a null output paced by the
 * clock takes its place and the call still succeeds. device 0 is that null
 * output. win and clsid are not used. Fails with BASS_ERROR_ALREADY when the
 * library is already initialised, BASS_ERROR_ILLPARAM for a bad device or
 * frequency. */
SONIVEX_API BOOL BASS_Init(int device, DWORD freq, DWORD flags, void *win, const void *clsid);

/* Frees every stream, makes a BASS_StreamCreateURL in progress on another
 * thread return 0 within 200 ms, and closes the output. Fails with
 * BASS_ERROR_INIT when not initialised. */
SONIVEX_API BOOL BASS_Free(void);

/* Sets a configuration option (BASS_CONFIG_*). BUFFER and NET_BUFFER apply
 * to streams created later. Fails with BASS_ERROR_ILLPARAM for an unknown
 * option or a value out of range. Works before BASS_Init too. */
SONIVEX_API BOOL BASS_SetConfig(DWORD option, DWORD value);
/* Reads a configuration option back; (DWORD)-1 for an unknown option. */
SONIVEX_API DWORD BASS_GetConfig(DWORD option);
/* Sets a pointer option: BASS_CONFIG_NET_PROXY takes a zero-terminated text
 * "[user:password@]host:port", copied at the call; null or empty means no
 * proxy of the library's own (the environment's proxy variables apply). */
SONIVEX_API BOOL BASS_SetConfigPtr(DWORD option, const void *value);

/* Master gain of everything output, 0.0 to 1.0 (else BASS_ERROR_ILLPARAM).
 * 1.0 at start; kept across BASS_Init and BASS_Free. */
SONIVEX_API BOOL BASS_SetVolume(float volume);
SONIVEX_API float BASS_GetVolume(void);

/* Opens an http:// or https:// address and returns the stream's handle once
 * its format is known and NET_PREBUF percent of its download buffer is
 * filled; 0 on failure, with BASS_ERROR_NOHOST, _CONNECT, _TIMEOUT, _HTTP,
 * _NOTAUDIO (a web page, a playlist with nothing that plays), _FORMAT (data
 * that does not decode, an HLS scheme of encryption other than AES-128),
 * _TLS, _ILLPARAM (not an http(s) address) or _INIT. Blocks the calling thread meanwhile, but never longer than three
 * times NET_TIMEOUT in all, playlists and their entries included (then
 * _TIMEOUT or the last entry's error; a stream whose format is known by
 * then is returned with what it has buffered). Playlists are followed three
 * levels deep and at most 64 addresses are fetched. offset must be 0.
 *
 * With BASS_STREAM_STATUS and a proc, proc receives, on a thread of the
 * library's own or on the calling thread: (status line, 0, user) for each
 * response received while opening (not for those of a reconnect), (data,
 * length, user) for each block of audio data downloaded (metadata removed),
 * and (NULL, 0, user) once when the download ends for good. Calls for one stream never overlap; the buffer is valid during the
 * call only. With BASS_CONFIG_NET_PLAYLIST 1, PLS and M3U playlists are
 * followed, their entries tried in order. An HLS playlist (an address or
 * an entry) plays as one stream: of a master playlist the variant with the
 * highest bandwidth up to 320 kbps; its segments (MPEG-TS with AAC or MP3,
 * ADTS, fragmented MP4; AES-128 decrypted) are fetched in order, a live
 * list joined three segments from its end; #EXTINF titles become
 * BASS_TAG_META. */
SONIVEX_API HSTREAM BASS_StreamCreateURL(const char *url, DWORD offset, DWORD flags,
                                         DOWNLOADPROC *proc, void *user);

/* Stops the stream's sound at once and releases it; the handle is invalid
 * when the call returns. Never waits for the stream's callbacks: one that
 * is running finishes on its own, and none is called afterwards. */
SONIVEX_API BOOL BASS_StreamFree(HSTREAM handle);

/* A position in the stream's download (BASS_FILEPOS_*): END the download
 * buffer's size in bytes, DOWNLOAD the audio bytes received, CURRENT the
 * bytes the decoder has taken (DOWNLOAD - CURRENT is what the buffer holds,
 * never more than END), CONNECTED 1 or 0. (QWORD)-1 on failure.
 * CONNECTED reads 0 while a lost connection is being tried again, too.
 * CONNECTED 0 also sets the error code to why the stream's data ended:
 * BASS_OK for a complete download (a body of known length), BASS_ERROR_HTTP
 * for a broken transfer (a live stream the server closed, a cut or broken
 * chunked body), BASS_ERROR_TIMEOUT for a server gone silent,
 * BASS_ERROR_FORMAT for data that does not decode. */
SONIVEX_API QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);

/* The stream's tags, or NULL when there are none (error code BASS_OK) or
 * the handle is bad (BASS_ERROR_HANDLE).
 * TAG_ICY: for an ICY response, its header lines, each zero-terminated and
 * exactly as received, the block ended by an empty text. TAG_HTTP: the same
 * for an HTTP response, status line first. TAG_META: the latest metadata
 * text ("StreamTitle='...';..."), NULL until one with content arrived.
 *
 * The text is a copy that belongs to the calling thread: it stays valid,
 * whatever happens to the stream, until the same thread asks for the same
 * tag type again or ends. */
SONIVEX_API const char *BASS_ChannelGetTags(DWORD handle, DWORD tags);

/* With BASS_SYNC_META: proc(sync, handle, 0, user) runs each time the
 * output reaches the sound that a new metadata text (ICY, an Ogg comment
 * header, an HLS segment's title or ID3 song) came before, and
 * BASS_TAG_META changes then; a stream's
 * first title counts as soon as it arrives. With BASS_SYNC_RECONNECT:
 * proc(sync, handle, n, user) as the n-th round of tries to get a lost
 * connection back begins (n = 1 as soon as it is lost; each round waits its
 * pause first), proc(sync, handle, 0, user) when
 * the output reaches the sound of the connection that came back. Syncs run
 * on one thread of the
 * library's own, in order, with no lock held; a blocked sync delays later
 * syncs only. A freed stream's pending syncs are dropped. A title is state,
 * not an event: while a META sync waits to run, newer titles add no further
 * calls, and the call that runs reads the newest (BASS_TAG_META). Returns
 * the sync's handle, 0 on failure. */
SONIVEX_API HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC *proc,
                                      void *user);

/* Starts decoding and playing the stream. A stream whose download is slower
 * than playback plays silence and resumes by itself. When a playing stream's
 * connection ends, fails or stalls (READTIMEOUT) and it was not a whole file
 * of known length, the library connects to its address again, then to the
 * other entries of its playlist, after pauses of 0.5, 1, 2, 4, 8, 16 and
 * then 30 s, for at most NET_RECONNECT seconds: the handle, its syncs, tags
 * and volume stay, and the sound resumes after one short gap. A stream whose
 * download has ended for good stops when its buffers are empty, its handle
 * valid until freed.
 * restart is not used (a live stream cannot be restarted). */
SONIVEX_API BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);

/* Sound data of a playing stream as it reaches the output, before the master
 * volume: with a byte length (a multiple of 4), the latest length / 4 frames
 * of 16-bit stereo, returning the bytes written; with BASS_DATA_FFT256, 128
 * floats, the magnitudes of a Hann-windowed 256-point FFT of the latest 256
 * frames with the channels mixed (a full-scale sine at a bin's centre reads
 * about 1.0), returning 512. (DWORD)-1 for a stream that is not playing
 * (BASS_ERROR_NOPLAY) or a bad handle. */
SONIVEX_API DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length);

/* The calling thread's error code of its last call to the library. */
SONIVEX_API int BASS_ErrorGetCode(void);

#ifdef __cplusplus
}
#endif

#endif /* SONIVEX_H */
