// Reads the song from an ID3v2 tag: the tag an HLS station puts before each
// packed-audio segment (ADTS or MP3), or sends as timed metadata inside its
// MPEG-TS segments. Only the artist (TPE1, TP1) and title (TIT2, TT2) are
// read; every other frame is passed over.
//
// Keeps no state: any thread may call it, on any input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sonivex {

struct Id3Song {
    // Bytes of the whole tag (header, frames, padding, footer) at the start
    // of the input; 0 when the input does not start with a whole tag.
    std::size_t size = 0;
    std::string artist;  // UTF-8, whatever encoding the tag used
    std::string title;
};

// "StreamTitle='ARTIST - TITLE';", as an ICY station sends a song, from
// whichever of the two is known; empty when neither is.
std::string SongMetadata(std::string_view artist, std::string_view title);

// The tag at the start of bytes (versions 2.2 to 2.4). A tag that claims to
// run beyond the input is no tag; a damaged frame ends the reading there.
Id3Song ReadId3(std::string_view bytes);

}  // namespace sonivex
