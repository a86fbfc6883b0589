#include "decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>

#include "errors.h"
#include "id3.h"

namespace sonivex {

namespace {

constexpr int kReadBlock = 4096;
constexpr std::uint64_t kProbeLimit = 64 * 1024;
// Data that goes on this long without a sound is not audio any more.
constexpr std::uint64_t kSoundlessLimit = 256 * 1024;
// What a first try may read and still be read again: its probe, a header
// (a WAV header reads 64 KiB ahead, looking for S/PDIF data) and the probe
// limit of decoding.
constexpr std::size_t kReplayLimit = 512 * 1024;

// The demuxer a content type names, so that a live stream starts without
// probing; null when the type says nothing useful.
const AVInputFormat* FormatFor(std::string_view contentType)
{
    std::string type(contentType.substr(0, contentType.find(';')));
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.back())))
        type.pop_back();
    const char* name = nullptr;
    if (type == "audio/mpeg" || type == "audio/mp3" || type == "audio/mpeg3" ||
        type == "audio/x-mpeg")
        name = "mp3";
    else if (type == "audio/aac" || type == "audio/aacp" || type == "audio/x-aac" ||
             type == "audio/adts")
        name = "aac";
    else if (type == "audio/ogg" || type == "application/ogg" || type == "audio/x-ogg" ||
             type == "audio/vorbis" || type == "audio/opus")
        name = "ogg";
    else if (type == "audio/flac" || type == "audio/x-flac")
        name = "flac";
    return name != nullptr ? av_find_input_format(name) : nullptr;
}

}  // namespace

ByteRing::ReadResult Decoder::ReadSource(std::uint8_t* out, std::size_t size, std::size_t& got)
{
    if (!nextLink_.empty()) {
        got = std::min(size, nextLink_.size());
        std::memcpy(out, nextLink_.data(), got);
        nextLink_.erase(0, got);
        return ByteRing::ReadResult::Data;
    }
    // Past a junction nothing more is read until a new demuxer takes over:
    // for this one the data has ended.
    if (junction_) return ByteRing::ReadResult::End;
    const ByteRing::ReadResult result = ring_->Read(out, size, got);
    if (result == ByteRing::ReadResult::Junction) {
        junction_ = true;
        return ByteRing::ReadResult::End;
    }
    if (result == ByteRing::ReadResult::Data) ringAt_ += got;
    if (result == ByteRing::ReadResult::Data && recording_) {
        if (replay_.size() + got > kReplayLimit) {
            replayLost_ = true;
            recording_ = false;
            replay_.clear();
        } else {
            replay_.append(reinterpret_cast<const char*>(out), got);
        }
    }
    return result;
}

ByteRing::ReadResult Decoder::ReadExactly(std::uint8_t* out, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        std::size_t got = 0;
        const ByteRing::ReadResult result = ReadSource(out + done, size - done, got);
        if (result != ByteRing::ReadResult::Data) return result;
        done += got;
    }
    return ByteRing::ReadResult::Data;
}

int Decoder::ReadLinked(std::uint8_t* buffer, int size)
{
    const auto failed = [&](ByteRing::ReadResult result) {
        if (result == ByteRing::ReadResult::End) return AVERROR_EOF;
        aborted_ = true;
        return AVERROR_EXIT;
    };
    for (;;) {
        if (!ready_.empty()) {
            const std::size_t n = std::min(ready_.size(), static_cast<std::size_t>(size));
            std::memcpy(buffer, ready_.data(), n);
            ready_.erase(0, n);
            return static_cast<int>(n);
        }
        if (pages_ == Pages::Other || pageLeft_ > 0) {
            std::size_t want = static_cast<std::size_t>(size);
            if (pages_ == Pages::Ogg)
                want = static_cast<std::size_t>(std::min<std::uint64_t>(want, pageLeft_));
            std::size_t got = 0;
            const ByteRing::ReadResult result = ReadSource(buffer, want, got);
            if (result != ByteRing::ReadResult::Data) return failed(result);
            if (pages_ == Pages::Ogg) pageLeft_ -= got;
            return static_cast<int>(got);
        }
        if (linkEnded_) return AVERROR_EOF;

        // The next page header: "OggS", version, flags, granule position,
        // serial, sequence, checksum, segment count, then the segment table.
        std::uint8_t header[27 + 255];
        const ByteRing::ReadResult result = ReadExactly(header, 27);
        if (result != ByteRing::ReadResult::Data) return failed(result);
        if (std::memcmp(header, "OggS", 4) != 0) {
            // Not (or no longer) a sequence of pages: pass everything on.
            pages_ = Pages::Other;
            ready_.assign(reinterpret_cast<const char*>(header), 27);
            continue;
        }
        pages_ = Pages::Ogg;
        const std::size_t segments = header[26];
        const ByteRing::ReadResult table = ReadExactly(header + 27, segments);
        if (table != ByteRing::ReadResult::Data) return failed(table);
        std::uint64_t body = 0;
        for (std::size_t i = 0; i < segments; ++i)
            body += header[27 + i];
        const std::string whole(reinterpret_cast<const char*>(header), 27 + segments);
        const bool beginsStream = (header[5] & 0x02) != 0;
        if (beginsStream && linkHasData_) {
            linkEnded_ = true;
            nextLink_ = whole + nextLink_;
            pageLeft_ = 0;
            nextLinkBody_ = body;
            return AVERROR_EOF;
        }
        if (!beginsStream) linkHasData_ = true;
        ready_ = whole;
        pageLeft_ = body;
    }
}

