#include "private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// How the Windows rules are read here, where the header leaves room:
//
// - Names match in ASCII case only; the program's section and key names are
//   ASCII.
// - A line is a section header when its first non-blank character is '[' and
//   a ']' follows; the name is what lies between them, without blanks, and the
//   rest of the line is ignored. A key line is any other line with an '=' that
//   is not a comment. Lines that are neither are kept and otherwise ignored.
// - Only the first section of a name counts, and in it the first line of a
//   key: reads take it, writes replace or delete it, later copies stay as they
//   are.
// - A UTF-8 byte-order mark at the start of the file belongs to no line. The
//   Windows call would read it as part of the first line and so lose the first
//   section of a file that an editor saved as UTF-8; here the section is found
//   and the mark is kept on writing.
// - A null key or section in a read gives the default (the Windows call lists
//   names then, which the program never asks for). A null value in a write
//   deletes the key's line, a null key the whole section.
// - A value is one line: anything from a line break on is not written.

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineBreak = "\r\n";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\''))
        return value.substr(1, value.size() - 2);
    return value;
}

// One line of a profile file, as offsets into its text: [begin, textEnd) is
// the line without its break, [textEnd, end) the break ("\r\n", "\n" or
// nothing at the end of the file).
struct Line {
    enum class Kind { Blank, Comment, Section, Key, Other };

    std::size_t begin = 0;
    std::size_t textEnd = 0;
    std::size_t end = 0;
    Kind kind = Kind::Other;
    std::string_view name;   // of a section or a key
    std::string_view value;  // of a key, without blanks, quotes still on

    bool EndsWithBreak() const { return end > textEnd; }
};

Line ClassifyLine(std::string_view text)
{
    Line line;
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty()) {
        line.kind = Line::Kind::Blank;
    } else if (trimmed.front() == ';') {
        line.kind = Line::Kind::Comment;
    } else if (const auto close = trimmed.find(']');
               trimmed.front() == '[' && close != std::string_view::npos) {
        line.kind = Line::Kind::Section;
        line.name = Trim(trimmed.substr(1, close - 1));
    } else if (const auto equals = trimmed.find('='); equals != std::string_view::npos) {
        line.kind = Line::Kind::Key;
        line.name = Trim(trimmed.substr(0, equals));
        line.value = Trim(trimmed.substr(equals + 1));
    }
    return line;
}

// A profile file split into lines. The views point into the text it was made
// from, which must outlive it.
class Profile {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    explicit Profile(std::string_view text) : text_(text)
    {
        std::size_t begin = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
        bodyBegin_ = begin;
        while (begin < text.size()) {
            const std::size_t newline = text.find('\n', begin);
            std::size_t textEnd = newline == std::string_view::npos ? text.size() : newline;
            const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
            if (newline != std::string_view::npos && textEnd > begin && text[textEnd - 1] == '\r')
                --textEnd;
            Line line = ClassifyLine(text.substr(begin, textEnd - begin));
            line.begin = begin;
            line.textEnd = textEnd;
            line.end = end;
            lines_.push_back(line);
            begin = end;
        }
    }

    const Line& operator[](std::size_t index) const { return lines_[index]; }

    std::size_t FindSection(std::string_view name) const
    {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind == Line::Kind::Section && SameName(lines_[i].name, name))
                return i;
        }
        return kNone;
    }

    // The index one past the last line of the section whose header is at
    // index header.
    std::size_t SectionEnd(std::size_t header) const
    {
        std::size_t i = header + 1;
        while (i < lines_.size() && lines_[i].kind != Line::Kind::Section)
            ++i;
        return i;
    }

    std::size_t FindKey(std::size_t header, std::string_view name) const
    {
        for (std::size_t i = header + 1; i < SectionEnd(header); ++i) {
            if (lines_[i].kind == Line::Kind::Key && SameName(lines_[i].name, name))
                return i;
        }
        return kNone;
    }

    // The line after which a new key of the section goes: its last line that
    // says something, so that blank lines and comments before the next
    // section stay with that section.
    std::size_t LastContentLine(std::size_t header) const
    {
        std::size_t last = header;
        for (std::size_t i = header + 1; i < SectionEnd(header); ++i) {
            if (lines_[i].kind == Line::Kind::Key || lines_[i].kind == Line::Kind::Other)
                last = i;
        }
        return last;
    }

    // The offset where the section starting at header ends.
    std::size_t SectionEndOffset(std::size_t header) const
    {
        const std::size_t next = SectionEnd(header);
        return next < lines_.size() ? lines_[next].begin : text_.size();
    }

    bool EndsWithBreak() const
    {
        return text_.size() == bodyBegin_ || text_.back() == '\n';
    }

private:
    std::string_view text_;
    std::size_t bodyBegin_ = 0;
    std::vector<Line> lines_;
};

// The text with [from, to) replaced by insert.
std::string Spliced(std::string_view text, std::size_t from, std::size_t to,
                    std::string_view insert)
{
    std::string result;
    result.reserve(text.size() - (to - from) + insert.size());
    result.append(text.substr(0, from));
    result.append(insert);
    result.append(text.substr(to));
    return result;
}

