#include "test_sounds.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

extern char** environ;

namespace kit {

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty()) line += ' ';
        if (arg.find_first_of(" '\"|;()*$&\\") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '\'';
        for (char c : arg)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A folder of our own under the system's temporary folder, removed with the
// object.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "ondalux-sound-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// Runs ffmpeg with stdin from /dev/null and both outputs into `log`; an
// encode that takes longer than a minute is killed.
int RunFfmpeg(const std::vector<std::string>& args, const fs::path& log)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return -1;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Encode(const std::string& codec, const std::string& source, int channels,
                   int bitrateKbps, const std::vector<std::string>& extraOptions)
{
    std::vector<std::string> args = {"ffmpeg",
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-nostdin",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     source,
                                     "-ac",
                                     std::to_string(channels)};
    for (const std::string& option : CodecOptions(codec, bitrateKbps))
        args.push_back(option);
    args.insert(args.end(), extraOptions.begin(), extraOptions.end());

    static std::mutex mutex;
    static std::map<std::vector<std::string>, std::string> cache;
    {
        std::lock_guard lock(mutex);
        const auto found = cache.find(args);
        if (found != cache.end()) return found->second;
    }

    TempFolder folder;
    const fs::path output = folder.Path() / ("sound." + codec);
    args.push_back("-y");
    args.push_back(output.string());
    const int status = RunFfmpeg(args, folder.Path() / "ffmpeg.log");
    std::string bytes = ReadFile(output);
    if (status != 0 || bytes.empty()) {
        throw std::runtime_error("`" + Quoted(args) + "` failed (status " + std::to_string(status) +
                                 "): " + ReadFile(folder.Path() / "ffmpeg.log"));
    }
    args.resize(args.size() - 2);
    std::lock_guard lock(mutex);
    return cache.emplace(args, std::move(bytes)).first->second;
}

// ---------------------------------------------------------------- Ogg pages

std::uint32_t OggCrc(const unsigned char* data, std::size_t size)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            entries[i] = r;
        }
        return entries;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

std::uint32_t ReadLe32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLe32(unsigned char* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

struct Page {
    std::size_t offset;
    std::size_t size;
};

std::vector<Page> SplitPages(const std::string& file)
{
    std::vector<Page> pages;
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
    std::size_t at = 0;
    while (at < file.size()) {
        if (file.size() - at < 27 || file.compare(at, 4, "OggS") != 0)
            throw std::invalid_argument("not an Ogg page at byte " + std::to_string(at));
        const std::size_t segments = bytes[at + 26];
        if (file.size() - at < 27 + segments) throw std::invalid_argument("truncated Ogg page");
        std::size_t size = 27 + segments;
        for (std::size_t i = 0; i < segments; ++i)
            size += bytes[at + 27 + i];
        if (file.size() - at < size) throw std::invalid_argument("truncated Ogg page");
        pages.push_back({at, size});
        at += size;
    }
    return pages;
}

}  // namespace

bool FfmpegAvailable()
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && access((folder + "/ffmpeg").c_str(), X_OK) == 0) return true;
    }
    return false;
}

std::string ToneSource(int frequency, int sampleRate, int channels, double seconds)
{
    if (channels < 1 || channels > 8) throw std::invalid_argument("1 to 8 channels");
    const std::string wave = "sin(2*PI*" + std::to_string(frequency) + "*t)";
    std::string source = "aevalsrc=" + wave;
    for (int channel = 1; channel < channels; ++channel)
        source += "|" + wave;
    // One expression per channel: upmixing a mono source would cost 3 dB.
    source += ":s=" + std::to_string(sampleRate);
    source += channels == 1 ? ":c=mono" : channels == 2 ? ":c=stereo" : "";
    if (seconds > 0) {
        std::ostringstream duration;
        duration << seconds;
        source += ":d=" + duration.str();
    }
    return source;
}

std::vector<std::string> CodecOptions(const std::string& codec, int bitrateKbps)
{
    const std::string bitrate = std::to_string(bitrateKbps) + "k";
    if (codec == "mp3")
        return {"-c:a", "libmp3lame",  "-b:a", bitrate, "-id3v2_version",
                "0",    "-write_xing", "0",    "-f",    "mp3"};
    if (codec == "aac") return {"-c:a", "aac", "-b:a", bitrate, "-f", "adts"};
    if (codec == "vorbis") return {"-c:a", "libvorbis", "-b:a", bitrate, "-f", "ogg"};
    if (codec == "opus") return {"-c:a", "libopus", "-b:a", bitrate, "-f", "ogg"};
    if (codec == "flac") return {"-c:a", "flac", "-f", "flac"};
    if (codec == "wav") return {"-c:a", "pcm_s16le", "-f", "wav"};
    if (codec == "wavfloat") return {"-c:a", "pcm_f32le", "-f", "wav"};
    throw std::invalid_argument("no such test codec: " + codec);
}