int Decoder::ReadThunk(void* self, std::uint8_t* buffer, int size)
{
    auto* decoder = static_cast<Decoder*>(self);
    if (decoder->pages_ == Pages::Unknown) {
        // Ogg streams begin with a page; anything else is read as it comes.
        std::uint8_t start[4];
        std::size_t got = 0;
        std::string first;
        while (first.size() < 4) {
            const ByteRing::ReadResult result = decoder->ReadSource(start, 4 - first.size(), got);
            if (result == ByteRing::ReadResult::Aborted) {
                decoder->aborted_ = true;
                return AVERROR_EXIT;
            }
            if (result == ByteRing::ReadResult::End) break;
            first.append(reinterpret_cast<const char*>(start), got);
        }
        decoder->pages_ = first == "OggS" ? Pages::Ogg : Pages::Other;
        // Handed back to the reader, to be read again as the stream's start.
        decoder->nextLink_ = first + decoder->nextLink_;
        if (first.empty()) return AVERROR_EOF;
    }
    // A demuxer that finds no frame reads on by itself: the data ends for
    // it once it has gone this far without a sound.
    if (decoder->consumed_ - decoder->soundSince_ > kSoundlessLimit) {
        decoder->soundless_ = true;
        return AVERROR_EOF;
    }
    const int read = decoder->ReadLinked(buffer, size);
    if (read > 0) decoder->consumed_ += static_cast<std::uint64_t>(read);
    return read;
}

bool Decoder::OpenFormat(const AVInputFormat* format)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBlock));
    io_ = avio_alloc_context(buffer, kReadBlock, 0, this, &Decoder::ReadThunk, nullptr, nullptr);
    if (io_ == nullptr) {
        av_free(buffer);
        return false;
    }
    io_->seekable = 0;
    formatFrom_ = DeliveredAt();
    soundSince_ = consumed_;
    soundless_ = false;
    format_ = avformat_alloc_context();
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The whole probe stays inside the first 64 KiB; a station's stream is
    // recognised from its first few.
    format_->probesize = kProbeLimit;
    if (avformat_open_input(&format_, "", format, nullptr) < 0) return false;
    // The first audio stream. (av_find_best_stream would pass over a stream
    // whose rate is not known yet, which is every stream before decoding.)
    streamIndex_ = -1;
    for (unsigned i = 0; i < format_->nb_streams && streamIndex_ < 0; ++i)
        if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            streamIndex_ = static_cast<int>(i);
    if (streamIndex_ < 0 || !OpenCodec()) return false;
    openedFormat_ = format_->iformat;
    if (std::strcmp(format_->iformat->name, "ogg") == 0) {
        NoteComments(format_->streams[streamIndex_]->metadata, formatFrom_);
    }
    return true;
}

bool Decoder::NextLink()
{
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    av_freep(&io_->buffer);
    avio_context_free(&io_);
    linkEnded_ = false;
    linkHasData_ = false;
    // The new link's first page header was kept back; its body follows it.
    ready_ = nextLink_;
    nextLink_.clear();
    pageLeft_ = nextLinkBody_;
    nextLinkBody_ = 0;
    return OpenFormat(av_find_input_format("ogg"));
}

