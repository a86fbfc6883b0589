// Where the program keeps its files. A program unpacked in a folder of its
// own keeps them as it always has: the settings file in the current folder,
// the automatic logs beside the program. A program installed in a prefix
// (its folder not writable by the user, or a bin/ folder beside the
// prefix's share/applications/ondalux.desktop) keeps them where the desktop
// expects a user's files: the settings in $XDG_CONFIG_HOME/ondalux/ and the
// logs in $XDG_STATE_HOME/ondalux/logs/ (~/.config and ~/.local/state when
// the variables are unset or not absolute), with the same names and formats.
//
// The rule is decided once, at start-up: later changes to the folders or
// the environment do not move the files. Main thread.
#pragma once

#include <string>

struct FolderFacts {
    std::string programFolder;  // with its trailing separator
    bool programFolderWritable = true;
    bool besideDesktopEntry = false;
    std::string xdgConfigHome, xdgStateHome, home;  // empty when unset
};

struct ProgramFolders {
    bool installed = false;
    std::string settingsFile;   // ".\Ondalux.ini" (the current folder) or a full path
    std::string autoLogFolder;  // with its trailing separator
};

// The rule itself.
ProgramFolders ChooseFolders(const FolderFacts& facts);

// The facts of a program in programFolder, from the file system and this
// process's environment.
FolderFacts FolderFactsFor(const std::string& programFolder);

// This program's folders, decided at the first call.
const ProgramFolders& Folders();

// Makes the folder a path names (the path up to its last separator) and
// the folders above it that are missing, new ones for the user alone.
// Returns whether the folder is there now.
bool MakeFolderOf(const std::string& path);
