#include "icy_demux.h"

#include <algorithm>
#include <charconv>

namespace sonivex {

void IcyDemux::Reset(std::size_t metaint)
{
    metaint_ = metaint;
    state_ = State::Audio;
    audioLeft_ = metaint;
    textLeft_ = 0;
    text_.clear();
}

std::size_t IcyDemux::ParseMetaint(std::string_view value)
{
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    std::size_t metaint = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), metaint);
    if (error != std::errc() || end != value.data() + value.size()) return 0;
    // Real servers use 8192 to 32768; anything past 16 MiB is not a metaint.
    return metaint <= (std::size_t{1} << 24) ? metaint : 0;
}

void IcyDemux::Feed(const std::uint8_t* data, std::size_t size, const AudioSink& audio,
                    const MetaSink& meta)
{
    if (metaint_ == 0) {
        if (size > 0) audio(data, size);
        return;
    }
    while (size > 0) {
        switch (state_) {
            case State::Audio: {
                const std::size_t run = std::min(size, audioLeft_);
                audio(data, run);
                data += run;
                size -= run;
                audioLeft_ -= run;
                if (audioLeft_ == 0) state_ = State::Length;
                break;
            }
            case State::Length:
                textLeft_ = std::size_t{*data} * 16;  // at most 255 x 16 = 4080
                ++data;
                --size;
                text_.clear();
                if (textLeft_ == 0) {
                    state_ = State::Audio;
                    audioLeft_ = metaint_;
                } else {
                    state_ = State::Text;
                }
                break;
            case State::Text: {
                const std::size_t run = std::min(size, textLeft_);
                text_.append(reinterpret_cast<const char*>(data), run);
                data += run;
                size -= run;
                textLeft_ -= run;
                if (textLeft_ == 0) {
                    const std::size_t zero = text_.find('\0');
                    const std::string_view content(text_.data(),
                                                   zero == std::string::npos ? text_.size() : zero);
                    if (!content.empty()) meta(content);
                    state_ = State::Audio;
                    audioLeft_ = metaint_;
                }
                break;
            }
        }
    }
}

}  // namespace sonivex