std::string EncodeTone(std::string codec, double seconds, int frequency, int sampleRate,
                       int channels, int bitrateKbps)
{
    if (seconds <= 0) throw std::invalid_argument("a test sound needs a positive length");
    return Encode(codec, ToneSource(frequency, sampleRate, channels, seconds), channels,
                  bitrateKbps, {});
}

std::string EncodeSource(std::string codec, std::string lavfiSource, int channels, int bitrateKbps,
                         std::vector<std::string> extraOptions)
{
    return Encode(codec, lavfiSource, channels, bitrateKbps, extraOptions);
}

std::string EncodeWithTags(std::string codec, double seconds, int frequency, std::string artist,
                           std::string title)
{
    if (codec != "vorbis" && codec != "opus")
        throw std::invalid_argument("tagged test sounds are Ogg Vorbis or Ogg Opus, not " + codec);
    if (seconds <= 0) throw std::invalid_argument("a test sound needs a positive length");
    const int rate = codec == "opus" ? 48000 : 44100;
    return Encode(codec, ToneSource(frequency, rate, 2, seconds), 2, codec == "opus" ? 96 : 128,
                  {"-metadata", "artist=" + artist, "-metadata", "title=" + title});
}

std::string ChainOgg(std::vector<std::string> oggFiles)
{
    std::set<std::uint32_t> usedSerials;
    std::string chain;
    for (std::string& file : oggFiles) {
        const std::vector<Page> pages = SplitPages(file);
        auto* bytes = reinterpret_cast<unsigned char*>(file.data());
        std::set<std::uint32_t> serials;
        for (const Page& page : pages)
            serials.insert(ReadLe32(bytes + page.offset + 14));

        std::map<std::uint32_t, std::uint32_t> renumbered;
        for (std::uint32_t serial : serials) {
            if (!usedSerials.count(serial)) continue;
            std::uint32_t fresh = serial;
            while (usedSerials.count(fresh) || serials.count(fresh))
                ++fresh;
            renumbered[serial] = fresh;
            usedSerials.insert(fresh);
        }
        for (std::uint32_t serial : serials)
            usedSerials.insert(serial);

        for (const Page& page : pages) {
            unsigned char* header = bytes + page.offset;
            const auto found = renumbered.find(ReadLe32(header + 14));
            if (found == renumbered.end()) continue;
            WriteLe32(header + 14, found->second);
            WriteLe32(header + 22, 0);
            WriteLe32(header + 22, OggCrc(header, page.size));
        }
        chain += file;
    }
    return chain;
}

std::map<std::string, std::string> EncodeHls(const std::string& codec, double seconds, int frequency,
                                             int segmentSeconds, bool encrypt, bool fmp4)
{
    TempFolder folder;
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                                     "-f",     "lavfi",        "-i",        ToneSource(frequency, 44100, 2, seconds),
                                     "-ac",    "2"};
    if (codec == "mp3")
        args.insert(args.end(), {"-c:a", "libmp3lame", "-b:a", "128k"});
    else
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "128k"});
    args.insert(args.end(), {"-f", "hls", "-hls_time", std::to_string(segmentSeconds),
                             "-hls_list_size", "0", "-hls_segment_filename",
                             (folder.Path() / (fmp4 ? "seg%d.m4s" : "seg%d.ts")).string()});
    if (fmp4) args.insert(args.end(), {"-hls_segment_type", "fmp4"});
    if (encrypt) {
        const fs::path key = folder.Path() / "key.bin";
        std::ofstream(key, std::ios::binary) << std::string(16, 'k');
        const fs::path info = folder.Path() / "key.info";
        std::ofstream(info) << "key.bin\n" << key.string() << "\n";
        args.insert(args.end(), {"-hls_key_info_file", info.string()});
    }
    args.push_back((folder.Path() / "list.m3u8").string());
    const int status = RunFfmpeg(args, folder.Path() / "ffmpeg.log");
    if (status != 0)
        throw std::runtime_error("`" + Quoted(args) + "` failed: " + ReadFile(folder.Path() / "ffmpeg.log"));
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".ts") || name.ends_with(".m4s") || name.ends_with(".mp4") ||
            name.ends_with(".m3u8"))
            files[name] = ReadFile(entry.path());
    }
    return files;
}

