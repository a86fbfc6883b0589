// Separates the in-band metadata of an ICY stream from its audio.
//
// A server that was asked for metadata ("Icy-MetaData: 1") and answered
// "icy-metaint: N" inserts a block after every N audio bytes: a length byte
// L, then 16 x L bytes of text padded with zeros. The boundary, the length
// byte and the text can fall anywhere within the reads, so the demuxer
// carries its state from one Feed to the next. Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sonivex {

class IcyDemux {
public:
    using AudioSink = std::function<void(const std::uint8_t* data, std::size_t size)>;
    // Receives each block with content, up to its first zero byte.
    using MetaSink = std::function<void(std::string_view text)>;

    // metaint 0 passes everything through as audio.
    void Reset(std::size_t metaint);
    void Feed(const std::uint8_t* data, std::size_t size, const AudioSink& audio,
              const MetaSink& meta);

    // The metaint of an "icy-metaint" header value: a positive decimal
    // number, else 0 (absent, 0, negative, not a number, absurdly large).
    static std::size_t ParseMetaint(std::string_view value);

private:
    enum class State { Audio, Length, Text };
    std::size_t metaint_ = 0;
    State state_ = State::Audio;
    std::size_t audioLeft_ = 0;
    std::size_t textLeft_ = 0;
    std::string text_;
};

}  // namespace sonivex
