#include "settings_file.h"

#include <cstdio>
#include <vector>

#include "StationAddresses.h"
#include "folders.h"
#include "main_rules.h"
#include "private_profile.h"
#include "shell.h"

namespace {

const char* SettingsFile()
{
    return Folders().settingsFile.c_str();
}

}  // namespace

StoredSettings ReadSettings()
{
    StoredSettings settings;
    std::vector<char> text(2048);  // at most 2047 characters are read
    GetPrivateProfileStringA(kSettingsSection, "LastStation", StationAddresses[0], text.data(),
                             static_cast<DWORD>(text.size()), SettingsFile());
    settings.lastStation = text.data();
    char number[64];
    GetPrivateProfileStringA(kSettingsSection, "LastNamber", "0", number, sizeof number, SettingsFile());
    settings.lastNumber = ParseStationIndex(number);
    return settings;
}

void WriteSettings(const StoredSettings& settings)
{
    // Something else of the name (a folder, a FIFO, a device) was read as no
    // settings at all and is not ours to replace. No box: nothing failed.
    if (ProfileFileIsNotRegular(SettingsFile())) {
        std::fputs("Ondalux.ini is not a regular file; the settings are not saved\n", stderr);
        return;
    }
    // An installed program's settings folder is made when first needed.
    if (Folders().installed) MakeFolderOf(SettingsFile());
    const auto write = [](const char* key, const std::string& value) {
        if (WritePrivateProfileStringA(kSettingsSection, key, value.c_str(), SettingsFile())) return true;
        const std::string message = "Unable to write to " + std::string(SettingsFile());
        MessageBoxA(nullptr, message.c_str(), nullptr, MB_ICONERROR);
        return false;
    };
    if (write("LastStation", settings.lastStation)) write("LastNamber", std::to_string(settings.lastNumber));
}