namespace {

// ffmpeg's options naming a song "ARTIST - TITLE" (or "TITLE").
std::vector<std::string> SongOptions(const std::string& song)
{
    const std::size_t dash = song.find(" - ");
    if (dash == std::string::npos) return {"-metadata", "title=" + song};
    return {"-metadata", "artist=" + song.substr(0, dash), "-metadata", "title=" + song.substr(dash + 3)};
}

// The ID3v2.4 tag ffmpeg's MP3 writer puts before a file naming the song.
std::string Id3Tag(const std::string& song)
{
    std::vector<std::string> options = SongOptions(song);
    options.insert(options.end(), {"-id3v2_version", "4"});
    const std::string file = Encode("mp3", ToneSource(500, 44100, 2, 0.1), 2, 128, options);
    if (file.size() < 10 || file.compare(0, 3, "ID3") != 0)
        throw std::runtime_error("ffmpeg wrote no ID3 tag for " + song);
    std::size_t size = 0;
    for (int i = 6; i < 10; ++i) size = size << 7 | (static_cast<unsigned char>(file[i]) & 0x7F);
    return file.substr(0, 10 + size);
}

// An MPEG-TS file as it was, with a timed ID3 stream added whose one packet,
// the tag, has the time stamp of the file's first sound: libavformat's own
// demuxer and muxer, time stamps kept.
std::string WithTimedId3(const std::string& ts, const std::string& tag)
{
    struct Reader {
        const std::string* bytes;
        std::size_t at = 0;
    } reader{&ts};
    const auto read = [](void* opaque, std::uint8_t* buffer, int size) -> int {
        auto* source = static_cast<Reader*>(opaque);
        const std::size_t count =
            std::min(source->bytes->size() - source->at, static_cast<std::size_t>(size));
        if (count == 0) return AVERROR_EOF;
        std::memcpy(buffer, source->bytes->data() + source->at, count);
        source->at += count;
        return static_cast<int>(count);
    };
    constexpr int kBlock = 4096;
    AVIOContext* input = avio_alloc_context(static_cast<unsigned char*>(av_malloc(kBlock)), kBlock, 0,
                                            &reader, read, nullptr, nullptr);
    AVFormatContext* in = avformat_alloc_context();
    in->pb = input;
    AVFormatContext* out = nullptr;
    AVPacket* packet = av_packet_alloc();
    std::string result, failure;
    const auto cleanUp = [&] {
        av_packet_free(&packet);
        if (out != nullptr) {
            if (out->pb != nullptr) {
                std::uint8_t* bytes = nullptr;
                const int size = avio_close_dyn_buf(out->pb, &bytes);
                if (failure.empty()) result.assign(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(size));
                av_free(bytes);
            }
            avformat_free_context(out);
        }
        avformat_close_input(&in);
        av_freep(&input->buffer);
        avio_context_free(&input);
    };
    if (avformat_open_input(&in, nullptr, av_find_input_format("mpegts"), nullptr) < 0 ||
        avformat_find_stream_info(in, nullptr) < 0) {
        failure = "libavformat could not read an ffmpeg segment";
    } else if (avformat_alloc_output_context2(&out, nullptr, "mpegts", nullptr) < 0 ||
               avio_open_dyn_buf(&out->pb) < 0) {
        failure = "no MPEG-TS muxer";
    }
    std::vector<int> streams(in != nullptr ? in->nb_streams : 0, -1);
    int id3Stream = -1;
    if (failure.empty()) {
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            if (in->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            AVStream* stream = avformat_new_stream(out, nullptr);
            avcodec_parameters_copy(stream->codecpar, in->streams[i]->codecpar);
            stream->codecpar->codec_tag = 0;
            stream->time_base = in->streams[i]->time_base;
            streams[i] = stream->index;
        }
        AVStream* id3 = avformat_new_stream(out, nullptr);
        id3->codecpar->codec_type = AVMEDIA_TYPE_DATA;
        id3->codecpar->codec_id = AV_CODEC_ID_TIMED_ID3;
        id3->time_base = {1, 90000};
        id3Stream = id3->index;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "mpegts_copyts", "1", 0);
        if (avformat_write_header(out, &options) < 0) failure = "the MPEG-TS muxer refused a timed ID3 stream";
        av_dict_free(&options);
    }
    bool tagWritten = false;
    while (failure.empty() && av_read_frame(in, packet) >= 0) {
        const int to = streams[static_cast<std::size_t>(packet->stream_index)];
        if (to < 0) {
            av_packet_unref(packet);
            continue;
        }
        const AVRational from = in->streams[packet->stream_index]->time_base;
        if (!tagWritten) {
            AVPacket* tagPacket = av_packet_alloc();
            av_new_packet(tagPacket, static_cast<int>(tag.size()));
            std::memcpy(tagPacket->data, tag.data(), tag.size());
            tagPacket->stream_index = id3Stream;
            tagPacket->pts = tagPacket->dts =
                av_rescale_q(packet->pts, from, out->streams[id3Stream]->time_base);
            if (av_interleaved_write_frame(out, tagPacket) < 0) failure = "the timed ID3 packet was refused";
            av_packet_free(&tagPacket);
            tagWritten = true;
        }
        av_packet_rescale_ts(packet, from, out->streams[to]->time_base);
        packet->stream_index = to;
        packet->pos = -1;
        if (av_interleaved_write_frame(out, packet) < 0) failure = "a sound packet was refused";
    }
    if (failure.empty() && av_write_trailer(out) < 0) failure = "the MPEG-TS muxer could not finish";
    cleanUp();
    if (!failure.empty()) throw std::runtime_error(failure);
    return result;
}

}  // namespace

