// The header lines of one HTTP or ICY response, kept exactly as received,
// with lookups that follow what servers really send (names in any case,
// values with or without a blank after the colon).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonivex {

class HttpHeaders {
public:
    // Starts a new response with its status line ("ICY 200 OK",
    // "HTTP/1.1 302 Found"); a redirect or a 100 Continue starts another.
    void Begin(std::string statusLine);
    // Adds one header line without its line break. Lines without ':' are
    // kept in the block but never match a lookup.
    void Add(std::string line);

    const std::string& StatusLine() const { return status_; }
    bool IsIcy() const;
    // The status code of the status line, 0 when it has none.
    int StatusCode() const;

    // The value of the first header with this name (case-insensitive),
    // without the blanks around it.
    std::optional<std::string> Find(std::string_view name) const;

    // The block the tag query returns: each line followed by a zero, the
    // whole ended by an empty line. withStatus puts the status line first.
    std::string TagBlock(bool withStatus) const;

    // The stream's bit rate in kbps from "icy-br" or "ice-audio-info"
    // ("ice-bitrate=128;..."), 0 when neither gives one.
    int BitrateKbps() const;

private:
    std::string status_;
    std::vector<std::string> lines_;
};

}  // namespace sonivex
