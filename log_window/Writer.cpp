#include "Writer.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "Main.h"
#include "folders.h"
#include "texts.h"
#include "program_font.h"
#include "shell.h"
#include "status_bar.h"
#include "writer_rules.h"

namespace {

constexpr int kToolBarHeight = 29;

// The save button's picture: a floppy disk with its shutter and label.
QIcon SavePicture()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(30, 40, 70));
    painter.setBrush(QColor(45, 95, 175));
    painter.drawRect(1, 1, 13, 13);
    painter.setBrush(QColor(200, 205, 215));
    painter.drawRect(4, 1, 7, 5);
    painter.fillRect(8, 2, 2, 3, QColor(30, 40, 70));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRect(3, 8, 9, 6);
    painter.drawLine(5, 10, 10, 10);
    painter.drawLine(5, 12, 10, 12);
    return QIcon(pixmap);
}

QString FromBytes(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The text of the blocks from first to last, joined by '\n'.
QString TextOfBlocks(const QTextBlock& first, const QTextBlock& last)
{
    QString text = first.text();
    for (QTextBlock block = first; block != last;) {
        block = block.next();
        text += QChar(u'\n') + block.text();
    }
    return text;
}

// A line the program appended, kept on its first block: the bytes it was made
// from, and how it read in the log. A title with line breaks of its own
// takes several blocks.
class AppendedLine : public QTextBlockUserData {
public:
    AppendedLine(std::string bytes, int blocks, QString text)
        : bytes_(std::move(bytes)), blocks_(blocks), text_(std::move(text))
    {
    }

    const std::string& Bytes() const { return bytes_; }

    // Whether the line still reads as it was appended from first on, with
    // nothing typed, removed, split or joined; its last block then in last.
    bool Unchanged(const QTextBlock& first, QTextBlock& last) const
    {
        last = first;
        for (int i = 1; i < blocks_; ++i) {
            last = last.next();
            if (!last.isValid()) return false;
        }
        return TextOfBlocks(first, last) == (text_.isNull() ? Shown(bytes_) : text_);
    }

private:
    std::string bytes_;
    int blocks_;
    // How the line read, its blocks joined by '\n'. Null for the usual line,
    // one block that reads as the text rule shows its bytes: most lines keep
    // nothing but their bytes.
    QString text_;
};

}  // namespace

TFormWriter::TFormWriter(TFormMain* main) : main_(main)
{
    setWindowTitle(QStringLiteral("FormWriter"));
    setFont(SansSerifFont(11));
    // A log left open must not keep the program running once the main
    // window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    move(kLeft, kTop);
    resize(kOuterWidth, kOuterHeight);

    ToolBar1 = new QWidget(this);
    ToolButton1 = new QWidget(ToolBar1);
    ToolButton1->setGeometry(0, 2, 8, 22);
    SpeedButtonSaveInfo = new QToolButton(ToolBar1);
    SpeedButtonSaveInfo->setGeometry(8, 2, 23, 22);
    SpeedButtonSaveInfo->setIcon(SavePicture());
    SpeedButtonSaveInfo->setIconSize(QSize(16, 16));
    SpeedButtonSaveInfo->setAutoRaise(true);
    SpeedButtonSaveInfo->setFocusPolicy(Qt::NoFocus);
    SpeedButtonSaveInfo->setCursor(Qt::PointingHandCursor);
    // The hint sits on the gap beside the button, not on the button.
    ToolButton2 = new QWidget(ToolBar1);
    ToolButton2->setGeometry(31, 2, 33, 22);
    ToolButton2->setToolTip(QString::fromUtf8("Записать"));
    connect(SpeedButtonSaveInfo, &QToolButton::clicked, this,
            &TFormWriter::SpeedButtonSaveInfoClick);

    Memo = new QPlainTextEdit(this);
    Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The log only grows: an undo history would keep a second record of it,
    // and would let the user undo the program's own lines.
    Memo->setUndoRedoEnabled(false);
    PlaceControls();

    AutoLogFolder = Folders().autoLogFolder;
    lastSavePath_ = QString::fromUtf8("Прослушанные песни");
    ChooseSavePath = [this](const QString& proposed) { return RunSaveDialog(proposed); };

    Timer = new QTimer(this);
    Timer->setInterval(5000);
    connect(Timer, &QTimer::timeout, this, &TFormWriter::TimerTimer);

    FormCreate();
    Timer->start();
}

TFormWriter::~TFormWriter()
{
    // A message box during the shutdown runs an event loop: no tick may add
    // to the log after its shutdown record.
    Timer->stop();
    FormDestroy();
}

void TFormWriter::showEvent(QShowEvent* event)
{
    // The size is given with the frame, which the desktop reports once the
    // window is on the screen; where it reports none, the frame is taken as
    // having no size.
    if (!sized_) {
        sized_ = true;
        const QMargins frame =
            windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
        resize(kOuterWidth - frame.left() - frame.right(),
               kOuterHeight - frame.top() - frame.bottom());
    }
    QWidget::showEvent(event);
}

void TFormWriter::resizeEvent(QResizeEvent* event)
{
    PlaceControls();
    QWidget::resizeEvent(event);
}

