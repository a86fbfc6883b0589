// The station directory linked to the program's windows as the program
// entry links them: opened from the options window, a station found plays
// through the main window's address box (a playlist followed to its
// stream), and one written into a slot becomes that slot's own address.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include "Directory.h"
#include "Option.h"
#include "directory_link.h"
#include "fake_directory.h"
#include "program_test.h"
#include "slot_chooser.h"
#include "station_button.h"
#include "station_slots.h"

namespace program_test {
namespace {

const std::string kPlaylist = "http://blues.example/listen.pls";
const std::string kStream = "http://blues.example:8000/live";

TEST_F(ProgramTest, ADirectoryStationPlaysThroughTheAddressBoxAndFillsASlot)
{
    kit::FakeDirectory directory;
    kit::DirectoryEntry blues;
    blues.uuid = "22222222-bbbb-4000-8000-000000000002";
    blues.name = "Blues Room";
    blues.url = blues.urlResolved = kPlaylist;
    directory.Answer({blues});
    proxy.Route(kPlaylist, kit::Script()
                               .Send(kit::Script::HttpHead(200, "OK", {"Content-Type: audio/x-scpls"}) +
                                     "[playlist]\nNumberOfEntries=1\nFile1=" + kStream + "\n")
                               .Close());
    proxy.Route(kStream, Station("Blues Room Live"));

    // The directory server is the settings file's.
    std::ofstream("Ondalux.ini", std::ios::binary) << "[Directory]\r\nServer=" << directory.Url() << "\r\n";
    Start();
    ASSERT_TRUE(WorkerDone());
    TFormOption options;
    std::unique_ptr<TFormDirectory> held;
    LinkDirectory(held, *window, options);
    EXPECT_EQ(held, nullptr);  // made when first asked for

    options.show();
    options.ButtonDirectory->click();
    ASSERT_NE(held, nullptr);
    TFormDirectory& form = *held;
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Client->Server().toStdString(), directory.Url());

    form.EditName->setText("blues");
    form.ButtonFind->click();
    ASSERT_TRUE(Pump([&] { return form.ListStations->topLevelItemCount() == 1; }, 10000));
    QTreeWidgetItem* row = form.ListStations->topLevelItem(0);

    // Played as an address typed into the box and Enter: the box shows the
    // playlist's address, the library follows it to the stream.
    form.ListStationsActivated(row);
    EXPECT_EQ(window->EditText(), kPlaylist);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "Blues Room Live");
    const auto requests = proxy.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].rfind("GET " + kPlaylist + " ", 0), 0u);
    EXPECT_EQ(requests.back().rfind("GET " + kStream + " ", 0), 0u);
    ASSERT_TRUE(Pump([&] { return directory.Clicks().size() == 1; }, 5000));

    // Written into slot 7: the slot's own address from now on, in the file,
    // and shown as such the next time a slot is chosen.
    form.ListStations->setCurrentItem(row);
    form.ButtonStore->click();
    ASSERT_NE(form.SlotChooser(), nullptr);
    form.SlotChooser()->Slots->setCurrentRow(6);
    form.SlotChooser()->ButtonWrite->click();
    EXPECT_EQ(SlotAddress(6), kPlaylist);
    EXPECT_EQ(Bytes(window->StationButtons[6]->toolTip()), kPlaylist);
    EXPECT_NE(Settings().find("[Stations]\r\n7=" + kPlaylist + "\r\n"), std::string::npos);
    ASSERT_TRUE(Pump([&] { return form.SlotChooser() == nullptr; }, 5000));
    form.ButtonStore->click();
    ASSERT_NE(form.SlotChooser(), nullptr);
    EXPECT_NE(form.SlotChooser()->Slots->item(6)->text().indexOf(QString::fromStdString(kPlaylist)), -1);
    form.SlotChooser()->reject();

    // The slot plays the station too.
    window->StationButtons[6]->click();
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(Panel(0), "Blues Room Live");

    // Asked for again, the same window comes back with what it found.
    form.hide();
    options.ButtonDirectory->click();
    EXPECT_EQ(held.get(), &form);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.ListStations->topLevelItemCount(), 1);
    held.reset();
}

}  // namespace
}  // namespace program_test
