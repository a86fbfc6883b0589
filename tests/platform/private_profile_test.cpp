// The settings file: reads, writes that leave the rest of the file as it was,
// and files that cannot be written.
#include "private_profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

void Put(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Read(const char* section, const char* key, const char* fileName = ".\\test.ini")
{
    char out[256];
    const DWORD count = GetPrivateProfileStringA(section, key, "<default>", out, sizeof out, fileName);
    EXPECT_EQ(count, std::strlen(out));
    return out;
}

BOOL Write(const char* section, const char* key, const std::string& value,
           const std::string& fileName = ".\\test.ini")
{
    return WritePrivateProfileStringA(section, key, value.c_str(), fileName.c_str());
}

std::set<std::string> Names(const fs::path& folder = ".")
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// Each test works in a fresh folder of its own, which is the current folder
// meanwhile, as the program's is.
class ProfileTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/ondalux_profile_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        previous_ = fs::current_path();
        fs::current_path(folder_);
    }

    void TearDown() override
    {
        if (folder_.empty())
            return;
        fs::current_path(previous_);
        std::error_code error;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, error);
        for (const auto& entry : fs::recursive_directory_iterator(folder_, error))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(folder_, error);
    }

private:
    fs::path folder_;
    fs::path previous_;
};

TEST_F(ProfileTest, ReadsValuesByNamesInAnyCase)
{
    const std::vector<std::string> lines = {
        "; Ondalux settings",
        "[Radio]",
        ";Hidden=yes",
        "  Station = http://host/live?a=1&b=2 ",
        "Volume=\t75\t",
        "Empty=",
        "Quoted=\" padded \"",
        "[Other]",
        "Only=other",
        "Station=second",
    };
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"Radio", "Station", "http://host/live?a=1&b=2"},
        {"RADIO", "station", "http://host/live?a=1&b=2"},
        {"radio", "VOLUME", "75"},
        {"Radio", "Empty", ""},
        {"Radio", "Quoted", " padded "},
        {"Other", "Station", "second"},
        {"Radio", "Only", "<default>"},  // lives in another section
        {"Radio", ";Hidden", "<default>"},
        {"Radio", "Hidden", "<default>"},
        {"Missing", "Station", "<default>"},
        {"Radio", "Missing", "<default>"},
    };
    // CR LF and CR alone with a break after the last line, LF without one.
    for (const std::string lineEnd : {"\r\n", "\n", "\r"}) {
        std::string text;
        for (const std::string& line : lines)
            text += (text.empty() ? "" : lineEnd) + line;
        Put("test.ini", lineEnd == "\n" ? text : text + lineEnd);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << testing::PrintToString(lineEnd) << " " << c.section
                                            << "/" << c.key);
            EXPECT_EQ(Read(c.section, c.key), c.value);
        }
    }
    EXPECT_EQ(Read("Radio", "Station", ".\\missing.ini"), "<default>");
}

TEST_F(ProfileTest, ReadsAtMostTheBufferAndCountsTheBytes)
{
    Put("test.ini", "[Radio]\r\nName=abcdef\r\n");
    struct Case {
        const char* key;
        DWORD size;
        const char* text;
    };
    for (const Case c : {Case{"Name", 16, "abcdef"}, Case{"Name", 7, "abcdef"}, Case{"Name", 4, "abc"},
                         Case{"Name", 1, ""}, Case{"Missing", 5, "defa"}}) {
        SCOPED_TRACE(testing::Message() << c.key << " in " << c.size);
        char out[17];
        std::memset(out, 'X', sizeof out);
        const DWORD count = GetPrivateProfileStringA("Radio", c.key, "default", out, c.size, "test.ini");
        EXPECT_EQ(std::string(out, strnlen(out, c.size)), c.text);
        EXPECT_EQ(count, std::strlen(c.text));
        EXPECT_EQ(out[c.size], 'X');  // nothing past the buffer
    }
}

