#include "Main.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QMenu>
#include <QPainter>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QValidator>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "StationAddresses.h"
#include "circle_vis.h"
#include "main_rules.h"
#include "osc_vis.h"
#include "paint_box.h"
#include "program_font.h"
#include "program_icon.h"
#include "program_info.h"
#include "settings_file.h"
#include "shell.h"
#include "sonivex.h"
#include "spectrum_vis.h"
#include "station_address_dialog.h"
#include "station_button.h"
#include "station_pictures.h"
#include "station_slots.h"
#include "status_bar.h"
#include "stream_worker.h"
#include "window_messages.h"

std::int32_t StationIndex = 0;
std::string CurrentTitle;
std::string LastLoggedTitle;
std::uint8_t NewStationFlag = 0;
std::string CaptionPrefix;
std::int32_t TickerPosition = 1;
char ProxyText[100] = {};
TWaveBuffer WaveCapture{};
TSpectrumBuffer SpectrumCapture{};

namespace {

QString g_applicationTitle;
TFormMain* g_mainWindow = nullptr;

// The 141 characters whose words stand above the ten genre columns.
constexpr const char* kGenreCaption =
    "    Funk          Jazz          World        Blue&Rock     Retro         Radio          "
    "Latino         Modern      Classik         Relax     ";

// The genre words stand above their columns by the blanks between them,
// which were measured for "MS Sans Serif". A wider font in its place would
// push the last words out of the box, so the blanks shrink until the
// caption fits the box as it would in that font.
void FitGenreCaption(QGroupBox* box)
{
    QFont font = box->font();
    const QString caption = QString::fromLatin1(kGenreCaption).remove('&');
    const qreal room = box->width() - 8;
    const qreal width = QFontMetricsF(font).horizontalAdvance(caption);
    if (width <= room) return;
    // The text layout spaces runs of blanks, not each blank: measure what one
    // pixel less per run gives, and take as many as the excess needs.
    QFont tighter = font;
    tighter.setWordSpacing(font.wordSpacing() - 1);
    const qreal perPixel = width - QFontMetricsF(tighter).horizontalAdvance(caption);
    if (perPixel <= 0) return;
    font.setWordSpacing(font.wordSpacing() - std::ceil((width - room) / perPixel));
    box->setFont(font);
}

// The toolbar's pictures: the log's notebook, the options' gear, the About
// window's letter i.
QIcon ToolbarPicture(int which)
{
    QPixmap pixmap(which == 2 ? 20 : 16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(30, 40, 70), 1));
    if (which == 0) {
        painter.setBrush(QColor(250, 245, 220));
        painter.drawRect(3, 1, 10, 14);
        for (int y = 4; y < 14; y += 3) painter.drawLine(5, y, 11, y);
    } else if (which == 1) {
        painter.setBrush(QColor(150, 160, 175));
        painter.drawEllipse(QPointF(8, 8), 6, 6);
        painter.setBrush(QColor(250, 250, 250));
        painter.drawEllipse(QPointF(8, 8), 2.2, 2.2);
    } else {
        painter.setBrush(QColor(40, 110, 200));
        painter.drawEllipse(QPointF(10, 8), 7, 7);
        painter.setPen(QPen(Qt::white, 2));
        painter.drawLine(QPointF(10, 7), QPointF(10, 12));
        painter.drawPoint(QPointF(10, 4.5));
    }
    return QIcon(pixmap);
}

// Typed text stops at the limit; a longer text the program put there can
// still be shortened or edited within its length. (The edit box validates
// its new text, so the limit is kept apart from it.)
class TypedLimit : public QValidator {
public:
    explicit TypedLimit(TAddressEdit* edit) : QValidator(edit), edit_(edit) {}
    State validate(QString& input, int&) const override
    {
        return input.size() <= edit_->Limit() ? Acceptable : Invalid;
    }

private:
    TAddressEdit* edit_;
};

}  // namespace

void SetApplicationTitle(const QString& title)
{
    g_applicationTitle = title;
    if (g_mainWindow != nullptr) g_mainWindow->setWindowIconText(title);
}

QString ApplicationTitle() { return g_applicationTitle; }

TAddressEdit::TAddressEdit(QWidget* parent) : QLineEdit(parent) { setValidator(new TypedLimit(this)); }

