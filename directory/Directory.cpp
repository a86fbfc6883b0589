#include "Directory.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "program_font.h"
#include "program_icon.h"
#include "slot_chooser.h"
#include "texts.h"

namespace {

enum Column { kName, kCountry, kCodec, kBitrate, kPopularity, kColumnCount };

QTreeWidgetItem* StationItem(const DirectoryStation& station, int index)
{
    auto* item = new QTreeWidgetItem;
    item->setText(kName, station.name.isEmpty() ? station.address : station.name);
    item->setText(kCountry, station.country.isEmpty() ? station.countryCode : station.country);
    item->setText(kCodec, station.codec);
    if (station.bitrate > 0)
        item->setText(kBitrate, QString::fromUtf8("%1 кбит/с").arg(station.bitrate));
    item->setText(kPopularity, QStringLiteral("%1 / %2").arg(station.votes).arg(station.clicks));
    item->setTextAlignment(kBitrate, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(kPopularity, Qt::AlignRight | Qt::AlignVCenter);
    QString hint = station.address;
    if (!station.tags.isEmpty()) hint += QString::fromUtf8("\nЖанры: ") + station.tags;
    if (!station.language.isEmpty()) hint += QString::fromUtf8("\nЯзык: ") + station.language;
    item->setToolTip(kName, PlainHint(hint));
    item->setData(kName, Qt::UserRole, index);
    return item;
}

}  // namespace

TFormDirectory::TFormDirectory(const QString& server) : QWidget(nullptr, Qt::Window)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromUtf8("Каталог станций"));
    setWindowIcon(ProgramIcon());
    setFont(SansSerifFont(11));
    resize(720, 480);

    Client = new DirectoryClient(server, this);

    const auto field = [this](const char* hint) {
        auto* edit = new QLineEdit(this);
        edit->setClearButtonEnabled(true);
        edit->setToolTip(QString::fromUtf8(hint));
        connect(edit, &QLineEdit::returnPressed, this, &TFormDirectory::ButtonFindClick);
        return edit;
    };
    EditName = field("Часть названия станции");
    EditTag = field("Жанр, как его называет каталог: rock, jazz, news…");
    EditCountry = field("Код страны из двух букв (RU, DE) или её название по-английски");
    EditLanguage = field("Язык по-английски: russian, german…");
    ButtonFind = new QPushButton(QString::fromUtf8("Найти"), this);
    connect(ButtonFind, &QPushButton::clicked, this, &TFormDirectory::ButtonFindClick);

    auto* fields = new QGridLayout;
    const auto row = [this, fields](int at, int column, const char* caption, QLineEdit* edit) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        label->setBuddy(edit);
        fields->addWidget(label, at, column * 2);
        fields->addWidget(edit, at, column * 2 + 1);
    };
    row(0, 0, "&Название", EditName);
    row(0, 1, "&Жанр", EditTag);
    row(1, 0, "&Страна", EditCountry);
    row(1, 1, "&Язык", EditLanguage);
    fields->addWidget(ButtonFind, 0, 4, 2, 1);

    ListStations = new QTreeWidget(this);
    ListStations->setColumnCount(kColumnCount);
    ListStations->setHeaderLabels({QString::fromUtf8("Название"), QString::fromUtf8("Страна"),
                                   QString::fromUtf8("Формат"), QString::fromUtf8("Битрейт"),
                                   QString::fromUtf8("Голоса / клики")});
    ListStations->setRootIsDecorated(false);
    ListStations->setUniformRowHeights(true);
    ListStations->setAllColumnsShowFocus(true);
    ListStations->setSelectionMode(QAbstractItemView::SingleSelection);
    ListStations->header()->setStretchLastSection(false);
    ListStations->header()->setSectionResizeMode(kName, QHeaderView::Stretch);
    ListStations->setColumnWidth(kCountry, 140);
    ListStations->setColumnWidth(kCodec, 60);
    ListStations->setColumnWidth(kBitrate, 80);
    ListStations->setColumnWidth(kPopularity, 110);
    ListStations->setToolTip(QString::fromUtf8("Двойной щелчок или Enter включает станцию"));
    connect(ListStations, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ListStationsActivated(item); });
    connect(ListStations, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ButtonStore->setEnabled(StationOf(item) != nullptr); });

    LabelStatus = new QLabel(this);
    LabelStatus->setTextFormat(Qt::PlainText);
    LabelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ButtonStore = new QPushButton(QString::fromUtf8("Записать в станцию N..."), this);
    ButtonStore->setEnabled(false);
    connect(ButtonStore, &QPushButton::clicked, this, &TFormDirectory::ButtonStoreClick);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(LabelStatus, 1);
    bottom->addWidget(ButtonStore);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(ListStations, 1);
    layout->addLayout(bottom);

    connect(Client, &DirectoryClient::SearchFinished, this, &TFormDirectory::ClientSearchFinished);
}

