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
#include <optional>
#include <string>
#include <string_view>

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
// - A line ends at CR LF, at LF or at CR alone, as editors on any system
//   leave them; a write keeps every other line's break as it was, and ends
//   the lines it adds with CR LF.
// - Only a regular file is a settings file. Anything else of the name (a
//   folder, a FIFO, a device, or a link to one) reads as missing without
//   being waited on or read, and is never replaced.
// - Only the first kProfileReadLimit bytes count, and of those only whole
//   lines. A write to a longer file changes that part and copies the rest
//   unchanged; what it could only put past that part (a new section), where
//   no read would find it, it refuses rather than add it out of sight.

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
// the line without its break, [textEnd, end) the break ("\r\n", "\n", "\r"
// or nothing at the end of the file).
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

// A profile file's text, split into lines as it is walked: nothing is kept
// per line, so a file of many short lines costs no more than its text. The
// views point into the text it was made from, which must outlive it.
class Profile {
public:
    explicit Profile(std::string_view text)
        : text_(text), bodyBegin_(text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0)
    {
    }

    // The first line, or none in a file without any.
    std::optional<Line> First() const { return LineAt(bodyBegin_); }
    // The line after line, or none after the last.
    std::optional<Line> Next(const Line& line) const { return LineAt(line.end); }

    std::optional<Line> FindSection(std::string_view name) const
    {
        for (std::optional<Line> line = First(); line; line = Next(*line)) {
            if (line->kind == Line::Kind::Section && SameName(line->name, name)) return line;
        }
        return std::nullopt;
    }

    std::optional<Line> FindKey(const Line& header, std::string_view name) const
    {
        for (std::optional<Line> line = Next(header); line && !IsSection(*line);
             line = Next(*line)) {
            if (line->kind == Line::Kind::Key && SameName(line->name, name)) return line;
        }
        return std::nullopt;
    }

    // The line after which a new key of the section goes: its last line that
    // says something, so that blank lines and comments before the next
    // section stay with that section.
    Line LastContentLine(const Line& header) const
    {
        Line last = header;
        for (std::optional<Line> line = Next(header); line && !IsSection(*line);
             line = Next(*line)) {
            if (line->kind == Line::Kind::Key || line->kind == Line::Kind::Other) last = *line;
        }
        return last;
    }

    // The next section's header after header, or none when the section runs
    // to the end of the text.
    std::optional<Line> NextSection(const Line& header) const
    {
        std::optional<Line> line = Next(header);
        while (line && !IsSection(*line))
            line = Next(*line);
        return line;
    }

    bool EndsWithBreak() const
    {
        return text_.size() == bodyBegin_ || text_.back() == '\n' || text_.back() == '\r';
    }

private:
    static bool IsSection(const Line& line) { return line.kind == Line::Kind::Section; }

    std::optional<Line> LineAt(std::size_t begin) const
    {
        if (begin >= text_.size()) return std::nullopt;
        const std::size_t textEnd = std::min(text_.find_first_of("\r\n", begin), text_.size());
        std::size_t end = textEnd;
        if (end < text_.size()) end += text_.compare(end, 2, kLineBreak) == 0 ? 2 : 1;
        Line line = ClassifyLine(text_.substr(begin, textEnd - begin));
        line.begin = begin;
        line.textEnd = textEnd;
        line.end = end;
        return line;
    }

    std::string_view text_;
    std::size_t bodyBegin_;
};

// A write's change to a file's text: the bytes [from, to) become insert. The
// default changes nothing.
struct Edit {
    std::size_t from = 0;
    std::size_t to = 0;
    std::string insert;
};