void TAddressEdit::SetProgramText(const QString& text)
{
    limit_ = std::max(kTypedLimit, static_cast<int>(text.size()));
    setText(text);
}

TFormMain::TFormMain()
{
    g_mainWindow = this;
    setWindowTitle(QString::fromUtf8("Интернет радио приемник"));
    setWindowIcon(ProgramIcon());
    setFont(SansSerifFont(11));
    setFixedSize(856, 441);
    setWindowIconText(g_applicationTitle);

    BuildToolBar();
    BuildStationPanel();
    BuildPictures();
    BuildVolumeAndStatus();
    setTabOrder(EditInput, ScrollBarVolume);
    setTabOrder(ScrollBarVolume, RadioGroupTypeItems[0]);
    EditInput->setFocus();

    TimerVisual = new QTimer(this);
    TimerVisual->setTimerType(Qt::PreciseTimer);
    TimerVisual->setInterval(10);
    connect(TimerVisual, &QTimer::timeout, this, &TFormMain::TimerVisualTimer);
    TimerApllication = new QTimer(this);
    TimerApllication->setInterval(300);
    connect(TimerApllication, &QTimer::timeout, this, &TFormMain::TimerApllicationTimer);
    TimerVisual->start();
    TimerApllication->start();

    FormCreate();
}

TFormMain::~TFormMain()
{
    FormDestroy();
    if (g_mainWindow == this) g_mainWindow = nullptr;
}

void TFormMain::BuildToolBar()
{
    ToolBar1 = new QWidget(this);
    ToolBar1->setGeometry(0, 0, 856, 29);
    const auto button = [&](int left, int width, int picture, const char* hint) {
        auto* speedButton = new QToolButton(ToolBar1);
        speedButton->setGeometry(left, 2, 23, 22);
        speedButton->setIcon(ToolbarPicture(picture));
        speedButton->setIconSize(QSize(width, 16));
        speedButton->setAutoRaise(true);
        speedButton->setFocusPolicy(Qt::NoFocus);
        speedButton->setCursor(Qt::PointingHandCursor);
        speedButton->setToolTip(QString::fromUtf8(hint));
        speedButton->setAccessibleName(QString::fromUtf8(hint).trimmed());
        return speedButton;
    };
    // A separator of 8, the three buttons, then separators of 25 and 26.
    SpeedButtonMemoOn = button(8, 16, 0, "Прослушанные музыкальные композиции ");
    SpeedButtonOption = button(31, 16, 1, "Опции программы");
    SpeedButtonAbout = button(54, 20, 2, "О программе");
    connect(SpeedButtonMemoOn, &QToolButton::clicked, this, &TFormMain::SpeedButtonMemoOnClick);
    connect(SpeedButtonOption, &QToolButton::clicked, this, &TFormMain::SpeedButtonOptionClick);
    connect(SpeedButtonAbout, &QToolButton::clicked, this, &TFormMain::SpeedButtonAboutClick);
}

