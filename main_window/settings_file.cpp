#include "settings_file.h"

#include <cstdio>
#include <vector>

#include "StationAddresses.h"
#include "folders.h"
#include "main_rules.h"
#include "private_profile.h"
#include "shell.h"
#include "station_slots.h"

const char* SettingsFileName() { return Folders().settingsFile.c_str(); }

bool PrepareSettingsFile()
{
    // Something else of the name (a folder, a FIFO, a device) was read as no
    // settings at all and is not ours to replace.
    if (ProfileFileIsNotRegular(SettingsFileName())) {
        std::fputs("Ondalux.ini is not a regular file; the settings are not saved\n", stderr);
        return false;
    }
    // An installed program's settings folder is made when first needed.
    if (Folders().installed) MakeFolderOf(SettingsFileName());
    return true;
}

StoredSettings ReadSettings()
{
    StoredSettings settings;
    std::vector<char> text(2048);  // at most 2047 characters are read
    GetPrivateProfileStringA(kSettingsSection, "LastStation", SlotAddress(0).c_str(), text.data(),
                             static_cast<DWORD>(text.size()), SettingsFileName());
    settings.lastStation = text.data();
    char number[64];
    GetPrivateProfileStringA(kSettingsSection, "LastNamber", "0", number, sizeof number, SettingsFileName());
    settings.lastNumber = ParseStationIndex(number);
    return settings;
}

void WriteSettings(const StoredSettings& settings)
{
    // No box for what is not a regular file: nothing failed.
    if (!PrepareSettingsFile()) return;
    const auto fail = [] {
        const std::string message = "Unable to write to " + std::string(SettingsFileName());
        MessageBoxA(nullptr, message.c_str(), nullptr, MB_ICONERROR);
        return false;
    };
    const auto write = [&](const char* key, const std::string& value) {
        return WritePrivateProfileStringA(kSettingsSection, key, value.c_str(), SettingsFileName()) != 0 || fail();
    };
    if (write("LastStation", settings.lastStation) && write("LastNamber", std::to_string(settings.lastNumber)) &&
        !WritePendingSlots())
        fail();
}
