#include "playlist.h"

#include <curl/curl.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>

namespace sonivex {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Relative references are resolved by setting the base and then the
// reference on one handle. CURLU_URLENCODE makes an absolute entry with a
// space or a byte above 0x7F come out encoded, as libcurl already encodes a
// relative one, so that every result is an address CURLOPT_URL accepts.
constexpr unsigned kResolveFlags = CURLU_URLENCODE;

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

UrlHandle NewUrlHandle()
{
    return UrlHandle(curl_url(), &curl_url_cleanup);
}

// The whole address a handle holds, or "" when it holds none.
std::string UrlOf(CURLU* handle)
{
    char* text = nullptr;
    if (curl_url_get(handle, CURLUPART_URL, &text, 0) != CURLUE_OK || !text) return {};
    std::string url(text);
    curl_free(text);
    return url;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string_view WithoutBom(std::string_view text)
{
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    return text;
}

// Calls visit(line) for every line, without its line end (LF, CR LF or CR;
// the LF of a CR LF shows up as an empty line), until visit returns false.
template <typename Visit>
void ForEachLine(std::string_view text, Visit&& visit)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        if (!visit(text.substr(start, end - start))) return;
        start = end + 1;
    }
}

// A Windows file name: "C:\x", "C:/x", "C:" or anything opening with a
// backslash ("\\server\share", "\music"). libcurl would read "C:" as a scheme
// and refuse it anyway; saying so here keeps that rule independent of it.
bool IsWindowsPath(std::string_view reference)
{
    if (!reference.empty() && reference.front() == '\\') return true;
    return reference.size() >= 2 && IsLetter(reference[0]) && reference[1] == ':' &&
           (reference.size() == 2 || reference[2] == '\\' || reference[2] == '/');
}

// Audio, or any other binary data, as opposed to text. An Icecast burst does
// not start on a frame, so besides the signatures at the start this relies on
// compressed audio holding control bytes within a few hundred bytes, which
// no playlist holds.
bool IsBinary(std::string_view bytes)
{
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.starts_with("ID3") || bytes.starts_with("OggS") || bytes.starts_with("fLaC"))
        return true;
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) >= 0xE0) return true;  // MPEG or ADTS
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = byte(i);
        const bool textControl = (c >= '\t' && c <= '\r') || c == 0x1A;
        if (c < 0x20 && !textControl) return true;
    }
    return false;
}

// The number of a key such as "File12" after its prefix ("file"), or false
// when the key is something else. Absurdly long numbers saturate; they still
// sort after every sensible one.
bool ParseNumberedKey(std::string_view key, std::string_view prefix, std::uint64_t& number)
{
    if (key.size() <= prefix.size() || !StartsWithNoCase(key, prefix)) return false;
    constexpr std::uint64_t kSaturated = 1'000'000'000'000'000'000ULL;
    number = 0;
    for (char c : key.substr(prefix.size())) {
        if (!IsDigit(c)) return false;
        number = number >= kSaturated / 10 ? kSaturated : number * 10 + std::uint64_t(c - '0');
    }
    return true;
}

// The key and value of a PLS line "key=value", both trimmed; false for a
// line without '='.
bool SplitPlsLine(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = Trim(value.substr(1, value.size() - 2));
    return true;
}

// A line that only a PLS file has: one of its keys, known or numbered.
bool IsPlsKeyLine(std::string_view line)
{
    std::string_view key, value;
    if (!SplitPlsLine(line, key, value)) return false;
    std::uint64_t number = 0;
    return EqualsNoCase(key, "NumberOfEntries") || EqualsNoCase(key, "Version") ||
           ParseNumberedKey(key, "file", number) || ParseNumberedKey(key, "title", number) ||
           ParseNumberedKey(key, "length", number);
}

bool IsPlaylistContentType(std::string_view contentType)
{
    static constexpr std::array<std::string_view, 6> kTypes = {
        "audio/x-scpls", "application/pls+xml",   "audio/x-mpegurl",
        "audio/mpegurl", "application/x-mpegurl", "application/vnd.apple.mpegurl"};
    const std::string_view mediaType = Trim(contentType.substr(0, contentType.find(';')));
    for (std::string_view type : kTypes)
        if (EqualsNoCase(mediaType, type)) return true;
    return false;
}

bool HasPlaylistExtension(std::string_view url)
{
    url = url.substr(0, url.find('#'));
    url = url.substr(0, url.find('?'));
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) {
        const std::size_t path = url.find('/', scheme + 3);
        if (path == std::string_view::npos) return false;  // no path, only a host
        url.remove_prefix(path);
    }
    const std::string_view name = url.substr(url.rfind('/') + 1);  // npos + 1 == 0
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view extension = name.substr(dot + 1);
    return EqualsNoCase(extension, "pls") || EqualsNoCase(extension, "m3u") ||
           EqualsNoCase(extension, "m3u8");
}

std::vector<std::string> ParsePls(std::string_view text, std::string_view baseUrl)
{
    // Entries sort by number; the first line of a number counts.
    std::map<std::uint64_t, std::string_view> files;
    ForEachLine(text, [&](std::string_view line) {
        std::string_view key, value;
        std::uint64_t number = 0;
        if (SplitPlsLine(Trim(line), key, value) && ParseNumberedKey(key, "file", number))
            files.emplace(number, value);
        return true;
    });
    std::vector<std::string> entries;
    for (const auto& [number, value] : files) {
        if (entries.size() == kMaxPlaylistEntries) break;
        std::string url = ResolveUrl(baseUrl, value);
        if (!url.empty()) entries.push_back(std::move(url));
    }
    return entries;
}

