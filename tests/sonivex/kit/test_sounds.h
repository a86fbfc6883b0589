// Test sounds, made by the `ffmpeg` command from full-scale tones (and, for
// one remux the command cannot do, by libavformat). Results are
// cached by their parameters for the life of the process, so asking twice
// costs one encode. Every function may be called from any thread; failures
// throw std::runtime_error naming the ffmpeg command and its message.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kit {

// True when an `ffmpeg` command is on the PATH.
bool FfmpegAvailable();

// The lavfi source of a sine of the given frequency whose peaks reach full
// scale (about +-32767 as 16-bit samples) on every channel. seconds <= 0
// makes it endless (for live sources).
std::string ToneSource(int frequency, int sampleRate, int channels, double seconds);

// The ffmpeg output options for a codec: "mp3" (bare MPEG frames, no ID3 tag
// and no Xing frame, as a radio sends them), "aac" (ADTS), "vorbis" and
// "opus" (Ogg), "flac" (native FLAC; the bit rate is ignored), "wav" (16-bit
// PCM) and "wavfloat" (32-bit float PCM). Other names throw
// std::invalid_argument.
std::vector<std::string> CodecOptions(const std::string& codec, int bitrateKbps);

// A tone encoded with the codec, as the bytes of a file or stream.
std::string EncodeTone(std::string codec, double seconds, int frequency, int sampleRate = 44100,
                       int channels = 2, int bitrateKbps = 128);

// The general form: any lavfi source (say "anoisesrc=d=2:a=0.5"), then the
// codec's options, then extra output options (say {"-metadata", "title=X"}).
std::string EncodeSource(std::string codec, std::string lavfiSource, int channels, int bitrateKbps,
                         std::vector<std::string> extraOptions = {});

// An Ogg Vorbis or Ogg Opus tone whose comment header carries ARTIST and
// TITLE. Stereo; 44100 Hz for Vorbis, 48000 Hz for Opus.
std::string EncodeWithTags(std::string codec, double seconds, int frequency, std::string artist,
                           std::string title);

// A chained Ogg stream: the files one after another. A link that reuses a
// serial number of an earlier link (the same cached file twice, say) gets a
// fresh one, page checksums rewritten, so every link is a new logical stream.
// Throws std::invalid_argument when a part is not a sequence of Ogg pages.
std::string ChainOgg(std::vector<std::string> oggFiles);

// A tone as an HLS station: ffmpeg's list.m3u8 and its MPEG-TS segments
// seg0.ts, seg1.ts ... of segmentSeconds each, with AAC ("aac") or MP3
// ("mp3") inside, by file name; with encrypt, AES-128 encrypted with the
// key "kkkkkkkkkkkkkkkk", which the playlist names as key.bin; with fmp4,
// fragmented MP4 segments seg0.m4s ... after init.mp4 instead.
std::map<std::string, std::string> EncodeHls(const std::string& codec, double seconds, int frequency,
                                             int segmentSeconds, bool encrypt = false,
                                             bool fmp4 = false);

// An HLS station whose segments name their songs in ID3, as a finished
// list.m3u8 without titles of its own: segment i is segmentSeconds of a
// tone of 500 * (i + 1) Hz, named by songs[i] ("ARTIST - TITLE" or
// "TITLE"). Packed: ADTS ("aac") or MP3 ("mp3") segments seg0.aac or
// seg0.mp3 ..., each encoded on its own with ffmpeg's ID3 tag in front
// (version 2.4 for ADTS, 2.3 for MP3). Otherwise ffmpeg's MPEG-TS segments
// seg0.ts ... with AAC inside, to which the song is added as a timed ID3
// stream whose one packet has the time stamp of the segment's first sound.
std::map<std::string, std::string> EncodeHlsSongs(const std::string& codec,
                                                  const std::vector<std::string>& songs,
                                                  int segmentSeconds, bool packed);

// Decodes a file, or bytes captured from a stream, with ffmpeg to interleaved
// 16-bit samples at the given rate and channel count: a reference to hold
// decoded sound against. Not cached. ffmpeg's own upmix of mono to stereo
// lowers the level by 3 dB; ask for one channel to compare mono levels.
std::vector<std::int16_t> DecodeToPcm(const std::string& encoded, int sampleRate = 44100,
                                      int channels = 2);

}  // namespace kit