bool Decoder::OpenFirstSound(const AVInputFormat* format)
{
    if (!OpenFormat(format)) return false;
    // Garbage that a demuxer accepted (a page served as audio/mpeg, AAC
    // served as MP3) shows here: no frame decodes before the probe limit.
    const std::uint64_t start = consumed_;
    std::vector<std::uint32_t> first;
    while (first.empty()) {
        if (consumed_ - start > kProbeLimit) return false;
        const Result result = Decode(first);
        if (result == Result::Aborted) return false;
        if (result != Result::Frames && first.empty()) return false;
    }
    pending_ = std::move(first);
    pendingAt_ = lastSoundAt_;
    return true;
}

void Decoder::CloseFormat()
{
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    if (io_ != nullptr) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    swr_free(&resampler_);
    timedTitle_.clear();
    resamplerRate_ = 0;
    resamplerFormat_ = -1;
    resamplerLayout_ = 0;
    resamplerChannels_ = 0;
    streamIndex_ = -1;
}

bool Decoder::Rewind()
{
    if (replayLost_ || aborted_) return false;
    CloseFormat();
    // Everything read so far, and so everything the reader held back, is in
    // the replay, in order.
    pages_ = Pages::Unknown;
    ready_.clear();
    pageLeft_ = 0;
    linkHasData_ = false;
    linkEnded_ = false;
    nextLinkBody_ = 0;
    nextLink_ = std::move(replay_);
    replay_.clear();
    recording_ = false;
    junction_ = false;
    pending_.clear();
    title_.clear();
    titleChanged_ = false;
    return true;
}

std::unique_ptr<Decoder> Decoder::Open(std::shared_ptr<ByteRing> ring, std::string_view contentType,
                                       int outputRate, int& error)
{
    std::unique_ptr<Decoder> decoder(new Decoder);
    decoder->ring_ = std::move(ring);
    decoder->outputRate_ = outputRate;
    error = BASS_ERROR_FORMAT;

    const AVInputFormat* named = FormatFor(contentType);
    decoder->recording_ = named != nullptr;
    decoder->replayFrom_ = decoder->ringAt_;
    bool opened = decoder->OpenFirstSound(named);
    if (!opened && named != nullptr && decoder->Rewind()) opened = decoder->OpenFirstSound(nullptr);
    decoder->recording_ = false;
    decoder->replay_.clear();
    if (!opened) {
        if (decoder->aborted_) error = BASS_ERROR_UNKNOWN;
        return nullptr;
    }
    error = BASS_OK;
    return decoder;
}

Decoder::~Decoder()
{
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    CloseFormat();
}

bool Decoder::OpenCodec()
{
    avcodec_free_context(&codec_);
    const AVCodecParameters* parameters = format_->streams[streamIndex_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr) return false;
    codec_ = avcodec_alloc_context3(codec);
    if (codec_ == nullptr || avcodec_parameters_to_context(codec_, parameters) < 0) return false;
    if (avcodec_open2(codec_, codec, nullptr) < 0) return false;
    if (packet_ == nullptr) packet_ = av_packet_alloc();
    if (frame_ == nullptr) frame_ = av_frame_alloc();
    return packet_ != nullptr && frame_ != nullptr;
}

void Decoder::NoteComments(const AVDictionary* tags, std::uint64_t at)
{
    const AVDictionaryEntry* artist = av_dict_get(tags, "artist", nullptr, 0);
    const AVDictionaryEntry* title = av_dict_get(tags, "title", nullptr, 0);
    NoteSong(SongMetadata(artist ? artist->value : "", title ? title->value : ""), at);
}

void Decoder::NoteSong(std::string metadata, std::uint64_t at)
{
    if (metadata.empty() || metadata == title_) return;
    title_ = std::move(metadata);
    titleAt_ = at;
    titleChanged_ = true;
}

void Decoder::NoteTimedId3(const AVStream* stream)
{
    const std::string_view data(reinterpret_cast<const char*>(packet_->data),
                                static_cast<std::size_t>(packet_->size));
    Id3Song song = ReadId3(data);
    // libavformat takes the first five bytes of such a packet for the
    // header of a metadata cell, which an HLS station's tags do not have:
    // what is left starts with the tag's flags and size. The lost "ID3" and
    // version are put back (2.4, else 2.3).
    if (song.size == 0 && data.size() >= 5 && !data.starts_with("ID3")) {
        for (const char* version : {"ID3\x04\x00", "ID3\x03\x00"}) {
            song = ReadId3(std::string(version, 5) + std::string(data));
            if (!song.artist.empty() || !song.title.empty()) break;
        }
    }
    std::string metadata = SongMetadata(song.artist, song.title);
    if (metadata.empty()) return;
    timedTitle_ = std::move(metadata);
    timedTitlePts_ = packet_->pts == AV_NOPTS_VALUE
                         ? AV_NOPTS_VALUE
                         : av_rescale_q(packet_->pts, stream->time_base,
                                        format_->streams[streamIndex_]->time_base);
}

