#include "id3.h"

#include <algorithm>
#include <cstdint>

namespace sonivex {

namespace {

std::uint32_t BigEndian(std::string_view bytes, std::size_t at, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// Four bytes of seven bits each; false when a byte has its top bit set.
bool SyncSafe(std::string_view bytes, std::size_t at, std::uint32_t& value)
{
    value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[at + i]);
        if (byte & 0x80) return false;
        value = value << 7 | byte;
    }
    return true;
}

// Undoes the unsynchronisation scheme: a zero byte after every 0xFF.
std::string Resynchronised(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (static_cast<std::uint8_t>(bytes[i]) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0')
            ++i;
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | code >> 6));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | code >> 12));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | code >> 18));
        out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::string FromUtf16(std::string_view bytes, bool bigEndian)
{
    std::string out;
    const auto unit = [&](std::size_t at) {
        const auto a = static_cast<std::uint8_t>(bytes[at]);
        const auto b = static_cast<std::uint8_t>(bytes[at + 1]);
        return static_cast<std::uint32_t>(bigEndian ? a << 8 | b : b << 8 | a);
    };
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        std::uint32_t code = unit(at);
        if (code == 0) break;
        if (code >= 0xD800 && code < 0xDC00 && at + 3 < bytes.size()) {
            const std::uint32_t low = unit(at + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

// A text frame's first value, in UTF-8.
std::string FrameText(std::string_view data)
{
    if (data.empty()) return {};
    const auto encoding = static_cast<std::uint8_t>(data[0]);
    data.remove_prefix(1);
    switch (encoding) {
    case 0: {  // ISO-8859-1
        std::string out;
        for (const char c : data) {
            if (c == '\0') break;
            AppendUtf8(out, static_cast<std::uint8_t>(c));
        }
        return out;
    }
    case 1:  // UTF-16 after a byte order mark (little-endian without one)
        if (data.size() >= 2 && static_cast<std::uint8_t>(data[0]) == 0xFE &&
            static_cast<std::uint8_t>(data[1]) == 0xFF)
            return FromUtf16(data.substr(2), true);
        if (data.size() >= 2 && static_cast<std::uint8_t>(data[0]) == 0xFF &&
            static_cast<std::uint8_t>(data[1]) == 0xFE)
            return FromUtf16(data.substr(2), false);
        return FromUtf16(data, false);
    case 2:
        return FromUtf16(data, true);
    case 3:
        return std::string(data.substr(0, data.find('\0')));
    default:
        return {};
    }
}

}  // namespace

std::string SongMetadata(std::string_view artist, std::string_view title)
{
    std::string text(artist);
    if (!title.empty()) {
        if (!text.empty()) text += " - ";
        text += title;
    }
    return text.empty() ? std::string() : "StreamTitle='" + text + "';";
}

Id3Song ReadId3(std::string_view bytes)
{
    Id3Song song;
    if (bytes.size() < 10 || bytes.substr(0, 3) != "ID3") return song;
    const auto version = static_cast<std::uint8_t>(bytes[3]);
    const auto flags = static_cast<std::uint8_t>(bytes[5]);
    std::uint32_t size = 0;
    if (version < 2 || version > 4 || static_cast<std::uint8_t>(bytes[4]) == 0xFF ||
        !SyncSafe(bytes, 6, size))
        return song;
    const std::size_t whole = 10 + std::size_t{size} + (version == 4 && (flags & 0x10) ? 10 : 0);
    if (whole > bytes.size()) return song;
    song.size = whole;

    std::string unsynchronised;
    std::string_view body = bytes.substr(10, size);
    if (version < 4 && (flags & 0x80)) {
        unsynchronised = Resynchronised(body);
        body = unsynchronised;
    }
    // Version 2.2 compressed its whole tag in a way that was never defined.
    if (version == 2 && (flags & 0x40)) return song;
    if (version > 2 && (flags & 0x40)) {
        // An extended header: in 2.3 its size leaves out its own four bytes.
        if (body.size() < 4) return song;
        std::uint32_t extended = 0;
        if (version == 3)
            extended = BigEndian(body, 0, 4) + 4;
        else if (!SyncSafe(body, 0, extended))
            return song;
        if (extended > body.size()) return song;
        body.remove_prefix(extended);
    }

    const std::size_t headerSize = version == 2 ? 6 : 10;
    while (body.size() >= headerSize && body[0] != '\0') {
        const std::string_view id = body.substr(0, version == 2 ? 3 : 4);
        std::uint32_t frameSize = 0;
        if (version == 2)
            frameSize = BigEndian(body, 3, 3);
        else if (version == 3)
            frameSize = BigEndian(body, 4, 4);
        else if (!SyncSafe(body, 4, frameSize))
            break;
        if (frameSize > body.size() - headerSize) break;
        std::string_view data = body.substr(headerSize, frameSize);
        const auto format = version == 2 ? 0 : static_cast<std::uint8_t>(body[9]);
        body.remove_prefix(headerSize + frameSize);

        const bool wanted = id == "TIT2" || id == "TT2" || id == "TPE1" || id == "TP1";
        if (!wanted) continue;
        std::string frameBytes;
        if (version == 3) {
            if (format & 0xC0) continue;  // compressed or encrypted
            if (format & 0x20) data.remove_prefix(std::min<std::size_t>(1, data.size()));
        } else if (version == 4) {
            if (format & 0x0C) continue;  // compressed or encrypted
            if (format & 0x40) data.remove_prefix(std::min<std::size_t>(1, data.size()));
            if (format & 0x01) data.remove_prefix(std::min<std::size_t>(4, data.size()));
            if (format & 0x02) {
                frameBytes = Resynchronised(data);
                data = frameBytes;
            }
        }
        (id[1] == 'P' ? song.artist : song.title) = FrameText(data);
    }
    return song;
}

}  // namespace sonivex
