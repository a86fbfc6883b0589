// The main window: the station panel, the address box, the three pictures
// of the sound, the volume, the status bar; and the playback state that the
// whole program shares, which this module owns.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>

#include "CommonTypes.h"
#include "win_types.h"

class QAbstractButton;
class QButtonGroup;
class QGroupBox;
class QMenu;
class QRadioButton;
class QScrollBar;
class QTimer;
class QToolButton;
class PaintBox;
class StationAddressDialog;
class StationButton;
class TStatusBar;

// The playback state the windows share (the worker's part is in
// stream_worker.h). All of it lives on the user-interface thread.
extern std::int32_t StationIndex;     // the preset last started, 0 to 99
extern std::string CurrentTitle;      // the song on air, as the stream sent it
extern std::string LastLoggedTitle;   // the title the listening log wrote last
extern std::uint8_t NewStationFlag;   // a station name or a failure to log
extern std::string CaptionPrefix;     // "Ondalux <site>  Исполнитель: " (windows-1251)
extern std::int32_t TickerPosition;   // 1-based position of the taskbar ticker
extern char ProxyText[100];           // always empty: no proxy of the program's own
extern TWaveBuffer WaveCapture;
extern TSpectrumBuffer SpectrumCapture;

// The application's title: the text of its taskbar entry. Desktops here show
// a window's icon text there, so the main window carries it as that.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// The address box: typing stops at 99 characters, while texts the program
// puts there are never cut.
class TAddressEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TAddressEdit(QWidget* parent);
    static constexpr int kTypedLimit = 99;

    // A text of the program's: shown whole, and editable within its length.
    void SetProgramText(const QString& text);
    // What typing may not go beyond: 99, or the length of the last text the
    // program put here when that is longer.
    int Limit() const { return limit_; }

private:
    int limit_ = kTypedLimit;
};

class TFormMain : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate.
    TFormMain();
    // Runs FormDestroy.
    ~TFormMain() override;

    HWND Handle() const { return handle_; }

    // The controls, named as the program's handlers name them.
    QWidget* ToolBar1;
    QToolButton* SpeedButtonMemoOn;
    QToolButton* SpeedButtonOption;
    QToolButton* SpeedButtonAbout;
    QGroupBox* GroupBox1;
    std::array<StationButton*, 100> StationButtons;  // Button1 to Button100
    StationButton* SpeedButton1;                     // the hidden member of the group
    QButtonGroup* StationGroup;
    QGroupBox* GroupBoxAdr;
    TAddressEdit* EditInput;
    PaintBox* PaintBoxCucleOsc;
    PaintBox* PaintBoxOsc;
    PaintBox* PaintBoxSpectr;
    QGroupBox* RadioGroupType;
    std::array<QRadioButton*, 5> RadioGroupTypeItems;
    QGroupBox* GroupBoxVolume;
    QScrollBar* ScrollBarVolume;
    TStatusBar* StatusBar;
    QTimer* TimerVisual;
    QTimer* TimerApllication;

    // The windows the toolbar shows; the program entry sets them.
    QWidget* FormWriter = nullptr;
    QWidget* FormOption = nullptr;
    QWidget* AboutForm = nullptr;

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void Button1Click(QAbstractButton* button);
    void EditInputKeyDown(int key);
    void ScrollBarVolumeChange();
    void SpeedButtonMemoOnClick();
    void SpeedButtonOptionClick();
    void SpeedButtonAboutClick();
    void TimerVisualTimer();
    void RadioGroupTypeClick(int index);
    void TimerApllicationTimer();
    LRESULT HandleStreamStatus(UINT message, WPARAM wParam, LPARAM lParam);
    // Panel 1 while the stream's connection is being tried again.
    void HandleReconnect(WPARAM round);

    // What the desktop's media controls ask (and Alt+Left/Right): the
    // preset delta slots on (wrapping 100 to 1), started as its button's
    // click would; stopping the stream; the last station again.
    void StepStation(int delta);
    void StopPlaying();
    void PlayAgain();
    // The preset slots' own addresses (station_slots.h). The right-click
    // menu of slot 0 to 99 (the caller shows it; it goes when closed); its
    // three entries: the address box's text into the slot (refused with the
    // beep when the box is empty or holds the start-up text), the dialog
    // with the slot's address (shown window-modal and returned), the
    // compiled-in address back.
    QMenu* StationMenu(int slot);
    bool StoreEditText(int slot);
    StationAddressDialog* EditSlotAddress(int slot);
    bool RestoreStation(int slot);
    // Gives the slot address (bytes) as its own; an address the slot cannot
    // hold is refused with a message box saying why. Returns whether the
    // slot took it (a settings file that cannot be written is said, but the
    // address holds).
    bool StoreStation(int slot, const std::string& address);

    // The station's name as its server gave it (bytes), empty before it did.
    const std::string& StationName() const { return stationName_; }

    // The caption: the prefix, then the title, each shown by the text rule.
    void SetCaption(const std::string& prefix, const std::string& title);
    // The address box's text as bytes, and setting it from bytes.
    std::string EditText() const;
    void SetEditText(const std::string& bytes);

signals:
    // Something the desktop shows of the playback changed: a status of the
    // stream, its title or name, the volume, a stop.
    void PlaybackChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildToolBar();
    void BuildStationPanel();
    void BuildPictures();
    void BuildVolumeAndStatus();
    void ShowSlotAddress(int slot);  // the button's hint and description
    void SayUnwritten(int slot);

    HWND handle_ = nullptr;
    bool centred_ = false;
    std::string decoration_;  // what start-up appended to the address box
    // The bytes the program last put into the address box, and how they
    // showed there.
    std::string editBytes_;
    QString editShown_;
    // While a lost connection is tried again: what panel 1 showed before.
    bool reconnecting_ = false;
    std::string panelBeforeReconnect_;
    std::string stationName_;
};