bool Decoder::TakeTitle(std::string& metadata, std::uint64_t& at)
{
    if (!titleChanged_) return false;
    titleChanged_ = false;
    metadata = title_;
    at = titleAt_;
    return true;
}

bool Decoder::TakeResumed()
{
    const bool resumed = resumed_;
    resumed_ = false;
    return resumed;
}

bool Decoder::ReopenAfterJunction()
{
    // What was read ahead of the junction is the old connection's cut-off
    // end: it is dropped, not decoded.
    const AVInputFormat* format = openedFormat_;
    CloseFormat();
    pages_ = Pages::Unknown;
    ready_.clear();
    nextLink_.clear();
    pageLeft_ = 0;
    nextLinkBody_ = 0;
    linkHasData_ = false;
    linkEnded_ = false;
    junction_ = false;
    pending_.clear();
    recording_ = true;
    replayLost_ = false;
    replay_.clear();
    replayFrom_ = ringAt_;
    bool opened = OpenFirstSound(format);
    if (!opened && !aborted_ && !junction_ && Rewind()) opened = OpenFirstSound(nullptr);
    recording_ = false;
    replay_.clear();
    if (!opened) return false;
    resumed_ = true;
    return true;
}

bool Decoder::Convert(const AVFrame* frame, std::vector<std::uint32_t>& out)
{
    // Set up again whenever the input changes: HE-AAC shows its real rate
    // and channels only in the first decoded frame, and a chained stream may
    // change them at any time.
    const std::uint64_t layout =
        frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? frame->ch_layout.u.mask : 0;
    if (resampler_ == nullptr || resamplerRate_ != frame->sample_rate ||
        resamplerFormat_ != frame->format || resamplerLayout_ != layout ||
        resamplerChannels_ != frame->ch_layout.nb_channels) {
        swr_free(&resampler_);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        AVChannelLayout input{};
        if (av_channel_layout_copy(&input, &frame->ch_layout) < 0) return false;
        const int made = swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, outputRate_,
                                             &input, static_cast<AVSampleFormat>(frame->format),
                                             frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&input);
        if (made < 0) return false;
        // Mono plays at full level on both sides, not 3 dB down as the
        // resampler's own matrix would have it.
        if (frame->ch_layout.nb_channels == 1) {
            const double bothSides[2] = {1.0, 1.0};
            swr_set_matrix(resampler_, bothSides, 1);
        }
        if (swr_init(resampler_) < 0) {
            swr_free(&resampler_);
            return false;
        }
        resamplerRate_ = frame->sample_rate;
        resamplerFormat_ = frame->format;
        resamplerLayout_ = layout;
        resamplerChannels_ = frame->ch_layout.nb_channels;
    }
    const int room = swr_get_out_samples(resampler_, frame->nb_samples);
    if (room <= 0) return true;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(room));
    auto* target = reinterpret_cast<std::uint8_t*>(out.data() + start);
    const int converted =
        swr_convert(resampler_, &target, room,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    out.resize(start + static_cast<std::size_t>(std::max(converted, 0)));
    return converted >= 0;
}