void TFormMain::BuildStationPanel()
{
    GroupBox1 = new QGroupBox(QString::fromLatin1(kGenreCaption), this);
    GroupBox1->setGeometry(8, 32, 569, 337);
    FitGenreCaption(GroupBox1);
    StationGroup = new QButtonGroup(this);
    StationGroup->setExclusive(true);
    const QFont numbers = SansSerifFont(13);
    for (int k = 1; k <= 100; ++k) {
        const int column = (k - 1) / 10, row = (k - 1) % 10;
        // The last column's pictures sit right against their numbers.
        auto* button = new StationButton(QString::number(k), StationPicture(k), column == 9 ? 0 : 4, GroupBox1);
        button->setObjectName(QStringLiteral("Button%1").arg(k));
        button->setFont(numbers);
        button->setGeometry(8 + 56 * column, 14 + 32 * row, 48, 25);
        StationGroup->addButton(button, k - 1);  // the tag: the catalogue index
        StationButtons[k - 1] = button;
        // A right click offers to change the slot's address.
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, this, [this, button, k](const QPoint& at) {
            StationMenu(k - 1)->popup(button->mapToGlobal(at));
        });
    }
    SpeedButton1 = new StationButton(QString(), QPixmap(), 0, GroupBox1);
    SpeedButton1->setGeometry(498, 32, 23, 17);
    SpeedButton1->hide();
    StationGroup->addButton(SpeedButton1, 1056);
    SpeedButton1->setChecked(true);
    connect(StationGroup, &QButtonGroup::buttonClicked, this, &TFormMain::Button1Click);
    // The buttons stay out of the tab order; Alt+Left and Alt+Right step
    // through the presets instead, each step a click.
    const auto step = [this](Qt::Key key, int delta) {
        connect(new QShortcut(QKeySequence(Qt::ALT | key), this), &QShortcut::activated, this,
                [this, delta] { StepStation(delta); });
    };
    step(Qt::Key_Left, -1);
    step(Qt::Key_Right, 1);

    GroupBoxAdr = new QGroupBox(QString::fromUtf8("Адрес радиостанции "), this);
    GroupBoxAdr->setGeometry(8, 372, 569, 45);
    GroupBoxAdr->setToolTip(QString::fromUtf8("Введите свой адрес радостанции и нажмите ENTER"));
    EditInput = new TAddressEdit(GroupBoxAdr);
    EditInput->setGeometry(8, 16, 553, 21);
    connect(EditInput, &QLineEdit::returnPressed, this, [this] { EditInputKeyDown(13); });
}

void TFormMain::BuildPictures()
{
    PaintBoxCucleOsc = new PaintBox(201, 118, this);
    PaintBoxCucleOsc->move(584, 37);
    PaintBoxOsc = new PaintBox(257, 105, this);
    PaintBoxOsc->move(584, 157);
    PaintBoxSpectr = new PaintBox(257, 105, this);
    PaintBoxSpectr->move(584, 264);

    RadioGroupType = new QGroupBox(this);
    RadioGroupType->setGeometry(792, 32, 49, 123);
    for (int i = 0; i < 5; ++i) {
        auto* item = new QRadioButton(QString::number(i + 1), RadioGroupType);
        item->setGeometry(8, 10 + 22 * i, 36, 20);
        RadioGroupTypeItems[i] = item;
        connect(item, &QRadioButton::clicked, this, [this, i] { RadioGroupTypeClick(i); });
    }
    RadioGroupTypeItems[0]->setChecked(true);
}

void TFormMain::BuildVolumeAndStatus()
{
    GroupBoxVolume = new QGroupBox(QString::fromUtf8("Громкость %"), this);
    GroupBoxVolume->setGeometry(584, 372, 257, 45);
    ScrollBarVolume = new QScrollBar(Qt::Horizontal, GroupBoxVolume);
    ScrollBarVolume->setGeometry(8, 16, 241, 17);
    ScrollBarVolume->setRange(0, 100);
    ScrollBarVolume->setSingleStep(1);
    ScrollBarVolume->setPageStep(1);
    ScrollBarVolume->setValue(100);
    ScrollBarVolume->setFocusPolicy(Qt::StrongFocus);
    // Qt's scroll bars turn their keys round (Left raises a horizontal
    // bar's value); a volume bar goes down with Left, Down and Page Down.
    ScrollBarVolume->setInvertedControls(false);
    connect(ScrollBarVolume, &QScrollBar::valueChanged, this, &TFormMain::ScrollBarVolumeChange);

    StatusBar = new TStatusBar({{700, Qt::AlignHCenter, true, Ansi("Станция")},
                                {140, Qt::AlignHCenter, true, Ansi("Индикатор загрузки")},
                                {50, Qt::AlignLeft, false, ""}},
                               this);
    StatusBar->setGeometry(0, 422, 856, 19);
}

