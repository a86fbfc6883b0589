#include "station_slots.h"

#include <array>
#include <bitset>
#include <cstdio>
#include <optional>
#include <vector>

#include "StationAddresses.h"
#include "private_profile.h"
#include "settings_file.h"
#include "texts.h"

namespace {

std::array<std::optional<std::string>, 100> own;
std::bitset<100> pending;  // slots whose key could not be written

bool Valid(int slot) { return slot >= 0 && slot < 100; }

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Key(int slot) { return std::to_string(slot + 1); }

// The profile reader takes one pair of matching quotes off a whole value:
// such an address gets one pair more, so that it reads back as it is.
std::string AsValue(const std::string& address)
{
    const bool quoted = address.size() >= 2 && address.front() == address.back() &&
                        (address.front() == '"' || address.front() == '\'');
    return quoted ? '"' + address + '"' : address;
}

bool HasKey(int slot)
{
    char probe[2];
    // A missing key gives the default, which no value can be: a value has
    // no line breaks.
    GetPrivateProfileStringA(kStationsSection, Key(slot).c_str(), "\n", probe, sizeof probe,
                             SettingsFileName());
    return probe[0] != '\n';
}

bool WriteSlot(int slot)
{
    bool written = true;
    if (own[static_cast<std::size_t>(slot)]) {
        written = WritePrivateProfileStringA(kStationsSection, Key(slot).c_str(),
                                             AsValue(*own[static_cast<std::size_t>(slot)]).c_str(),
                                             SettingsFileName()) != 0;
    } else {
        // A hand-edited file may hold the key more than once.
        for (int round = 0; written && round < 100 && HasKey(slot); ++round)
            written = WritePrivateProfileStringA(kStationsSection, Key(slot).c_str(), nullptr,
                                                 SettingsFileName()) != 0;
    }
    pending[static_cast<std::size_t>(slot)] = !written;
    return written;
}

SlotWrite Change(int slot, std::optional<std::string> address)
{
    if (!Valid(slot)) return SlotWrite::Failed;
    own[static_cast<std::size_t>(slot)] = std::move(address);
    if (!PrepareSettingsFile()) {
        pending[static_cast<std::size_t>(slot)] = true;
        return SlotWrite::Failed;
    }
    return WriteSlot(slot) ? SlotWrite::Written : SlotWrite::Failed;
}

}  // namespace

const std::string& SlotAddress(int slot)
{
    static const std::vector<std::string> compiled(StationAddresses.begin(), StationAddresses.end());
    static const std::string none;
    if (!Valid(slot)) return none;
    const auto& mine = own[static_cast<std::size_t>(slot)];
    return mine ? *mine : compiled[static_cast<std::size_t>(slot)];
}

bool SlotHasOwnAddress(int slot) { return Valid(slot) && own[static_cast<std::size_t>(slot)].has_value(); }

std::string AddressRefusal(const std::string& address)
{
    const std::string trimmed = Trimmed(address);
    if (trimmed.empty()) return Ansi("Адрес пуст: впишите адрес станции.");
    if (trimmed.size() > kMaxStationAddress)
        return Ansi("Адрес слишком длинный: в нём ") + std::to_string(trimmed.size()) +
               Ansi(" знаков, а можно не больше ") + std::to_string(kMaxStationAddress) + ".";
    for (const char c : trimmed)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return Ansi("В адресе есть управляющие знаки (перевод строки, табуляция): уберите их.");
    return {};
}

SlotWrite StoreSlotAddress(int slot, const std::string& address)
{
    std::string trimmed = Trimmed(address);
    if (Valid(slot) && trimmed == StationAddresses[static_cast<std::size_t>(slot)]) return Change(slot, {});
    return Change(slot, std::move(trimmed));
}

SlotWrite RestoreSlotAddress(int slot) { return Change(slot, {}); }

void ReadSlotAddresses()
{
    for (auto& address : own) address.reset();
    pending.reset();
    // One byte more than an address may hold tells a value that is longer.
    std::vector<char> value(kMaxStationAddress + 2);
    for (int slot = 0; slot < 100; ++slot) {
        const DWORD length = GetPrivateProfileStringA(kStationsSection, Key(slot).c_str(), "", value.data(),
                                                      static_cast<DWORD>(value.size()), SettingsFileName());
        if (length == 0) continue;
        const std::string address(value.data(), length);
        if (!AddressRefusal(address).empty()) {
            std::fprintf(stderr, "Ondalux.ini: the stored address of station %d is not usable; it plays its preset\n",
                         slot + 1);
            continue;
        }
        if (address != StationAddresses[static_cast<std::size_t>(slot)])
            own[static_cast<std::size_t>(slot)] = address;
    }
}

bool WritePendingSlots()
{
    if (pending.none()) return true;
    if (!PrepareSettingsFile()) return false;
    for (int slot = 0; slot < 100; ++slot)
        if (pending[static_cast<std::size_t>(slot)]) WriteSlot(slot);
    return pending.none();
}