void TFormDirectory::ShowStatus(const QString& text)
{
    LabelStatus->setText(text);
}

void TFormDirectory::ButtonFindClick()
{
    ShowStatus(QString::fromUtf8("Ищем…"));
    Client->Search({EditName->text(), EditTag->text(), EditCountry->text(), EditLanguage->text()});
}

void TFormDirectory::ClientSearchFinished(const DirectoryResult& result)
{
    // A search that failed leaves the stations found before where they are.
    if (!result.failure.isEmpty()) {
        ShowStatus(result.failure);
        return;
    }
    // A question about a station of the old list has nothing left to ask.
    if (chooser_) chooser_->reject();
    ListStations->clear();
    found_ = result.stations;
    if (found_.empty()) {
        ShowStatus(QString::fromUtf8("Ничего не найдено"));
        return;
    }
    const int total = static_cast<int>(found_.size());
    const int shown = std::min(total, kShownLimit);
    QList<QTreeWidgetItem*> items;
    items.reserve(shown);
    for (int i = 0; i < shown; ++i)
        items.append(StationItem(found_[static_cast<std::size_t>(i)], i));
    ListStations->addTopLevelItems(items);
    ListStations->setCurrentItem(items.front());
    if (shown < total)
        ShowStatus(QString::fromUtf8("Найдено станций: %1, показаны первые %2 из %1. "
                                     "Уточните поиск.")
                       .arg(total)
                       .arg(shown));
    else
        ShowStatus(QString::fromUtf8("Найдено станций: %1").arg(total));
}

const DirectoryStation* TFormDirectory::StationOf(const QTreeWidgetItem* item) const
{
    if (item == nullptr) return nullptr;
    const int index = item->data(kName, Qt::UserRole).toInt();
    if (index < 0 || index >= static_cast<int>(found_.size())) return nullptr;
    return &found_[static_cast<std::size_t>(index)];
}

void TFormDirectory::ListStationsActivated(QTreeWidgetItem* item)
{
    const DirectoryStation* station = StationOf(item);
    if (station == nullptr || !play) return;
    // Copied first: playing may run the event loop, and a search that ends
    // meanwhile replaces the list.
    const DirectoryStation chosen = *station;
    play(Bytes(chosen.address));
    Client->CountClick(chosen.uuid);
    ShowStatus(QString::fromUtf8("Включена станция «%1»").arg(chosen.name));
}

void TFormDirectory::ButtonStoreClick()
{
    const QTreeWidgetItem* item = ListStations->currentItem();
    const DirectoryStation* station = StationOf(item);
    if (station == nullptr || chooser_) return;
    chooserStation_ = item->data(kName, Qt::UserRole).toInt();
    chooser_ = new TSlotChooser(this, station->name, slotAddress);
    chooser_->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser_, &QDialog::accepted, this, &TFormDirectory::SlotChooserAccepted);
    chooser_->open();
}

void TFormDirectory::SlotChooserAccepted()
{
    const int slot = chooser_ ? chooser_->ChosenSlot() : -1;
    if (slot < 0 || chooserStation_ < 0 || chooserStation_ >= static_cast<int>(found_.size()))
        return;
    const DirectoryStation& station = found_[static_cast<std::size_t>(chooserStation_)];
    if (store && store(slot, Bytes(station.address)))
        ShowStatus(QString::fromUtf8("Станция %1: записана «%2»").arg(slot + 1).arg(station.name));
    else
        ShowStatus(QString::fromUtf8("Не удалось записать станцию %1").arg(slot + 1));
}