TEST_F(ProfileTest, AWriteChangesOnlyItsKey)
{
    struct Case {
        const char* name;
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    };
    const Case cases[] = {
        {"replaced where it stands, in the line's own spelling",
         "; Ondalux\r\n[Radio]\r\nStation=old\r\n; note\r\nVolume=5\r\n\r\n[Other]\nStation=keep\n",
         "radio", "STATION", "new",
         "; Ondalux\r\n[Radio]\r\nStation=new\r\n; note\r\nVolume=5\r\n\r\n[Other]\nStation=keep\n"},
        {"LF kept", "[Radio]\nA=1\nB=2\n", "Radio", "A", "9", "[Radio]\nA=9\nB=2\n"},
        {"CR kept", "[Radio]\rA=1\rB=2\r[Other]\rA=3\r", "Radio", "A", "9",
         "[Radio]\rA=9\rB=2\r[Other]\rA=3\r"},
        {"added after a line ended by CR", "[Radio]\rA=1\r\r[Other]\rX=1", "Radio", "B", "2",
         "[Radio]\rA=1\rB=2\r\n\r[Other]\rX=1"},
        {"added at the end of its section", "[Radio]\r\nStation=a\r\n\r\n[Other]\r\nX=1\r\n", "Radio",
         "Volume", "7", "[Radio]\r\nStation=a\r\nVolume=7\r\n\r\n[Other]\r\nX=1\r\n"},
        {"added after a last line without a break", "[Radio]\r\nStation=a", "Radio", "Volume", "7",
         "[Radio]\r\nStation=a\r\nVolume=7\r\n"},
        {"section created", "[Radio]\r\nA=1\r\n", "Other", "B", "2",
         "[Radio]\r\nA=1\r\n[Other]\r\nB=2\r\n"},
        {"windows-1251 bytes", "[Radio]\r\nName=x\r\n", "Radio", "Name", "\xCA\xE8\xED\xEE \xA8\xB8\xB9",
         "[Radio]\r\nName=\xCA\xE8\xED\xEE \xA8\xB8\xB9\r\n"},
        {"a value is one line", "[Radio]\r\n", "Radio", "Name", "one\r\n[Evil]\r\nTwo=2",
         "[Radio]\r\nName=one\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put("test.ini", c.before);
        EXPECT_TRUE(Write(c.section, c.key, c.value));
        EXPECT_EQ(Slurp("test.ini"), c.after);
        EXPECT_EQ(Read(c.section, c.key), std::string(c.value).substr(0, std::strcspn(c.value, "\r\n")));
    }
    EXPECT_EQ(Names(), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileTest, CreatesAMissingFileWhereItsNameSays)
{
    ASSERT_TRUE(Write("Ondalux", "LastStation", "http://a/", ".\\Ondalux.ini"));
    EXPECT_EQ(Slurp("Ondalux.ini"), "[Ondalux]\r\nLastStation=http://a/\r\n");
    EXPECT_EQ(Read("ondalux", "laststation", ".\\Ondalux.ini"), "http://a/");

    fs::create_directory("sub");
    ASSERT_TRUE(Write("S", "K", "V", ".\\sub\\nested.ini"));
    EXPECT_EQ(Slurp("sub/nested.ini"), "[S]\r\nK=V\r\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"Ondalux.ini", "sub"}));
    EXPECT_EQ(Names("sub"), std::set<std::string>{"nested.ini"});
}

TEST_F(ProfileTest, RepeatedWritesAlwaysLeaveAWholeFile)
{
    const std::string head = "; keep me\r\n[Radio]\r\nStation=a\r\n";
    Put("test.ini", head);
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions("test.ini", mode);

    // Two threads write keys of their own while this one keeps reading.
    std::atomic<int> failures{0};
    std::atomic<int> running{2};
    const auto writer = [&](const char* key) {
        for (int i = 0; i < 50; ++i) {
            if (!Write("Radio", key, std::to_string(i)))
                ++failures;
        }
        --running;
    };
    std::thread first(writer, "First");
    std::thread second(writer, "Second");
    int torn = 0;
    while (running > 0) {
        const std::string text = Slurp("test.ini");
        if (text.compare(0, head.size(), head) != 0 || !text.ends_with("\r\n"))
            ++torn;
    }
    first.join();
    second.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(Read("Radio", "First"), "49");  // neither thread's writes undid the other's
    EXPECT_EQ(Read("Radio", "Second"), "49");
    EXPECT_EQ(Read("Radio", "Station"), "a");
    EXPECT_EQ(fs::status("test.ini").permissions(), mode);
    EXPECT_EQ(Names(), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileTest, AFileThatCannotBeWrittenIsLeftAsItWas)
{
    const std::string text = "[Radio]\r\nStation=a\r\n";
    Put("readonly.ini", text);
    fs::permissions("readonly.ini",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Put("plain", "a file, not a folder");
    fs::create_directory("folder.ini");
    std::vector<std::string> unwritable = {".\\readonly.ini", "plain/test.ini", ".\\folder.ini"};
    std::set<std::string> names = {"readonly.ini", "plain", "folder.ini"};
    // Root writes into a read-only folder all the same.
    const bool locked = geteuid() != 0;
    if (locked) {
        fs::create_directory("locked");
        Put("locked/test.ini", text);
        fs::permissions("locked", fs::perms::owner_read | fs::perms::owner_exec);
        unwritable.push_back(".\\locked\\test.ini");
        names.insert("locked");
    }

    for (const std::string& fileName : unwritable) {
        SCOPED_TRACE(fileName);
        EXPECT_EQ(Write("Radio", "Station", "b", fileName), 0);
        EXPECT_EQ(Write("New", "Key", "b", fileName), 0);
    }
    EXPECT_EQ(Slurp("readonly.ini"), text);
    EXPECT_EQ(Slurp("plain"), "a file, not a folder");
    EXPECT_TRUE(fs::is_directory("folder.ini"));
    EXPECT_TRUE(fs::is_empty("folder.ini"));
    if (locked) {
        EXPECT_EQ(Slurp("locked/test.ini"), text);
        EXPECT_EQ(Names("locked"), std::set<std::string>{"test.ini"});
    }
    EXPECT_EQ(Names(), names);
}

TEST_F(ProfileTest, WhatIsNotARegularFileReadsAsMissingAndIsNeverReplaced)
{
    ASSERT_EQ(mkfifo("fifo.ini", 0644), 0);
    fs::create_symlink("/dev/zero", "zero.ini");
    fs::create_directory("folder.ini");
    Put("real.ini", "[Radio]\r\nStation=linked\r\n");
    fs::create_symlink("real.ini", "link.ini");

    // No writer ever opens the FIFO: the read must not wait for one. Should
    // it wait all the same, a writer comes and goes to let it end.
    std::packaged_task<std::string()> task([] { return Read("Radio", "Station", ".\\fifo.ini"); });
    std::future<std::string> fromFifo = task.get_future();
    std::thread reader(std::move(task));
    const bool returned = fromFifo.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) close(open("fifo.ini", O_WRONLY | O_CLOEXEC));
    reader.join();
    EXPECT_TRUE(returned) << "the read waited for a writer of the FIFO";
    EXPECT_EQ(fromFifo.get(), "<default>");
    // An endless device and a folder read as missing too; a link to a
    // regular file is followed.
    EXPECT_EQ(Read("Radio", "Station", ".\\zero.ini"), "<default>");
    EXPECT_EQ(Read("Radio", "Station", ".\\folder.ini"), "<default>");
    EXPECT_EQ(Read("Radio", "Station", ".\\link.ini"), "linked");

    for (const char* fileName : {".\\fifo.ini", ".\\zero.ini", ".\\folder.ini"}) {
        SCOPED_TRACE(fileName);
        EXPECT_EQ(Write("Radio", "Station", "b", fileName), 0);
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status("fifo.ini")));
    EXPECT_EQ(fs::read_symlink("zero.ini"), "/dev/zero");
    EXPECT_TRUE(fs::is_empty("folder.ini"));
    EXPECT_TRUE(Write("Radio", "Station", "written", ".\\link.ini"));
    EXPECT_EQ(fs::read_symlink("link.ini"), "real.ini");
    EXPECT_EQ(Slurp("real.ini"), "[Radio]\r\nStation=written\r\n");
    EXPECT_EQ(Names(), (std::set<std::string>{"fifo.ini", "zero.ini", "folder.ini", "real.ini",
                                              "link.ini"}));
}

// Only the first MiB of a file counts, whole lines of it. A write changes
// that part and copies the rest as it is; what it could only put past that
// part, where no read would find it, it refuses.
TEST_F(ProfileTest, OnlyTheFirstMebibyteIsReadAndWritesKeepTheRest)
{
    constexpr std::size_t kMebibyte = 1 << 20;
    const std::string head = "[Radio]\r\nBefore=yes\r\n";
    std::string filler;
    while (head.size() + filler.size() < kMebibyte - 100)
        filler += "; a comment that fills the file\r\n";
    const std::size_t across = kMebibyte + 10 - head.size() - filler.size();
    std::string tail = "Across=" + std::string(across, 'x') + "\r\n";
    tail += "After=no\r\n" + filler + "[Other]\r\nKey=1\r\n";
    Put("big.ini", head + filler + tail);
    EXPECT_EQ(Read("Radio", "Before", "big.ini"), "yes");
    EXPECT_EQ(Read("Radio", "Across", "big.ini"), "<default>");
    EXPECT_EQ(Read("Radio", "After", "big.ini"), "<default>");
    EXPECT_EQ(Read("Other", "Key", "big.ini"), "<default>");

    EXPECT_TRUE(Write("Radio", "Before", "changed", "big.ini"));
    const std::string changed = "[Radio]\r\nBefore=changed\r\n";
    // Compared whole, not printed: a MiB of text says nothing.
    EXPECT_TRUE(Slurp("big.ini") == changed + filler + tail);
    EXPECT_TRUE(Write("Radio", "After", "added", "big.ini"));
    const std::string added = changed + "After=added\r\n" + filler + tail;
    EXPECT_TRUE(Slurp("big.ini") == added);
    EXPECT_EQ(Read("Radio", "After", "big.ini"), "added");
    EXPECT_EQ(Write("Other", "Key", "2", "big.ini"), 0);
    EXPECT_EQ(Write("New", "Key", "2", "big.ini"), 0);
    EXPECT_TRUE(Slurp("big.ini") == added);

    // A file of exactly a MiB is read to its last line, break or none.
    const std::string last = "Last=end";
    Put("full.ini", head + filler +
                        std::string(kMebibyte - head.size() - filler.size() - last.size(), '\n') +
                        last);
    ASSERT_EQ(fs::file_size("full.ini"), kMebibyte);
    EXPECT_EQ(Read("Radio", "Last", "full.ini"), "end");
    EXPECT_EQ(Names(), (std::set<std::string>{"big.ini", "full.ini"}));
}

}  // namespace