std::map<std::string, std::string> EncodeHlsSongs(const std::string& codec,
                                                  const std::vector<std::string>& songs,
                                                  int segmentSeconds, bool packed)
{
    if (codec != "aac" && !(codec == "mp3" && packed))
        throw std::invalid_argument("HLS songs are AAC, or packed MP3, not " + codec);
    std::map<std::string, std::string> files;
    std::string list = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(segmentSeconds) +
                       "\n#EXT-X-MEDIA-SEQUENCE:0\n";
    if (packed) {
        for (std::size_t i = 0; i < songs.size(); ++i) {
            std::vector<std::string> options = SongOptions(songs[i]);
            if (codec == "aac")
                options.insert(options.end(), {"-write_id3v2", "1"});
            else
                options.insert(options.end(), {"-id3v2_version", "3"});
            const std::string name = "seg" + std::to_string(i) + "." + codec;
            files[name] = Encode(codec, ToneSource(500 * static_cast<int>(i + 1), 44100, 2, segmentSeconds),
                                 2, 128, options);
            list += "#EXTINF:" + std::to_string(segmentSeconds) + ".0,\n" + name + "\n";
        }
        files["list.m3u8"] = list + "#EXT-X-ENDLIST\n";
        return files;
    }
    // One encode for the whole station, the tone rising a step at every
    // segment's start, so that the segments join as they would live.
    const std::string wave = "sin(2*PI*500*(1+floor(t/" + std::to_string(segmentSeconds) + "))*t)";
    const std::string source = "aevalsrc=" + wave + "|" + wave + ":s=44100:c=stereo:d=" +
                               std::to_string(segmentSeconds * static_cast<int>(songs.size()));
    TempFolder folder;
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin",
                                     "-f", "lavfi", "-i", source, "-ac", "2", "-c:a", "aac", "-b:a", "128k",
                                     "-f", "hls", "-hls_time", std::to_string(segmentSeconds),
                                     "-hls_list_size", "0", "-hls_segment_filename",
                                     (folder.Path() / "seg%d.ts").string(),
                                     (folder.Path() / "list.m3u8").string()};
    if (RunFfmpeg(args, folder.Path() / "ffmpeg.log") != 0)
        throw std::runtime_error("`" + Quoted(args) + "` failed: " + ReadFile(folder.Path() / "ffmpeg.log"));
    for (std::size_t i = 0; i < songs.size(); ++i) {
        const std::string name = "seg" + std::to_string(i) + ".ts";
        const std::string segment = ReadFile(folder.Path() / name);
        if (segment.empty()) throw std::runtime_error("ffmpeg made no " + name);
        files[name] = WithTimedId3(segment, Id3Tag(songs[i]));
    }
    // A last scrap of a segment, if ffmpeg cut one, goes as it is.
    for (std::size_t i = songs.size();; ++i) {
        const std::string name = "seg" + std::to_string(i) + ".ts";
        if (!fs::exists(folder.Path() / name)) break;
        files[name] = ReadFile(folder.Path() / name);
    }
    files["list.m3u8"] = ReadFile(folder.Path() / "list.m3u8");
    return files;
}

std::vector<std::int16_t> DecodeToPcm(const std::string& encoded, int sampleRate, int channels)
{
    TempFolder folder;
    const fs::path input = folder.Path() / "input.bin";
    const fs::path output = folder.Path() / "output.raw";
    std::ofstream(input, std::ios::binary)
        .write(encoded.data(), static_cast<std::streamsize>(encoded.size()));
    const std::vector<std::string> args = {"ffmpeg",
                                           "-hide_banner",
                                           "-loglevel",
                                           "error",
                                           "-nostdin",
                                           "-i",
                                           input.string(),
                                           "-f",
                                           "s16le",
                                           "-ac",
                                           std::to_string(channels),
                                           "-ar",
                                           std::to_string(sampleRate),
                                           "-y",
                                           output.string()};
    const int status = RunFfmpeg(args, folder.Path() / "ffmpeg.log");
    const std::string bytes = ReadFile(output);
    if (status != 0) {
        throw std::runtime_error("`" + Quoted(args) + "` failed (status " + std::to_string(status) +
                                 "): " + ReadFile(folder.Path() / "ffmpeg.log"));
    }
    std::vector<std::int16_t> samples(bytes.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

}  // namespace kit