void TFormMain::FormCreate()
{
    TickerPosition = 1;
    handle_ = RegisterWindow(this, [this](UINT message, WPARAM wParam, LPARAM lParam) {
        return HandleStreamStatus(message, wParam, lParam);
    });
    MainWindowHandle = handle_;

    if ((BASS_GetVersion() >> 16) != 0x0204) {
        MessageBoxA(nullptr, "An incorrect version of BASS.DLL was loaded", nullptr, MB_ICONERROR);
        std::_Exit(1);
    }
    if (!BASS_Init(-1, 44100, 0, handle_, nullptr)) std::_Exit(1);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
    BASS_SetConfigPtr(BASS_CONFIG_NET_PROXY, ProxyText);

    ReadSlotAddresses();
    for (int i = 0; i < 100; ++i) {
        // A screen reader names the slot and reads its address.
        StationButtons[i]->setAccessibleName(QString::fromUtf8("Станция ") + QString::number(i + 1));
        ShowSlotAddress(i);
    }

    CircleView = std::make_unique<TCircleScope>(201, 118);
    CircleView->TraceColor = 0xFFFFFF;
    CircleView->RenderMode = 0;
    CircleView->Gain = 250;
    CircleView->BaseRadius = 0;
    OscView = std::make_unique<TOcilloScope>(257, 105);
    OscView->Gain = 100;
    OscView->TraceColor = 0x00FF00;
    SpectrumView = std::make_unique<TSpectrum>(257, 105);
    SpectrumView->RenderMode = 1;
    SpectrumView->BarWidth = 2;
    SpectrumView->MaxBarHeight = 300;

    BASS_SetConfig(BASS_CONFIG_BUFFER, 10000);

    // Setting the bar runs its change rule only when the position moves.
    const double volume = std::trunc(static_cast<double>(BASS_GetVolume()) * 100);
    ScrollBarVolume->setValue(static_cast<int>(std::clamp(volume, 0.0, 100.0)));
    GroupBoxVolume->setTitle(QString::fromUtf8("Громкость ") + QString::number(ScrollBarVolume->value()) + "% ");

    const StoredSettings settings = ReadSettings();
    StationIndex = settings.lastNumber;
    decoration_ = StationDecoration(StationIndex);
    SetEditText(settings.lastStation + decoration_);
    StationIndex = ClampStationIndex(StationIndex);
    StartStreamWorker(SlotAddress(StationIndex));

    CurrentTitle.clear();
    LastLoggedTitle.clear();
    CaptionPrefix = std::string(kProgramName) + " " + kWebSiteDomain + "  " + Ansi("Исполнитель: ");

    for (int i = 1; i <= 127; ++i) SpectrumCapture[i] = 0.01f;
}

void TFormMain::FormDestroy()
{
    BASS_StreamFree(CurrentStream.load());
    BASS_Free();
    // The start-up decoration is the program's, not the user's: it is not
    // stored, or it would grow by one at every run.
    WriteSettings({WithoutDecoration(EditText(), decoration_), StationIndex});
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // From now on the worker's and the library's messages return at once:
    // nothing the shutdown waits for can be waiting for this window.
    BeginClosing(handle_);
    event->accept();
}

void TFormMain::showEvent(QShowEvent* event)
{
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(this);
    }
    QWidget::showEvent(event);
}

std::string TFormMain::EditText() const
{
    // What the program put there and the user has left alone is its own
    // bytes: an address or a stored text that is neither UTF-8 nor
    // windows-1251 goes back out as it came.
    const QString shown = EditInput->text();
    return shown == editShown_ ? editBytes_ : Bytes(shown);
}

void TFormMain::SetEditText(const std::string& bytes)
{
    editBytes_ = bytes;
    editShown_ = Shown(bytes);
    EditInput->SetProgramText(editShown_);
}

void TFormMain::SetCaption(const std::string& prefix, const std::string& title)
{
    setWindowTitle(Shown(prefix) + Shown(title));
}

void TFormMain::Button1Click(QAbstractButton* button)
{
    const int tag = StationGroup->id(button);
    if (tag < 0 || tag > 99) return;
    SetEditText(SlotAddress(tag));
    if (StartStreamWorker(SlotAddress(tag))) StationIndex = tag;
}

void TFormMain::EditInputKeyDown(int key)
{
    if (key != 13) return;
    StartStreamWorker(EditText());
}

void TFormMain::ScrollBarVolumeChange()
{
    const int position = ScrollBarVolume->value();
    BASS_SetVolume(static_cast<float>(position / 100.0));
    GroupBoxVolume->setTitle(QString::fromUtf8("Громкость ") + QString::number(position) + "% ");
    emit PlaybackChanged();
}

void TFormMain::StepStation(int delta)
{
    const int slot = ((StationIndex + delta) % 100 + 100) % 100;
    StationButtons[static_cast<std::size_t>(slot)]->click();
}

