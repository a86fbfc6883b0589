// Where the program keeps its files: the portable layout, and the user's
// XDG folders for an installed program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "folders.h"

namespace {

namespace fs = std::filesystem;

TEST(Folders, APortableProgramKeepsItsFilesWhereItAlwaysHas)
{
    FolderFacts facts;
    facts.programFolder = "/opt/radio/";
    facts.xdgConfigHome = "/home/u/.cfg";
    facts.xdgStateHome = "/home/u/.st";
    facts.home = "/home/u";
    const ProgramFolders folders = ChooseFolders(facts);
    EXPECT_FALSE(folders.installed);
    EXPECT_EQ(folders.settingsFile, ".\\Ondalux.ini");
    EXPECT_EQ(folders.autoLogFolder, "/opt/radio/");
}

TEST(Folders, AnInstalledProgramUsesTheXdgFoldersOrTheirDefaults)
{
    FolderFacts facts;
    facts.programFolder = "/usr/bin/";
    facts.home = "/home/u";
    // Not writable, with the variables.
    facts.programFolderWritable = false;
    facts.xdgConfigHome = "/home/u/.cfg";
    facts.xdgStateHome = "/var/st";
    ProgramFolders folders = ChooseFolders(facts);
    EXPECT_TRUE(folders.installed);
    EXPECT_EQ(folders.settingsFile, "/home/u/.cfg/ondalux/Ondalux.ini");
    EXPECT_EQ(folders.autoLogFolder, "/var/st/ondalux/logs/");
    // Without them, or with relative paths, which the rules do not allow.
    for (const char* unset : {"", "relative/path"}) {
        facts.xdgConfigHome = facts.xdgStateHome = unset;
        folders = ChooseFolders(facts);
        EXPECT_TRUE(folders.installed);
        EXPECT_EQ(folders.settingsFile, "/home/u/.config/ondalux/Ondalux.ini");
        EXPECT_EQ(folders.autoLogFolder, "/home/u/.local/state/ondalux/logs/");
    }
    // Writable (root may write anywhere) but in a prefix of ours.
    facts.programFolderWritable = true;
    facts.besideDesktopEntry = true;
    EXPECT_TRUE(ChooseFolders(facts).installed);
    // No home and no variables: nowhere better than the portable places.
    facts.home.clear();
    folders = ChooseFolders(facts);
    EXPECT_FALSE(folders.installed);
    EXPECT_EQ(folders.settingsFile, ".\\Ondalux.ini");
    EXPECT_EQ(folders.autoLogFolder, "/usr/bin/");
}

struct TempFolder {
    std::string path;
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "ondalux-folders-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
};

TEST(Folders, TheFactsComeFromTheFileSystemAndTheEnvironment)
{
    TempFolder prefix;
    fs::create_directories(prefix.path + "/bin");
    fs::create_directories(prefix.path + "/share/applications");
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    unsetenv("XDG_STATE_HOME");
    FolderFacts facts = FolderFactsFor(prefix.path + "/bin/");
    EXPECT_EQ(facts.xdgConfigHome, "/somewhere/config");
    EXPECT_EQ(facts.xdgStateHome, "");
    EXPECT_FALSE(facts.besideDesktopEntry);
    EXPECT_TRUE(facts.programFolderWritable);
    std::ofstream(prefix.path + "/share/applications/ondalux.desktop") << "[Desktop Entry]\n";
    EXPECT_TRUE(FolderFactsFor(prefix.path + "/bin/").besideDesktopEntry);
    // Only a bin folder of a prefix counts.
    fs::create_directories(prefix.path + "/app");
    EXPECT_FALSE(FolderFactsFor(prefix.path + "/app/").besideDesktopEntry);
    chmod((prefix.path + "/bin").c_str(), 0500);
    // Root writes wherever it likes: the mode says nothing then.
    if (geteuid() != 0) {
        EXPECT_FALSE(FolderFactsFor(prefix.path + "/bin/").programFolderWritable);
    }
    chmod((prefix.path + "/bin").c_str(), 0700);
    unsetenv("XDG_CONFIG_HOME");
}

TEST(Folders, FoldersAreMadeOnDemandForTheUserAlone)
{
    TempFolder root;
    const std::string file = root.path + "/a/b/c/Ondalux.ini";
    EXPECT_TRUE(MakeFolderOf(file));
    EXPECT_TRUE(fs::is_directory(root.path + "/a/b/c"));
    EXPECT_EQ(fs::status(root.path + "/a/b").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(MakeFolderOf(file));  // already there
    EXPECT_TRUE(MakeFolderOf(root.path + "/logs/"));
    EXPECT_TRUE(fs::is_directory(root.path + "/logs"));
    // A file in the way.
    std::ofstream(root.path + "/plain") << "x";
    EXPECT_FALSE(MakeFolderOf(root.path + "/plain/logs/"));
    EXPECT_FALSE(MakeFolderOf(root.path + "/plain/"));
}

}  // namespace
