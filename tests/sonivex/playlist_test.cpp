#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "playlist.h"

namespace sonivex {
namespace {

using Entries = std::vector<std::string>;
using namespace std::string_literals;  // "\0" inside test bytes

std::string Repeat(std::string_view piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// Icecast bursts start anywhere inside a frame; compressed audio is
// noise-like, so this stands in for it.
std::string NoiseBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::string WithoutNul(std::string bytes)
{
    for (char& b : bytes)
        if (b == '\0') b = '\x80';
    return bytes;
}

struct DetectCase {
    const char* name;
    std::string contentType, url, body;
    PlaylistKind expected;
};

TEST(DetectPlaylist, TheBytesDecideAndTheHintsOnlyHelpPlainText)
{
    const std::string pls = "[playlist]\nFile1=http://a/x\n";
    const std::string addresses = "http://a/one\nhttp://a/two\n";
    const std::string relative = "stream.mp3\nother.mp3\n";
    const std::string hls = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\nseg1.ts\n";
    const std::string padded = Repeat("x", 600);  // the stream goes on past the sniffed start
    const DetectCase cases[] = {
        {"pls with bom, blanks, mixed case", "", "", "\xEF\xBB\xBF\r\n \r\n[PlayList]\r\n",
         PlaylistKind::Pls},
        {"pls as text/plain", "text/plain", "http://h/listen", pls, PlaylistKind::Pls},
        {"pls as octet-stream", "application/octet-stream", "", pls, PlaylistKind::Pls},
        {"pls under a wrong type", "audio/x-mpegurl", "", pls, PlaylistKind::Pls},
        {"m3u marker", "", "", "#EXTM3U\n#EXTINF:-1,Station\nstream\n", PlaylistKind::M3u},
        {"bare addresses", "text/plain", "http://h/listen", addresses, PlaylistKind::M3u},
        {"address after comments", "", "", "  # made by hand\n\n  https://a/x\n",
         PlaylistKind::M3u},
        {"address with a space", "", "", "http://a/my stream\n", PlaylistKind::M3u},
        {"windows-1251 title holding 0xFF 0xF2", "", "",
         "#EXTM3U\n#EXTINF:-1,\xD0\xE0\xE4\xE8\xEE \xFF\xF2\xEE\nhttp://a/\n", PlaylistKind::M3u},
        {"relative entries, no hint", "text/plain", "http://h/get", relative, PlaylistKind::None},
        {"relative entries, .m3u", "", "http://h/list.m3u", relative, PlaylistKind::M3u},
        {"relative entries, .M3U8 before query", "", "http://h/a/LIST.M3U8?sid=1#top", relative,
         PlaylistKind::M3u},
        {"relative entries, .pls only in the query", "", "http://h/get?f=list.pls", relative,
         PlaylistKind::None},
        {"relative entries, .pls only in the host", "", "http://list.pls", relative,
         PlaylistKind::None},
        {"relative entries, type with parameters", "Audio/X-MpegURL; charset=UTF-8", "", relative,
         PlaylistKind::M3u},
        {"marker-less pls, scpls type", "audio/x-scpls", "", "File1=http://a/x\nTitle1=A\n",
         PlaylistKind::Pls},
        {"marker-less pls keys, .m3u", "", "http://h/x.m3u", "NumberOfEntries=0\nVersion=2\n",
         PlaylistKind::Pls},
        {"hint but only comments", "audio/x-mpegurl", "http://h/x.m3u", "#EXTINF:-1,x\n\n",
         PlaylistKind::None},
        {"hint but empty body", "audio/x-scpls", "http://h/x.pls", "", PlaylistKind::None},
        {"plain prose", "text/plain", "", "Stream offline, try later.\n", PlaylistKind::None},
        {"hls by tags", "", "", hls, PlaylistKind::Hls},
        {"hls by tags and type", "application/vnd.apple.mpegurl", "", hls, PlaylistKind::Hls},
        {"hls tag without marker", "", "", "\n  #EXT-X-STREAM-INF:BANDWIDTH=1\nlow.m3u8\n",
         PlaylistKind::Hls},
        {"apple type without tags", "application/vnd.apple.mpegurl", "", addresses,
         PlaylistKind::M3u},
        {"id3 as audio/x-mpegurl", "audio/x-mpegurl", "http://h/a.m3u", "ID3\x04" + addresses,
         PlaylistKind::None},
        {"mp3 sync as audio/x-mpegurl", "audio/x-mpegurl", "", "\xFF\xFB\x90\x64" + padded,
         PlaylistKind::None},
        {"adts sync", "audio/x-scpls", "", "\xFF\xF1\x50\x80" + padded, PlaylistKind::None},
        {"ogg as a .m3u", "audio/x-mpegurl", "http://h/a.m3u", "OggS" + padded, PlaylistKind::None},
        {"flac", "audio/x-mpegurl", "", "fLaC" + padded, PlaylistKind::None},
        {"nul behind a pls marker", "audio/x-scpls", "", "[playlist]\n\0File1"s,
         PlaylistKind::None},
        {"mid-frame audio as audio/x-mpegurl", "audio/x-mpegurl", "http://h/a.m3u",
         NoiseBytes(512, 7), PlaylistKind::None},
        {"mid-frame audio without a nul", "audio/x-mpegurl", "http://h/a.m3u",
         WithoutNul(NoiseBytes(512, 8)), PlaylistKind::None},
        {"html", "text/html", "", "<!DOCTYPE html><html></html>", PlaylistKind::None},
        {"shoutcast page as a pls", "audio/x-scpls", "http://h/listen.pls",
         "\xEF\xBB\xBF \r\n<HTML><head><title>SHOUTcast</title>", PlaylistKind::None},
        {"markup with addresses as .m3u", "audio/x-mpegurl", "http://h/a.m3u",
         "<?xml version=\"1.0\"?>\nhttp://a/x\n", PlaylistKind::None},
    };
    for (const DetectCase& c : cases)
        EXPECT_EQ(DetectPlaylist(c.contentType, c.url, c.body), c.expected) << c.name;
}

struct ParseCase {
    const char* name;
    PlaylistKind kind;
    std::string text;
    Entries expected;
};

TEST(ParsePlaylist, ReadsEntriesInOrderResolvedAgainstTheBase)
{
    const std::string base = "http://radio.example:8000/lists/main";
    const ParseCase cases[] = {
        {"pls: bom, crlf, blank lines, file2 first",
         PlaylistKind::Pls,
         "\xEF\xBB\xBF\r\n\r\n[PlayList]\r\nNumberOfEntries=2\r\nFile2=http://b/2\r\n"
         "Title2=Two\r\nFile1=http://a/1\r\nLength1=-1\r\nVersion=2\r\n",
         {"http://a/1", "http://b/2"}},
        {"pls: gaps sort by number, not by text",
         PlaylistKind::Pls,
         "[playlist]\nFile10=http://h/10\nFile3=http://h/3\nFile1=http://h/1\nfile02=http://h/2\n",
         {"http://h/1", "http://h/2", "http://h/3", "http://h/10"}},
        {"pls: quotes, blanks around '=', key case",
         PlaylistKind::Pls,
         "[playlist]\n  FILE1 = \"http://h/a?x=1\" \nfile2=\" http://h/b \"\n",
         {"http://h/a?x=1", "http://h/b"}},
        {"pls: first line of a number counts",
         PlaylistKind::Pls,
         "[playlist]\nFile1=http://h/first\nFile1=http://h/second\n",
         {"http://h/first"}},
        {"pls: other keys are no entries",
         PlaylistKind::Pls,
         "[playlist]\nFile=http://h/0\nFiles1=http://h/s\nFileX=http://h/x\nTitle1=http://h/t\n"
         "; File2=http://h/comment\nFile-1=http://h/neg\n",
         {}},
        {"pls: relative and local entries",
         PlaylistKind::Pls,
         "[playlist]\nFile1=C:\\Music\\a.mp3\nFile2=file:///etc/passwd\nFile3=/etc/x\n"
         "File4=\\\\server\\share\\a.mp3\nFile5=mms://h/a\nFile6=live\nFile7=c:/a.mp3\n",
         {"http://radio.example:8000/etc/x", "http://radio.example:8000/lists/live"}},
        {"pls: old mac line ends",
         PlaylistKind::Pls,
         "[playlist]\rFile1=http://h/1\rFile2=x\r",
         {"http://h/1", "http://radio.example:8000/lists/x"}},
        {"m3u: extinf, comments, blanks, crlf, bom",
         PlaylistKind::M3u,
         "\xEF\xBB\xBF#EXTM3U\r\n\r\n#EXTINF:-1,Artist - Title\r\n   http://h/a  \r\n"
         "# a comment\r\n\t https://h/b\t\r\n",
         {"http://h/a", "https://h/b"}},
        {"m3u: relative forms and queries",
         PlaylistKind::M3u,
         "stream\n/live\n../x.mp3\n//other.host/a\nstream?a=1&b=2\n?sid=3\nsub/../y.aac\n",
         {"http://radio.example:8000/lists/stream", "http://radio.example:8000/live",
          "http://radio.example:8000/x.mp3", "http://other.host/a",
          "http://radio.example:8000/lists/stream?a=1&b=2",
          "http://radio.example:8000/lists/main?sid=3", "http://radio.example:8000/lists/y.aac"}},
        {"m3u: local paths dropped, duplicates kept",
         PlaylistKind::M3u,
         "C:\\radio\\a.mp3\nfile:///home/u/a.mp3\nhttp://h/a\n/etc/passwd\nhttp://h/a\n",
         {"http://h/a", "http://radio.example:8000/etc/passwd", "http://h/a"}},
        {"m3u: a space is encoded, a control byte drops the line",
         PlaylistKind::M3u,
         "http://h/my stream\nhttp://h/a\x01z\n",
         {"http://h/my%20stream"}},
        {"hls entries are never followed", PlaylistKind::Hls, "#EXTM3U\nhttp://h/seg.ts\n", {}},
        {"none gives none", PlaylistKind::None, "http://h/a\n", {}},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(ParsePlaylist(c.kind, c.text, base), c.expected) << c.name;
}

TEST(ParsePlaylist, KeepsTheFirstEntriesUpToTheCap)
{
    // Dropped lines don't count toward the cap; PLS keeps the lowest numbers
    // even when they come last.
    std::string m3u = "file:///x\nC:\\y\n";
    std::string pls = "[playlist]\n";
    for (int i = 300; i >= 1; --i) {
        m3u += "http://h/" + std::to_string(301 - i) + "\n";
        pls += "File" + std::to_string(i) + "=http://h/" + std::to_string(i) + "\n";
    }
    for (PlaylistKind kind : {PlaylistKind::M3u, PlaylistKind::Pls}) {
        const Entries entries = ParsePlaylist(kind, kind == PlaylistKind::M3u ? m3u : pls, "");
        ASSERT_EQ(entries.size(), kMaxPlaylistEntries);
        EXPECT_EQ(entries.front(), "http://h/1");
        EXPECT_EQ(entries.back(), "http://h/256");
    }
}

TEST(ResolveUrl, FollowsRfc3986AndKeepsOnlyHttp)
{
    const std::string rfc = "http://a/b/c/d;p?q";  // the base of RFC 3986's examples
    const struct {
        std::string base, reference, expected;
    } cases[] = {
        {rfc, "g", "http://a/b/c/g"},
        {rfc, "./g/", "http://a/b/c/g/"},
        {rfc, "/g", "http://a/g"},
        {rfc, "//g/x", "http://g/x"},
        {rfc, "?y", "http://a/b/c/d;p?y"},
        {rfc, "g?y#s", "http://a/b/c/g?y#s"},
        {rfc, "#s", "http://a/b/c/d;p?q#s"},
        {rfc, "", "http://a/b/c/d;p?q"},
        {rfc + "#old", "  ", "http://a/b/c/d;p?q"},
        {rfc, "../g", "http://a/b/g"},
        {rfc, "../../../../g", "http://a/g"},
        {rfc, "g;x=1/../y", "http://a/b/c/y"},
        {rfc, "HTTPS://Other:8443/x", "https://Other:8443/x"},
        {"https://s/list.pls", "//cdn/a", "https://cdn/a"},
        {"http://[::1]:8000/l.m3u", "live", "http://[::1]:8000/live"},
        {"", "http://h/a b?t=x y", "http://h/a%20b?t=x+y"},
        {"not an address", "http://h/x", "http://h/x"},
        {"", "relative", ""},
        {"not an address", "relative", ""},
        {rfc, "ftp://h/x", ""},
        {rfc, "file:///etc/passwd", ""},
        {rfc, "C:\\a.mp3", ""},
        {rfc, "\\\\server\\a.mp3", ""},
        {"file:///srv/list.m3u", "a.mp3", ""},
        {rfc, "http://h/a\tb", ""},
        {rfc, "http://h:99999/", ""},
        {rfc, "http://h/a\0b"s, ""},
        {"http://a/\0"s, "g", ""},
    };
    for (const auto& c : cases) {
        const std::string resolved = ResolveUrl(c.base, c.reference);
        EXPECT_EQ(resolved, c.expected) << c.base << " + " << c.reference;
        if (!resolved.empty()) {
            EXPECT_TRUE(IsHttpUrl(resolved)) << resolved;
        }
    }
}

TEST(NormalisedUrl, OneAddressInEveryFormHasOneForm)
{
    const std::string plain = NormalisedUrl("http://radio.example/live?x=1");
    for (const char* form : {"HTTP://Radio.EXAMPLE/live?x=1", "http://radio.example:80/live?x=1",
                             "http://radio.example/live?x=1#top", " http://radio.example/live?x=1"})
        EXPECT_EQ(NormalisedUrl(form), plain) << form;
    EXPECT_EQ(NormalisedUrl("https://radio.example:443/a"), NormalisedUrl("https://radio.example/a"));
    // What makes another address stays.
    for (const char* other : {"http://radio.example/Live?x=1", "http://radio.example:8000/live?x=1",
                              "https://radio.example/live?x=1", "http://radio.example/live?x=2"})
        EXPECT_NE(NormalisedUrl(other), plain) << other;
}

TEST(IsHttpUrl, AcceptsWhatCurlWouldFetchOverHttp)
{
    for (std::string_view url : {"http://a/", "HTTPS://a:8443/x?y#z", "http://[::1]:8000/",
                                 "http://h", "http://u:p@h/\xC3\xA9"})
        EXPECT_TRUE(IsHttpUrl(url)) << url;
    for (std::string_view url :
         {"", "ftp://a/", "file:///x", "http:/a", "http:a", "http:///a", "http://", " http://a/",
          "http://a b/", "http://h/a b", "http://h/\x01", "mailto:x@y", "httpx://a/"})
        EXPECT_FALSE(IsHttpUrl(url)) << url;
    EXPECT_FALSE(IsHttpUrl("http://h/a\0b"s));
}

TEST(Playlist, SurvivesHostileBytes)
{
    const std::string samples[] = {
        "[playlist]\r\nFile1=\"http://h/a\"\r\nFile99999999999999999999999=x\r\nFile2=\"",
        "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:-1,x\r\n//h\r\n#EXT-X-",
        "\xEF\xBB",
        "\"",
        "=\n=\"\n\"=\"",
    };
    // Every prefix of the samples, cut anywhere, as a short body would be.
    for (const std::string& sample : samples)
        for (std::size_t size = 0; size <= sample.size(); ++size) {
            const std::string_view text = std::string_view(sample).substr(0, size);
            DetectPlaylist("audio/x-scpls", "http://h/x.pls", text);
            for (PlaylistKind kind : {PlaylistKind::Pls, PlaylistKind::M3u})
                for (const std::string& entry : ParsePlaylist(kind, text, "http://h/"))
                    EXPECT_TRUE(IsHttpUrl(entry)) << entry;
        }

    // Noise mixed with the characters that playlists are made of.
    std::mt19937 random(20240611);
    const std::string_view alphabet = "[]=\"#\r\n \t:/.?%\\Filehtp0123";
    for (int round = 0; round < 400; ++round) {
        std::string junk = NoiseBytes(random() % 3000, random());
        for (char& c : junk)
            if (random() % 2) c = alphabet[random() % alphabet.size()];
        DetectPlaylist("audio/x-mpegurl", "http://h/x.m3u", junk);
        for (PlaylistKind kind : {PlaylistKind::Pls, PlaylistKind::M3u}) {
            const Entries entries = ParsePlaylist(kind, junk, "http://h/dir/list");
            EXPECT_LE(entries.size(), kMaxPlaylistEntries);
            for (const std::string& entry : entries)
                EXPECT_TRUE(IsHttpUrl(entry)) << entry;
        }
    }

    // Audio is binary through and through: no line of it survives.
    const std::string mp3 = "\xFF\xFB\x90\x64\0\0\x0F\x01\r\n\x02\x03\r\x1F"s + NoiseBytes(64, 3);
    EXPECT_TRUE(ParsePlaylist(PlaylistKind::Pls, mp3, "http://h/").empty());
    EXPECT_TRUE(ParsePlaylist(PlaylistKind::M3u, "\x01\x02\r\n\0\x7F\x05"s, "http://h/").empty());
}

}  // namespace
}  // namespace sonivex