void TFormMain::ShowSlotAddress(int slot)
{
    StationButton* button = StationButtons[static_cast<std::size_t>(slot)];
    button->setToolTip(PlainHint(Shown(SlotAddress(slot))));
    button->setAccessibleDescription(Shown(SlotAddress(slot)));
}

QMenu* TFormMain::StationMenu(int slot)
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(QString::fromUtf8("Записать сюда адрес из строки")), &QAction::triggered, this,
            [this, slot] { StoreEditText(slot); });
    connect(menu->addAction(QString::fromUtf8("Изменить адрес...")), &QAction::triggered, this,
            [this, slot] { EditSlotAddress(slot); });
    QAction* restore = menu->addAction(QString::fromUtf8("Вернуть исходный адрес"));
    restore->setEnabled(SlotHasOwnAddress(slot));
    connect(restore, &QAction::triggered, this, [this, slot] { RestoreStation(slot); });
    return menu;
}

bool TFormMain::StoreEditText(int slot)
{
    const std::string text = EditText();
    // The start-up text is the last address box text with the program's
    // decoration: not an address to keep.
    if (text.find_first_not_of(" \t") == std::string::npos ||
        (!decoration_.empty() && text.find(decoration_) != std::string::npos)) {
        MessageBeep(MB_OK);
        return false;
    }
    return StoreStation(slot, text);
}

StationAddressDialog* TFormMain::EditSlotAddress(int slot)
{
    if (slot < 0 || slot > 99) return nullptr;
    auto* dialog = new StationAddressDialog(slot, SlotAddress(slot), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { StoreStation(dialog->Slot(), dialog->Address()); });
    dialog->open();
    return dialog;
}

bool TFormMain::StoreStation(int slot, const std::string& address)
{
    if (slot < 0 || slot > 99) return false;
    const std::string refusal = AddressRefusal(address);
    if (!refusal.empty()) {
        MessageBoxA(handle_, (Ansi("Адрес станции ") + std::to_string(slot + 1) + Ansi(" не изменён. ") + refusal).c_str(),
                    kProgramName, MB_OK);
        return false;
    }
    const SlotWrite written = StoreSlotAddress(slot, address);
    ShowSlotAddress(slot);
    if (written == SlotWrite::Failed) SayUnwritten(slot);
    return true;
}

bool TFormMain::RestoreStation(int slot)
{
    if (slot < 0 || slot > 99) return false;
    const SlotWrite written = RestoreSlotAddress(slot);
    ShowSlotAddress(slot);
    if (written == SlotWrite::Failed) SayUnwritten(slot);
    return true;
}

void TFormMain::SayUnwritten(int slot)
{
    const std::string message = Ansi("Не удалось записать файл настроек ") + SettingsFileName() +
                                Ansi(". Адрес станции ") + std::to_string(slot + 1) +
                                Ansi(" действует, а записать его программа попробует ещё раз при выходе.");
    MessageBoxA(handle_, message.c_str(), kProgramName, MB_ICONERROR);
}

void TFormMain::StopPlaying()
{
    if (!StopStream()) return;
    // Without a stream nothing refills the captures: the pictures show
    // silence from the next tick on.
    WaveCapture.fill(0);
    SpectrumCapture.fill(0);
    emit PlaybackChanged();
}

void TFormMain::PlayAgain()
{
    StartStreamWorker(StartedAddress.empty() ? SlotAddress(StationIndex) : StartedAddress);
}