// The toolbar across the top, the log filling the rest.
void TFormWriter::PlaceControls()
{
    ToolBar1->setGeometry(0, 0, width(), kToolBarHeight);
    Memo->setGeometry(0, kToolBarHeight, width(), std::max(0, height() - kToolBarHeight));
}

void TFormWriter::FormCreate()
{
    const LogTime now = LocalLogTime();
    AppendLine(SeparatorLine());
    AppendLine(ProgramLine());
    AppendLine(SwitchedOnLine(now));
    AppendLine(SeparatorLine());
}

void TFormWriter::TimerTimer()
{
    // The texts are those of the moment of the tick, not of the moment the
    // station was named or failed.
    if (NewStationFlag != 0) {
        NewStationFlag = 0;
        AppendLine(StationGapLine());
        const std::string& status = main_->StatusBar->Text(0);
        const std::string address = main_->EditText();
        AppendLine(StationLine(StationIndex, status, address),
                   ShownStationLine(StationIndex, status, address));
    }
    main_->SetCaption(CaptionPrefix, CurrentTitle);
    // Only the title logged last is compared: a title that comes back after
    // another one, or after none, is written again.
    if (CurrentTitle != LastLoggedTitle) {
        LastLoggedTitle = CurrentTitle;
        AppendLine(TitleLine(CurrentTitle));
    }
}

void TFormWriter::SpeedButtonSaveInfoClick()
{
    const QString path = ChooseSavePath ? ChooseSavePath(lastSavePath_) : QString();
    if (path.isEmpty()) return;
    lastSavePath_ = path;
    WriteLogFile(path);
}

void TFormWriter::FormDestroy()
{
    const LogTime now = LocalLogTime();
    AppendLine(SeparatorLine());
    AppendLine(SwitchedOffLine(now));
    AppendLine(SeparatorLine());
    // An installed program's log folder is made when first needed.
    MakeFolderOf(AutoLogFolder);
    WriteLogFile(FromBytes(AutoLogFolder + AutoLogFileName(now)));
}

void TFormWriter::AppendLine(const std::string& bytes)
{
    AppendLine(bytes, Shown(bytes));
}

void TFormWriter::AppendLine(const std::string& bytes, const QString& shown)
{
    // A cursor of its own at the end: the user's caret and selection stay
    // where they are, and nothing reads the whole log.
    QTextDocument* document = Memo->document();
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    const bool lastLineEmpty = end.block().length() <= 1;
    const int start = end.position() + (lastLineEmpty ? 0 : 1);
    end.insertText(AppendedText(lastLineEmpty, shown));

    // The blocks the line took, as the document split it.
    QTextBlock first = document->findBlock(start);
    const QTextBlock last = lastLineEmpty ? end.block().previous() : end.block();
    QString text = TextOfBlocks(first, last);
    if (text == Shown(bytes)) text = QString();
    first.setUserData(
        new AppendedLine(bytes, last.blockNumber() - first.blockNumber() + 1, std::move(text)));
}

std::string TFormWriter::LogBytes() const
{
    const QTextDocument* document = Memo->document();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(document->characterCount() + document->blockCount()));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block != document->begin()) bytes += "\r\n";
        const auto* line = dynamic_cast<const AppendedLine*>(block.userData());
        QTextBlock last;
        if (line != nullptr && line->Unchanged(block, last)) {
            bytes += line->Bytes();
            block = last;
        } else {
            bytes += LogFileBytes(block.text());
        }
    }
    return bytes;
}

void TFormWriter::WriteLogFile(const QString& path)
{
    const std::string bytes = LogBytes();
    const auto size = static_cast<qint64>(bytes.size());
    QSaveFile file(path);
    // QSaveFile removes its temporary file itself when the write fails.
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(bytes.data(), size) == size && file.commit();
    if (!written) {
        const std::string text = "Cannot create file " + QFile::encodeName(path).toStdString();
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
    }
}

QString TFormWriter::RunSaveDialog(const QString& proposed)
{
    if (SaveDialogInfo == nullptr) {
        SaveDialogInfo = new QFileDialog(this);
        // Qt's own dialog: it replaces a file without asking on every
        // desktop, and shows the filters by their names alone.
        SaveDialogInfo->setOption(QFileDialog::DontUseNativeDialog);
        SaveDialogInfo->setOption(QFileDialog::DontConfirmOverwrite);
        SaveDialogInfo->setOption(QFileDialog::HideNameFilterDetails);
        SaveDialogInfo->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialogInfo->setFileMode(QFileDialog::AnyFile);
        // "*.*" on Windows matches every file; here that is "*".
        SaveDialogInfo->setNameFilters({QString::fromUtf8("Текстовые файлы *.log (*.log)"),
                                        QString::fromUtf8("Все файлы (*)")});
        SaveDialogInfo->setDefaultSuffix(QStringLiteral("log"));
    }
    // A bare name is proposed in the current folder, as the first time.
    SaveDialogInfo->selectFile(QFileInfo(proposed).absoluteFilePath());
    if (SaveDialogInfo->exec() != QDialog::Accepted) return {};
    const QStringList files = SaveDialogInfo->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}
