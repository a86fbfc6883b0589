// Playlists: recognising a PLS, M3U or HLS answer among the responses of a
// station address, and turning a PLS or M3U into the stream addresses it
// names. BASS_StreamCreateURL sniffs each response with DetectPlaylist and, for
// a PLS or M3U, tries the entries of ParsePlaylist in order; HLS is reported
// as unsupported, never followed.
//
// Everything here reads bytes that a server sent, possibly a hostile one: any
// input is safe (no out-of-range access, no exception but std::bad_alloc), and
// the work is linear in the input's size. Nothing here keeps state: every
// function may be called from any thread at any time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sonivex {

enum class PlaylistKind { None, Pls, M3u, Hls };

// ParsePlaylist returns no more entries than this, the first ones in order.
constexpr std::size_t kMaxPlaylistEntries = 256;

// DetectPlaylist looks at no more than this many of the first bytes it is given.
constexpr std::size_t kPlaylistSniffBytes = 8192;

// Decides whether a response is a playlist. contentType is the response's
// Content-Type (may be empty; parameters such as "; charset=utf-8" and case
// are ignored), url the address it came from after redirects, firstBytes the
// start of the body: at least its first 512 bytes, or all of a shorter body.
//
// The bytes win over the hints, because stations send audio as
// audio/x-mpegurl and playlists as text/plain or octet-stream:
// - Binary data is never a playlist: an ID3 tag, an MPEG audio or ADTS frame
//   sync (0xFF then a byte of 0xE0 or more), "OggS" or "fLaC" at the start,
//   or anywhere a NUL or another control byte that text never holds (all
//   below 0x20 except tab, LF, VT, FF, CR and the DOS end-of-file 0x1A; a
//   stream that starts inside a frame is caught by these).
// - After a UTF-8 BOM and blanks (spaces, tabs, line ends): markup (an HTML
//   status page, "<!DOCTYPE", "<html", XML; anything opening with '<') is
//   None; "[playlist]" in any case is Pls; a line opening with an "#EXT-X-"
//   tag (blanks before it allowed) is Hls; "#EXTM3U" is M3u, as is text whose
//   first line that is neither blank nor a '#' comment is an http(s) address.
// - Without such a marker, a hint makes text that carries entries a playlist:
//   the content types audio/x-scpls, application/pls+xml, audio/x-mpegurl,
//   audio/mpegurl, application/x-mpegurl and application/vnd.apple.mpegurl,
//   or a path of url ending in .pls, .m3u or .m3u8 (case-insensitive; query
//   and fragment ignored). Such text is Pls when a line sets a "FileN" key,
//   else M3u when it has a line that is neither blank nor a comment.
// Returns None for an empty body and for text that carries nothing.
PlaylistKind DetectPlaylist(std::string_view contentType, std::string_view url,
                            std::string_view firstBytes);

// The stream addresses of a PLS or M3U playlist in order, each resolved with
// ResolveUrl against baseUrl (the playlist's address after redirects); at
// most kMaxPlaylistEntries. Any other kind gives none. Lines end in LF, CR LF
// or CR; a UTF-8 BOM at the start and blanks around lines and values are
// ignored.
// - Pls: the values of the keys FileN (any case; "File01" is entry 1), in
//   order of N whatever their order in the text, gaps allowed; a value may be
//   in double quotes. When a number repeats, its first line counts. Other keys
//   (TitleN, LengthN, NumberOfEntries, Version) and section lines are ignored.
// - M3u: every line that is neither blank nor a '#' line (#EXTM3U, #EXTINF
//   and other comments) is an entry.
// Only http and https addresses are kept: a network playlist never names a
// local file, so Windows paths ("C:\...", "\\server\share"), file:// and
// other schemes are dropped. A path such as "/etc/x" is a reference relative
// to the playlist's server and kept as such. Duplicates are kept; the caller
// remembers which addresses it has visited.
std::vector<std::string> ParsePlaylist(PlaylistKind kind, std::string_view text,
                                       std::string_view baseUrl);

// reference (blanks around it ignored) resolved against base as RFC 3986 has
// it, through libcurl's URL parser: an absolute reference stands alone, a
// relative one ("stream", "/live", "../x.mp3", "//host/a", "?q=1", "#f",
// "") needs a base that parses. Spaces and bytes above 0x7F are
// percent-encoded (a space in a query becomes '+'), dot segments removed, the
// scheme lower-cased, so the result passes IsHttpUrl and CURLOPT_URL.
// Returns "" when the result is not an http or https address, or when base or
// reference cannot be parsed (or hold a NUL byte), or for a Windows path.
std::string ResolveUrl(std::string_view base, std::string_view reference);

// url as one address is compared with another: ResolveUrl's normal form,
// the host in lower case, without the scheme's default port and without a
// fragment. "HTTP://Radio.Example:80/a#x" and "http://radio.example/a" give
// the same. Returns url unchanged when it does not parse.
std::string NormalisedUrl(std::string_view url);

// True when url starts with "http://" or "https://" (any case), names a host
// and is accepted as it stands by libcurl's URL parser, as CURLOPT_URL would
// accept it (so no spaces, no control bytes, no NUL).
bool IsHttpUrl(std::string_view url);

}  // namespace sonivex