namespace {

void ShowWindow(QWidget* window)
{
    if (window == nullptr) return;
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void TFormMain::SpeedButtonMemoOnClick() { ShowWindow(FormWriter); }
void TFormMain::SpeedButtonOptionClick() { ShowWindow(FormOption); }
void TFormMain::SpeedButtonAboutClick() { ShowWindow(AboutForm); }

void TFormMain::TimerVisualTimer()
{
    if (!OscView || !CircleView || !SpectrumView) return;
    const HSTREAM stream = CurrentStream.load();
    BASS_ChannelGetData(stream, WaveCapture.data(), 2048);
    OscView->RenderFrame(PaintBoxOsc->Surface(), WaveCapture, 5, PaintBoxOsc->height() / 2);
    CircleView->RenderFrame(PaintBoxCucleOsc->Surface(), WaveCapture, PaintBoxCucleOsc->width() / 2,
                            PaintBoxCucleOsc->height() / 2);
    BASS_ChannelGetData(stream, SpectrumCapture.data(), BASS_DATA_FFT256);
    SpectrumView->RenderFrame(PaintBoxSpectr->Surface(), SpectrumCapture, 1, -1);
    PaintBox::ShowChanges({PaintBoxCucleOsc, PaintBoxOsc, PaintBoxSpectr});
}

void TFormMain::RadioGroupTypeClick(int index)
{
    struct Look {
        TColor color;
        std::int32_t mode, baseRadius, gain;
    };
    static constexpr Look kLooks[5] = {
        {0xFFFFFF, 0, 0, 250},   // white ring
        {0x0000FF, 0, 50, 250},  // red ring
        {0xFFFF00, 0, 50, 100},  // cyan ring
        {0x00FFFF, 1, 20, 100},  // yellow spokes
        {0xFF0000, 1, 50, 250},  // blue spokes
    };
    if (index < 0 || index > 4 || !CircleView) return;
    CircleView->TraceColor = kLooks[index].color;
    CircleView->RenderMode = kLooks[index].mode;
    CircleView->BaseRadius = kLooks[index].baseRadius;
    CircleView->Gain = kLooks[index].gain;
}

void TFormMain::TimerApllicationTimer() { SetApplicationTitle(TickerStep(Shown(CurrentTitle), TickerPosition)); }

void TFormMain::HandleReconnect(WPARAM round)
{
    if (round > 0) {
        if (!reconnecting_) panelBeforeReconnect_ = StatusBar->Text(1);
        reconnecting_ = true;
        StatusBar->SetText(1, Ansi("Переподключение..."));
        StatusBar->SetHint(1, Ansi("Связь потеряна, переподключаемся (попытка ") + std::to_string(round) + ")");
    } else if (reconnecting_) {
        // The sound is back: the bit rate again.
        reconnecting_ = false;
        StatusBar->SetText(1, panelBeforeReconnect_);
        StatusBar->SetHint(1, "");
    }
}

LRESULT TFormMain::HandleStreamStatus(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_STREAMRECONNECT) {
        HandleReconnect(wParam);
        emit PlaybackChanged();
        return 0;
    }
    if (message == WM_STREAMFAILURE) {
        // Panel 0 keeps its one text for every failure (the log quotes it);
        // panel 1 says why.
        const FailureText reason = FailureReason(static_cast<int>(wParam), StatusBar->Text(1),
                                                 static_cast<int>(BASS_GetConfig(BASS_CONFIG_NET_TIMEOUT) / 1000));
        StatusBar->SetText(1, reason.panel);
        StatusBar->SetHint(1, reason.hint);
        return 0;
    }
    if (message != WM_STREAMSTATUS) return 0;

    const auto text = [lParam] { return std::string(reinterpret_cast<const char*>(lParam)); };
    switch (wParam) {
    case stConnecting:
        StatusBar->SetText(0, Ansi("Cоединяемся..."));  // a Latin C, then Cyrillic
        CurrentTitle.clear();
        stationName_.clear();
        SetCaption(CaptionPrefix, "");
        StatusBar->SetText(1, "");
        reconnecting_ = false;
        StatusBar->SetHint(1, "");
        break;
    case stConnectFailed:
        StatusBar->SetText(0, Ansi("Не могу соединиться с сервером..."));
        NewStationFlag = 1;
        break;
    case stBuffering:
        StatusBar->SetText(0, Ansi("Заполняем буфер... ") + std::to_string(static_cast<std::int32_t>(lParam)) + "%");
        break;
    case stStationName:
        StatusBar->SetText(0, text());
        stationName_ = text();
        NewStationFlag = 1;
        break;
    case stBitrate:
    case stServerStatus:
        StatusBar->SetText(1, text());
        break;
    case stSongTitle:
        CurrentTitle = text();
        break;
    default:
        break;
    }
    // Whatever the status, the desktop hears of it once it is shown.
    emit PlaybackChanged();
    return 0;
}
