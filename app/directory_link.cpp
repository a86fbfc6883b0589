#include "directory_link.h"

#include "Directory.h"
#include "Main.h"
#include "Option.h"
#include "directory_server.h"
#include "station_slots.h"

void LinkDirectory(std::unique_ptr<TFormDirectory>& held, TFormMain& main, TFormOption& options)
{
    QObject::connect(&options, &TFormOption::DirectoryRequested, &main, [&held, &main] {
        if (!held) {
            held = std::make_unique<TFormDirectory>(DirectoryServer());
            held->play = [&main](const std::string& address) {
                main.SetEditText(address);
                main.EditInputKeyDown(13);
            };
            held->store = [&main](int slot, const std::string& address) { return main.StoreStation(slot, address); };
            held->slotAddress = [](int slot) { return SlotAddress(slot); };
        }
        held->show();
        held->raise();
        held->activateWindow();
    });
}