std::vector<std::string> ParseM3u(std::string_view text, std::string_view baseUrl)
{
    std::vector<std::string> entries;
    ForEachLine(text, [&](std::string_view line) {
        line = Trim(line);
        if (line.empty() || line.front() == '#') return true;
        std::string url = ResolveUrl(baseUrl, line);
        if (!url.empty()) entries.push_back(std::move(url));
        return entries.size() < kMaxPlaylistEntries;
    });
    return entries;
}

}  // namespace

PlaylistKind DetectPlaylist(std::string_view contentType, std::string_view url,
                            std::string_view firstBytes)
{
    const std::string_view window = firstBytes.substr(0, kPlaylistSniffBytes);
    if (IsBinary(window)) return PlaylistKind::None;
    const std::string_view text = WithoutBom(window);
    const std::size_t first = text.find_first_not_of(" \t\v\f\r\n");
    if (first == std::string_view::npos) return PlaylistKind::None;
    const std::string_view start = text.substr(first);
    if (start.front() == '<') return PlaylistKind::None;
    if (StartsWithNoCase(start, "[playlist]")) return PlaylistKind::Pls;

    bool hlsTag = false;
    bool plsKey = false;
    std::string_view firstEntry;  // the first line that is neither blank nor a comment
    ForEachLine(start, [&](std::string_view line) {
        line = Trim(line);
        if (StartsWithNoCase(line, "#EXT-X-")) {
            hlsTag = true;
        } else if (!line.empty() && line.front() != '#') {
            if (firstEntry.empty()) firstEntry = line;
            plsKey = plsKey || IsPlsKeyLine(line);
        }
        return !hlsTag;
    });
    if (hlsTag) return PlaylistKind::Hls;
    if (StartsWithNoCase(start, "#EXTM3U")) return PlaylistKind::M3u;
    if (!firstEntry.empty() && !ResolveUrl({}, firstEntry).empty()) return PlaylistKind::M3u;

    if (!IsPlaylistContentType(contentType) && !HasPlaylistExtension(url))
        return PlaylistKind::None;
    if (plsKey) return PlaylistKind::Pls;
    return firstEntry.empty() ? PlaylistKind::None : PlaylistKind::M3u;
}

std::vector<std::string> ParsePlaylist(PlaylistKind kind, std::string_view text,
                                       std::string_view baseUrl)
{
    text = WithoutBom(text);
    switch (kind) {
        case PlaylistKind::Pls:
            return ParsePls(text, baseUrl);
        case PlaylistKind::M3u:
            return ParseM3u(text, baseUrl);
        case PlaylistKind::None:
        case PlaylistKind::Hls:
            break;
    }
    return {};
}

std::string ResolveUrl(std::string_view base, std::string_view reference)
{
    reference = Trim(reference);
    if (base.find('\0') != std::string_view::npos ||
        reference.find('\0') != std::string_view::npos || IsWindowsPath(reference))
        return {};
    UrlHandle handle = NewUrlHandle();
    if (!handle) return {};
    const bool haveBase = curl_url_set(handle.get(), CURLUPART_URL, std::string(base).c_str(),
                                       kResolveFlags) == CURLUE_OK;

    std::string target(reference);
    if (reference.empty() || reference.front() == '#') {
        // libcurl 7.88 drops the base's last path segment for these; RFC 3986
        // keeps the whole base and replaces only its fragment.
        if (!haveBase || curl_url_set(handle.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK)
            return {};
        target = UrlOf(handle.get()) + target;
    }
    if (curl_url_set(handle.get(), CURLUPART_URL, target.c_str(), kResolveFlags) != CURLUE_OK)
        return {};
    std::string resolved = UrlOf(handle.get());
    return IsHttpUrl(resolved) ? resolved : std::string();
}

std::string NormalisedUrl(std::string_view url)
{
    const std::string resolved = ResolveUrl({}, url);
    UrlHandle handle = NewUrlHandle();
    if (resolved.empty() || !handle ||
        curl_url_set(handle.get(), CURLUPART_URL, resolved.c_str(), 0) != CURLUE_OK)
        return std::string(url);
    curl_url_set(handle.get(), CURLUPART_FRAGMENT, nullptr, 0);
    char* host = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host != nullptr) {
        std::string lower(host);
        curl_free(host);
        for (char& c : lower)
            c = LowerAscii(c);
        curl_url_set(handle.get(), CURLUPART_HOST, lower.c_str(), 0);
    }
    char* text = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_URL, &text, CURLU_NO_DEFAULT_PORT) != CURLUE_OK ||
        text == nullptr)
        return resolved;
    std::string normal(text);
    curl_free(text);
    return normal;
}

bool IsHttpUrl(std::string_view url)
{
    std::size_t hostStart = 0;
    if (StartsWithNoCase(url, "http://"))
        hostStart = 7;
    else if (StartsWithNoCase(url, "https://"))
        hostStart = 8;
    else
        return false;
    // libcurl takes "http:///x" for host "x"; an empty authority is no address.
    if (hostStart == url.size() || url[hostStart] == '/') return false;
    if (url.find('\0') != std::string_view::npos) return false;
    UrlHandle handle = NewUrlHandle();
    return handle &&
           curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), 0) == CURLUE_OK;
}

}  // namespace sonivex