// The file's text after the write; the same text when nothing changes.
std::string EditedProfile(std::string_view text, std::string_view section, const char* key,
                          const char* value)
{
    const Profile profile(text);
    const std::size_t header = profile.FindSection(section);
    if (key == nullptr) {
        if (header == Profile::kNone)
            return std::string(text);
        return Spliced(text, profile[header].begin, profile.SectionEndOffset(header), "");
    }

    std::string_view newValue = value == nullptr ? "" : value;
    newValue = newValue.substr(0, newValue.find_first_of("\r\n"));
    if (header == Profile::kNone) {
        if (value == nullptr)
            return std::string(text);
        std::string result(text);
        if (!profile.EndsWithBreak())
            result += kLineBreak;
        result.append("[").append(section).append("]").append(kLineBreak);
        result.append(key).append("=").append(newValue).append(kLineBreak);
        return result;
    }

    const std::size_t found = profile.FindKey(header, key);
    if (found != Profile::kNone) {
        const Line& line = profile[found];
        if (value == nullptr)
            return Spliced(text, line.begin, line.end, "");
        std::string replacement(line.name);
        replacement.append("=").append(newValue);
        return Spliced(text, line.begin, line.textEnd, replacement);
    }
    if (value == nullptr)
        return std::string(text);

    const Line& anchor = profile[profile.LastContentLine(header)];
    std::string insert = anchor.EndsWithBreak() ? "" : std::string(kLineBreak);
    insert.append(key).append("=").append(newValue).append(kLineBreak);
    return Spliced(text, anchor.end, anchor.end, insert);
}

// The file name with '\' read as the folder separator.
std::string PathOf(const char* fileName)
{
    std::string path(fileName);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

enum class ReadResult { Read, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    text.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            close(fd);
            return count == 0 ? ReadResult::Read : ReadResult::Failed;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t count = write(fd, text.data(), text.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// The file a write goes to, and what it was before.
struct Target {
    std::string path;
    bool exists = false;
    struct stat status {};
    std::string text;
};

// Finds out whether the file may be written and reads it. A read-only file
// is refused whoever runs the program, as the Windows call refuses it, even
// though root could write it here.
bool InspectTarget(const std::string& path, Target& target)
{
    target.path = path;
    struct stat linkStatus {};
    if (lstat(path.c_str(), &linkStatus) == 0 && S_ISLNK(linkStatus.st_mode)) {
        // Write through a symbolic link rather than replacing the link.
        if (char* resolved = realpath(path.c_str(), nullptr)) {
            target.path = resolved;
            std::free(resolved);
        }
    }
    if (stat(target.path.c_str(), &target.status) != 0) {
        target.exists = false;
        return errno == ENOENT;
    }
    target.exists = true;
    if (!S_ISREG(target.status.st_mode))
        return false;
    if ((target.status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    if (access(target.path.c_str(), W_OK) != 0)
        return false;
    return ReadWholeFile(target.path, target.text) == ReadResult::Read;
}

// Creates an empty temporary file beside path; its name in temporaryPath.
int CreateTemporaryFile(const std::string& path, std::string& temporaryPath)
{
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryPath = folder;
        if (slash == std::string::npos)
            temporaryPath += '/';
        temporaryPath += "." + base + "." + std::to_string(getpid()) + "." +
                         std::to_string(counter.fetch_add(1)) + ".tmp";
        // 0666 lets the umask decide the mode of a new file, as for any other.
        const int fd = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void SyncFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Writes text to a temporary file, makes sure it is on the disk, and renames
// it over the target; on any failure the target is as it was and the
// temporary file is gone.
bool ReplaceFile(const Target& target, std::string_view text)
{
    std::string temporaryPath;
    const int fd = CreateTemporaryFile(target.path, temporaryPath);
    if (fd < 0)
        return false;
    bool written = true;
    if (target.exists) {
        written = fchmod(fd, target.status.st_mode & 07777) == 0;
        // The owner is kept when we may change it (as root); otherwise the
        // file becomes ours, as a copy would.
        if (fchown(fd, target.status.st_uid, target.status.st_gid) != 0) {
        }
    }
    written = written && WriteAll(fd, text) && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || rename(temporaryPath.c_str(), target.path.c_str()) != 0) {
        unlink(temporaryPath.c_str());
        return false;
    }
    SyncFolderOf(target.path);
    return true;
}

// Writes of the program's threads to one file must not undo each other.
std::mutex writeLock;

}  // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* out, DWORD size, const char* fileName)
{
    if (out == nullptr || size == 0)
        return 0;
    std::string_view result = defaultValue == nullptr ? "" : defaultValue;
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t'))
        result.remove_suffix(1);

    std::string text;
    if (section != nullptr && key != nullptr && fileName != nullptr &&
        ReadWholeFile(PathOf(fileName), text) == ReadResult::Read) {
        const Profile profile(text);
        const std::size_t header = profile.FindSection(section);
        const std::size_t found =
            header == Profile::kNone ? Profile::kNone : profile.FindKey(header, key);
        if (found != Profile::kNone)
            result = Unquote(profile[found].value);
    }

    const std::size_t count = std::min<std::size_t>(result.size(), size - 1);
    std::memcpy(out, result.data(), count);
    out[count] = '\0';
    return static_cast<DWORD>(count);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName)
{
    if (fileName == nullptr)
        return 0;
    // All three null asks the Windows call to flush its cache; there is none.
    if (section == nullptr)
        return key == nullptr && value == nullptr;

    std::lock_guard guard(writeLock);
    Target target;
    if (!InspectTarget(PathOf(fileName), target))
        return 0;
    const std::string edited = EditedProfile(target.text, section, key, value);
    if (target.exists ? edited == target.text : edited.empty())
        return 1;
    return ReplaceFile(target, edited) ? 1 : 0;
}