// What a write changes in the text. The text is whole when it is all of the
// file, else only its first part counts, and an edit that would land past it
// is refused (none).
std::optional<Edit> EditFor(std::string_view text, bool whole, std::string_view section,
                            const char* key, const char* value)
{
    const Profile profile(text);
    const std::optional<Line> header = profile.FindSection(section);
    if (key == nullptr) {
        if (!header) return Edit{};
        const std::optional<Line> next = profile.NextSection(*header);
        if (!next && !whole) return std::nullopt;  // the section's end lies past the text
        return Edit{header->begin, next ? next->begin : text.size(), ""};
    }

    std::string_view newValue = value == nullptr ? "" : value;
    newValue = newValue.substr(0, newValue.find_first_of("\r\n"));
    if (!header) {
        if (value == nullptr) return Edit{};
        if (!whole) return std::nullopt;
        std::string insert = profile.EndsWithBreak() ? "" : std::string(kLineBreak);
        insert.append("[").append(section).append("]").append(kLineBreak);
        insert.append(key).append("=").append(newValue).append(kLineBreak);
        return Edit{text.size(), text.size(), std::move(insert)};
    }

    if (const std::optional<Line> found = profile.FindKey(*header, key)) {
        if (value == nullptr) return Edit{found->begin, found->end, ""};
        std::string replacement(found->name);
        replacement.append("=").append(newValue);
        return Edit{found->begin, found->textEnd, std::move(replacement)};
    }
    if (value == nullptr) return Edit{};

    const Line anchor = profile.LastContentLine(*header);
    std::string insert = anchor.EndsWithBreak() ? "" : std::string(kLineBreak);
    insert.append(key).append("=").append(newValue).append(kLineBreak);
    return Edit{anchor.end, anchor.end, std::move(insert)};
}

// The file name with '\' read as the folder separator.
std::string PathOf(const char* fileName)
{
    std::string path(fileName);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t count = write(fd, text.data(), text.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// An open settings file and the part of it that counts.
class ProfileFile {
public:
    enum class Result { Read, Missing, NotRegular, Failed };

    ProfileFile() = default;
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;
    ~ProfileFile()
    {
        if (fd_ >= 0) close(fd_);
    }

    // Opens path and reads its first kProfileReadLimit bytes. Nothing but a
    // regular file is opened for long or read: a FIFO would wait for a
    // writer, a device may never end.
    Result Open(const std::string& path)
    {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0)
            return errno == ENOENT ? Result::Missing : Result::Failed;
        if (!S_ISREG(status.st_mode)) return Result::NotRegular;
        // Not waiting, in case something else took the name meanwhile.
        fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return errno == ENOENT ? Result::Missing : Result::Failed;
        if (fstat(fd_, &status_) != 0) return Result::Failed;
        if (!S_ISREG(status_.st_mode)) return Result::NotRegular;

        // One byte past the limit tells whether the file goes on.
        const std::size_t wanted = kProfileReadLimit + 1;
        const auto size = static_cast<std::size_t>(std::max<off_t>(status_.st_size, 0));
        text_.reserve(std::min(size, wanted));
        char buffer[16384];
        while (text_.size() < wanted) {
            const std::size_t most = std::min(sizeof buffer, wanted - text_.size());
            const ssize_t count = read(fd_, buffer, most);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) return Result::Failed;
            if (count == 0) break;
            text_.append(buffer, static_cast<std::size_t>(count));
        }
        whole_ = text_.size() <= kProfileReadLimit;
        if (!whole_) text_.resize(kProfileReadLimit);
        return Result::Read;
    }

    const struct stat& Status() const { return status_; }
    // The bytes read: the whole file, or its first kProfileReadLimit bytes.
    const std::string& Text() const { return text_; }
    bool Whole() const { return whole_; }

    // The part of the text that counts: all of it in a whole file, else its
    // whole lines. A CR at the very end of what was read may be the first
    // half of a CR LF, so its line is not known to be whole.
    std::string_view Counted() const
    {
        const std::string_view text = text_;
        if (whole_ || text.ends_with('\n')) return text;
        if (text.size() < 2) return {};
        const std::size_t lastBreak = text.find_last_of("\r\n", text.size() - 2);
        return lastBreak == std::string_view::npos ? std::string_view()
                                                   : text.substr(0, lastBreak + 1);
    }

    // Copies what follows the text read, to the end of the file, to fd.
    bool CopyRestTo(int fd) const
    {
        auto offset = static_cast<off_t>(text_.size());
        char buffer[65536];
        for (;;) {
            const ssize_t count = pread(fd_, buffer, sizeof buffer, offset);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) return false;
            if (count == 0) return true;
            if (!WriteAll(fd, std::string_view(buffer, static_cast<std::size_t>(count))))
                return false;
            offset += count;
        }
    }

