// Decodes a stream's compressed audio from its download ring with FFmpeg
// (libavformat over a custom reader, libavcodec, libswresample) into 16-bit
// stereo frames at the output's rate.
//
// One thread at a time uses a decoder: the thread that opens the stream
// probes it, then the stream's decoder thread decodes. Reads block on the
// ring; ByteRing::Abort makes them fail, which ends whatever call waits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "byte_ring.h"

struct AVFormatContext;
struct AVInputFormat;
struct AVCodecContext;
struct AVIOContext;
struct AVPacket;
struct AVDictionary;
struct AVStream;
struct AVFrame;
struct SwrContext;

namespace sonivex {

class Decoder {
public:
    // Identifies the format from the ring's first bytes, opens its decoder
    // and decodes until the first sound, which it keeps for the first Decode
    // call. The format the content type names is tried first, so that a
    // live stream starts without probing; when it does not decode, the same
    // bytes are read again and probed, as stations mislabel their streams.
    // Fails (null, with error set to BASS_ERROR_FORMAT, or BASS_ERROR_UNKNOWN
    // when the read was aborted) when no audio decodes within 64 KiB after
    // the format's header.
    static std::unique_ptr<Decoder> Open(std::shared_ptr<ByteRing> ring,
                                         std::string_view contentType, int outputRate, int& error);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Undecodable: the data went on, but no sound came of it (damage the
    // demuxer could not get past, or a codec that would not open).
    enum class Result { Frames, End, Undecodable, Aborted };
    // Appends the next decoded frames (one or more packets' worth) to out.
    Result Decode(std::vector<std::uint32_t>& out);

    // The stream's bit rate as the decoder knows it, 0 when unknown.
    int BitRate() const;
    std::string CodecName() const;
    int SampleRate() const;
    int Channels() const;

    // For streams whose titles travel with the sound (comment headers of
    // Ogg Vorbis and Opus, timed ID3 in MPEG-TS): "StreamTitle='ARTIST -
    // TITLE';" from the latest, and whether it changed since the last call;
    // at is the place in the ring where the sound it names begins.
    bool TakeTitle(std::string& metadata, std::uint64_t& at);

    // The place in the ring (bytes from its start) of the data that the
    // frames of the last Decode came from.
    std::uint64_t LastSoundAt() const { return lastSoundAt_; }
    // Whether the frames of the last Decode are the first after a junction
    // of the ring (a new connection's data): asked once.
    bool TakeResumed();

private:
    Decoder() = default;
    bool OpenFormat(const AVInputFormat* format);
    // OpenFormat, then decoding up to the first sound within the probe limit.
    bool OpenFirstSound(const AVInputFormat* format);
    // Closes the demuxer and decoder and hands the bytes read so far back to
    // the reader, for another try; false when too many were read to keep.
    bool Rewind();
    void CloseFormat();
    // Past a junction: a new demuxer, of the format the stream had, on the
    // new connection's data.
    bool ReopenAfterJunction();
    // The place in the ring of the next byte the demuxer will be given.
    std::uint64_t DeliveredAt() const { return ringAt_ - nextLink_.size() - ready_.size(); }
    bool OpenCodec();
    bool NextLink();
    int ReadLinked(std::uint8_t* buffer, int size);
    ByteRing::ReadResult ReadSource(std::uint8_t* out, std::size_t size, std::size_t& got);
    ByteRing::ReadResult ReadExactly(std::uint8_t* out, std::size_t size);
    bool Convert(const AVFrame* frame, std::vector<std::uint32_t>& out);
    // A song named by Ogg comments, or by timed ID3 in MPEG-TS: at is the
    // place in the ring where its sound begins.
    void NoteComments(const AVDictionary* tags, std::uint64_t at);
    void NoteSong(std::string metadata, std::uint64_t at);
    // The song of the current packet, an ID3 tag of the stream given; it
    // is noted when the sound of its time stamp has been read.
    void NoteTimedId3(const AVStream* stream);
    static int ReadThunk(void* self, std::uint8_t* buffer, int size);

    std::shared_ptr<ByteRing> ring_;
    int outputRate_ = 44100;
    bool aborted_ = false;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int streamIndex_ = -1;
    // The layout the resampler was set up for.
    int resamplerRate_ = 0;
    int resamplerFormat_ = -1;
    std::uint64_t resamplerLayout_ = 0;
    int resamplerChannels_ = 0;
    std::vector<std::uint32_t> pending_;  // sound decoded while opening

    // A chained Ogg stream is handed to the demuxer one link at a time: the
    // reader walks the pages, ends the demuxer's input where a new link
    // starts, and a new demuxer takes over from that page on, whatever codec
    // or rate the link has.
    enum class Pages { Unknown, Ogg, Other };
    Pages pages_ = Pages::Unknown;
    std::string ready_;           // bytes for the demuxer before any more are read
    std::uint64_t pageLeft_ = 0;  // bytes of the current page still to pass on
    bool linkHasData_ = false;    // a page past the link's first headers went by
    bool linkEnded_ = false;
    std::string nextLink_;  // bytes read ahead: the start of the stream or of the next link
    std::uint64_t nextLinkBody_ = 0;  // the body length of the next link's first page
    std::string title_;
    bool titleChanged_ = false;
    std::string timedTitle_;  // a timed song whose sound is still to come
    std::int64_t timedTitlePts_ = 0;  // its time stamp, in the audio's time base

    // While the first format is tried, what it read from the ring is kept,
    // so that a probe can read it again.
    bool recording_ = false;
    bool replayLost_ = false;  // more was read than is kept
    std::string replay_;
    std::uint64_t replayFrom_ = 0;  // where in the ring the replay starts
    std::uint64_t consumed_ = 0;    // bytes handed to the demuxer
    std::uint64_t soundSince_ = 0;  // consumed_ at the last sound (or the format's start)
    bool soundless_ = false;        // too much data went by without a sound

    // Places in the ring: bytes read from it, where the current demuxer's
    // input began, where the last sound came from.
    std::uint64_t ringAt_ = 0;
    std::uint64_t formatFrom_ = 0;
    std::uint64_t lastSoundAt_ = 0;
    std::uint64_t pendingAt_ = 0;  // for the sound decoded while opening
    std::uint64_t titleAt_ = 0;
    const AVInputFormat* openedFormat_ = nullptr;
    bool junction_ = false;  // the ring's read reached a junction
    bool resumed_ = false;
};

}  // namespace sonivex
