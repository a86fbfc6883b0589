#include "folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "shell.h"

namespace {

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A base folder of the XDG rules: the variable's value when it is an
// absolute path, else the default under the home folder; empty when there
// is neither.
std::string XdgBase(const std::string& variable, const std::string& home, const char* underHome)
{
    if (!variable.empty() && variable.front() == '/') return variable;
    if (home.empty() || home.front() != '/') return {};
    return home + underHome;
}

bool IsFolder(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

ProgramFolders ChooseFolders(const FolderFacts& facts)
{
    ProgramFolders folders;
    folders.settingsFile = ".\\Ondalux.ini";
    folders.autoLogFolder = facts.programFolder;
    if (facts.programFolderWritable && !facts.besideDesktopEntry) return folders;
    const std::string config = XdgBase(facts.xdgConfigHome, facts.home, "/.config");
    const std::string state = XdgBase(facts.xdgStateHome, facts.home, "/.local/state");
    // Without a home there is no better place than the portable one.
    if (config.empty() || state.empty()) return folders;
    folders.installed = true;
    folders.settingsFile = config + "/ondalux/Ondalux.ini";
    folders.autoLogFolder = state + "/ondalux/logs/";
    return folders;
}

FolderFacts FolderFactsFor(const std::string& programFolder)
{
    FolderFacts facts;
    facts.programFolder = programFolder;
    facts.programFolderWritable = access(programFolder.c_str(), W_OK) == 0;
    std::string folder = programFolder;
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    if (folder.size() >= 4 && folder.compare(folder.size() - 4, 4, "/bin") == 0) {
        struct stat status {};
        const std::string entry = folder.substr(0, folder.size() - 3) + "share/applications/ondalux.desktop";
        facts.besideDesktopEntry = stat(entry.c_str(), &status) == 0 && S_ISREG(status.st_mode);
    }
    facts.xdgConfigHome = Variable("XDG_CONFIG_HOME");
    facts.xdgStateHome = Variable("XDG_STATE_HOME");
    facts.home = Variable("HOME");
    return facts;
}

const ProgramFolders& Folders()
{
    static const ProgramFolders folders = ChooseFolders(FolderFactsFor(ProgramFolder()));
    return folders;
}

bool MakeFolderOf(const std::string& path)
{
    const std::size_t end = path.rfind('/');
    if (end == std::string::npos || end == 0) return true;  // the current folder, or the root
    const std::string folder = path.substr(0, end);
    if (IsFolder(folder)) return true;
    if (!MakeFolderOf(folder)) return false;
    return (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) && IsFolder(folder);
}