private:
    int fd_ = -1;
    struct stat status_ {};
    std::string text_;
    bool whole_ = true;
};

// The file a write goes to, and what it was before.
struct Target {
    std::string path;
    bool exists = false;
    ProfileFile file;
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
    switch (target.file.Open(target.path)) {
        case ProfileFile::Result::Missing:
            return true;
        case ProfileFile::Result::NotRegular:
        case ProfileFile::Result::Failed:
            return false;
        case ProfileFile::Result::Read:
            break;
    }
    target.exists = true;
    const mode_t mode = target.file.Status().st_mode;
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && access(target.path.c_str(), W_OK) == 0;
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
        if (slash == std::string::npos) temporaryPath += '/';
        temporaryPath += "." + base + "." + std::to_string(getpid()) + "." +
                         std::to_string(counter.fetch_add(1)) + ".tmp";
        // 0666 lets the umask decide the mode of a new file, as for any other.
        const int fd = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
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

// Writes the target's text with the edit made, and the rest of a file longer
// than the text, to a temporary file, makes sure it is on the disk, and
// renames it over the target; on any failure the target is as it was and
// the temporary file is gone.
bool ReplaceFile(const Target& target, const Edit& edit)
{
    std::string temporaryPath;
    const int fd = CreateTemporaryFile(target.path, temporaryPath);
    if (fd < 0) return false;
    bool written = true;
    if (target.exists) {
        const struct stat& status = target.file.Status();
        written = fchmod(fd, status.st_mode & 07777) == 0;
        // The owner is kept when we may change it (as root); otherwise the
        // file becomes ours, as a copy would.
        if (fchown(fd, status.st_uid, status.st_gid) != 0) {
        }
    }
    const std::string_view text = target.file.Text();
    written = written && WriteAll(fd, text.substr(0, edit.from)) && WriteAll(fd, edit.insert) &&
              WriteAll(fd, text.substr(edit.to)) &&
              (target.file.Whole() || target.file.CopyRestTo(fd)) && fsync(fd) == 0;
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
    if (out == nullptr || size == 0) return 0;
    std::string_view result = defaultValue == nullptr ? "" : defaultValue;
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t'))
        result.remove_suffix(1);

    ProfileFile file;
    if (section != nullptr && key != nullptr && fileName != nullptr &&
        file.Open(PathOf(fileName)) == ProfileFile::Result::Read) {
        const Profile profile(file.Counted());
        const std::optional<Line> header = profile.FindSection(section);
        const std::optional<Line> found = header ? profile.FindKey(*header, key) : std::nullopt;
        if (found) result = Unquote(found->value);
    }

    const std::size_t count = std::min<std::size_t>(result.size(), size - 1);
    std::memcpy(out, result.data(), count);
    out[count] = '\0';
    return static_cast<DWORD>(count);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName)
{
    if (fileName == nullptr) return 0;
    // All three null asks the Windows call to flush its cache; there is none.
    if (section == nullptr) return key == nullptr && value == nullptr;

    std::lock_guard guard(writeLock);
    Target target;
    if (!InspectTarget(PathOf(fileName), target)) return 0;
    const std::string_view text = target.file.Text();
    const std::optional<Edit> edit =
        EditFor(target.file.Counted(), target.file.Whole(), section, key, value);
    if (!edit) return 0;
    // Nothing changes, and a missing file is not made for nothing.
    if (text.substr(edit->from, edit->to - edit->from) == edit->insert) return 1;
    return ReplaceFile(target, *edit) ? 1 : 0;
}

bool ProfileFileIsNotRegular(const char* fileName)
{
    struct stat status {};
    return fileName != nullptr && stat(PathOf(fileName).c_str(), &status) == 0 &&
           !S_ISREG(status.st_mode);
}