Decoder::Result Decoder::Decode(std::vector<std::uint32_t>& out)
{
    if (!pending_.empty()) {
        out.insert(out.end(), pending_.begin(), pending_.end());
        pending_.clear();
        lastSoundAt_ = pendingAt_;
        return Result::Frames;
    }
    const std::size_t before = out.size();
    int damaged = 0;
    for (;;) {
        const int read = av_read_frame(format_, packet_);
        if (aborted_) return Result::Aborted;
        if (soundless_) return Result::Undecodable;
        if (read == AVERROR_EOF || (read < 0 && avio_feof(io_))) {
            // The end of a link: what the decoder still holds, then the next.
            if (avcodec_send_packet(codec_, nullptr) == 0) {
                while (avcodec_receive_frame(codec_, frame_) == 0) {
                    Convert(frame_, out);
                    av_frame_unref(frame_);
                }
            }
            if (junction_) {
                // A new connection's data follows: its own demuxer, then
                // its first sound (the output brings it in softly).
                if (!ReopenAfterJunction()) return aborted_ ? Result::Aborted : Result::Undecodable;
                if (out.size() > before) return Result::Frames;
                return Decode(out);
            }
            if (!linkEnded_) return out.size() > before ? Result::Frames : Result::End;
            if (!NextLink()) return aborted_ ? Result::Aborted : Result::Undecodable;
            if (out.size() > before) return Result::Frames;
            continue;
        }
        if (read < 0) {
            // Damaged data: the demuxer resyncs further on, though not for ever.
            if (++damaged > 1000) return Result::Undecodable;
            continue;
        }
        damaged = 0;

        if (packet_->stream_index != streamIndex_ &&
            format_->streams[packet_->stream_index]->codecpar->codec_id == AV_CODEC_ID_TIMED_ID3) {
            // An HLS station's song, sent beside its sound in MPEG-TS.
            NoteTimedId3(format_->streams[packet_->stream_index]);
            av_packet_unref(packet_);
            continue;
        }
        if (packet_->stream_index != streamIndex_) {
            // A chained Ogg stream whose new link has a codec of its own
            // shows up as a new stream: follow it.
            const AVStream* stream = format_->streams[packet_->stream_index];
            if (packet_->stream_index > streamIndex_ &&
                stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                streamIndex_ = packet_->stream_index;
                if (!OpenCodec()) return Result::Undecodable;
            } else {
                av_packet_unref(packet_);
                continue;
            }
        }
        std::size_t sideSize = 0;
        if (av_packet_get_side_data(packet_, AV_PKT_DATA_NEW_EXTRADATA, &sideSize) != nullptr) {
            // The next link of a chained stream: its headers are the
            // decoder's new set-up.
            avcodec_parameters_from_context(format_->streams[streamIndex_]->codecpar, codec_);
            AVCodecParameters* parameters = format_->streams[streamIndex_]->codecpar;
            const std::uint8_t* extra =
                av_packet_get_side_data(packet_, AV_PKT_DATA_NEW_EXTRADATA, &sideSize);
            av_freep(&parameters->extradata);
            parameters->extradata =
                static_cast<std::uint8_t*>(av_mallocz(sideSize + AV_INPUT_BUFFER_PADDING_SIZE));
            if (parameters->extradata != nullptr) {
                std::memcpy(parameters->extradata, extra, sideSize);
                parameters->extradata_size = static_cast<int>(sideSize);
            }
            if (!OpenCodec()) return Result::Undecodable;
        }
        if (const std::uint8_t* update =
                av_packet_get_side_data(packet_, AV_PKT_DATA_METADATA_UPDATE, &sideSize)) {
            AVDictionary* tags = nullptr;
            if (av_packet_unpack_dictionary(update, sideSize, &tags) == 0) {
                NoteComments(tags, packet_->pos >= 0
                                       ? formatFrom_ + static_cast<std::uint64_t>(packet_->pos)
                                       : DeliveredAt());
            }
            av_dict_free(&tags);
        }

        const std::uint64_t packetAt =
            packet_->pos >= 0 ? formatFrom_ + static_cast<std::uint64_t>(packet_->pos) : DeliveredAt();
        // A timed song begins with the sound its time stamp falls in.
        if (!timedTitle_.empty() &&
            (timedTitlePts_ == AV_NOPTS_VALUE || packet_->pts == AV_NOPTS_VALUE ||
             packet_->pts + std::max<std::int64_t>(packet_->duration, 1) > timedTitlePts_)) {
            NoteSong(std::move(timedTitle_), packetAt);
            timedTitle_.clear();
        }
        if (avcodec_send_packet(codec_, packet_) == 0) {
            while (avcodec_receive_frame(codec_, frame_) == 0) {
                Convert(frame_, out);
                av_frame_unref(frame_);
            }
        }
        av_packet_unref(packet_);
        if (out.size() > before) {
            lastSoundAt_ = packetAt;
            soundSince_ = consumed_;
            return Result::Frames;
        }
    }
}

int Decoder::BitRate() const
{
    if (codec_ != nullptr && codec_->bit_rate > 0) return static_cast<int>(codec_->bit_rate);
    const AVCodecParameters* parameters = format_->streams[streamIndex_]->codecpar;
    if (parameters->bit_rate > 0) return static_cast<int>(parameters->bit_rate);
    return format_->bit_rate > 0 ? static_cast<int>(format_->bit_rate) : 0;
}

std::string Decoder::CodecName() const
{
    return codec_ != nullptr ? codec_->codec->name : "";
}
int Decoder::SampleRate() const
{
    return codec_ != nullptr ? codec_->sample_rate : 0;
}
int Decoder::Channels() const
{
    return codec_ != nullptr ? codec_->ch_layout.nb_channels : 0;
}

}  // namespace sonivex
