// The program's folder and the message log that stands in for beeps and
// message boxes. Built into a test with a QApplication and into one without,
// so both ways of finding the folder are covered.
#include "shell.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

TEST(ShellTest, ProgramFolderIsTheExecutablesFolder)
{
    const std::string executable = fs::read_symlink("/proc/self/exe").string();
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(folder, executable.substr(0, executable.rfind('/') + 1));
}

TEST(ShellTest, BeepsAndBoxesGoToTheMessageLog)
{
    char pattern[] = "/tmp/ondalux_shell_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string log = std::string(pattern) + "/messages.log";
    setenv("ONDALUX_MESSAGE_LOG", log.c_str(), 1);

    EXPECT_EQ(MessageBeep(0), 1);
    // "Нет связи" in windows-1251, shown in UTF-8, the line break written out.
    EXPECT_EQ(MessageBoxA(nullptr, "\xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8\r\nRetry", nullptr,
                          MB_OK | MB_ICONERROR),
              1);
    EXPECT_EQ(MessageBoxA(nullptr, "one\ntwo\rthree", "Ondalux", MB_OK), 1);
    BOOL beeped = 0;
    std::thread([&beeped] { beeped = MessageBeep(0); }).join();
    EXPECT_EQ(beeped, 1);

    unsetenv("ONDALUX_MESSAGE_LOG");
    std::ifstream in(log, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, "beep\nError|Нет связи\\nRetry\nOndalux|one\\ntwo\\nthree\nbeep\n");
    std::error_code error;
    fs::remove_all(pattern, error);
}

}  // namespace
