#include "http_headers.h"

#include <cctype>
#include <charconv>

namespace sonivex {

namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int ParseKbps(std::string_view text)
{
    text = Trim(text);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // "128", also "128,128" (a list of rates some servers send): the first.
    if (error != std::errc() || end == text.data()) return 0;
    return value > 0 && value <= 10000 ? value : 0;
}

}  // namespace

void HttpHeaders::Begin(std::string statusLine)
{
    status_ = std::move(statusLine);
    lines_.clear();
}

void HttpHeaders::Add(std::string line)
{
    lines_.push_back(std::move(line));
}

bool HttpHeaders::IsIcy() const
{
    return status_.compare(0, 4, "ICY ") == 0;
}

int HttpHeaders::StatusCode() const
{
    const std::size_t blank = status_.find(' ');
    if (blank == std::string::npos) return 0;
    std::string_view rest = std::string_view(status_).substr(blank + 1);
    int code = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), code);
    return error == std::errc() && end != rest.data() ? code : 0;
}

std::optional<std::string> HttpHeaders::Find(std::string_view name) const
{
    for (const std::string& line : lines_) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (SameName(Trim(std::string_view(line).substr(0, colon)), name))
            return std::string(Trim(std::string_view(line).substr(colon + 1)));
    }
    return std::nullopt;
}

std::string HttpHeaders::TagBlock(bool withStatus) const
{
    std::string block;
    if (withStatus) {
        block += status_;
        block += '\0';
    }
    for (const std::string& line : lines_) {
        block += line;
        block += '\0';
    }
    block += '\0';
    return block;
}

int HttpHeaders::BitrateKbps() const
{
    if (const auto br = Find("icy-br")) {
        if (const int kbps = ParseKbps(*br)) return kbps;
    }
    if (const auto info = Find("ice-audio-info")) {
        // "ice-samplerate=44100;ice-bitrate=128;ice-channels=2"
        std::string_view rest(*info);
        while (!rest.empty()) {
            const std::size_t semicolon = rest.find(';');
            std::string_view field = Trim(rest.substr(0, semicolon));
            const std::size_t equals = field.find('=');
            if (equals != std::string_view::npos &&
                (SameName(Trim(field.substr(0, equals)), "ice-bitrate") ||
                 SameName(Trim(field.substr(0, equals)), "bitrate")))
                if (const int kbps = ParseKbps(field.substr(equals + 1))) return kbps;
            if (semicolon == std::string_view::npos) break;
            rest.remove_prefix(semicolon + 1);
        }
    }
    return 0;
}

}  // namespace sonivex
