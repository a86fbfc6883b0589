// The listening log window beside a real main window on the offscreen
// platform: its start-up and shutdown records, what a tick writes, the
// user's own edits, saving through the dialog, and files that cannot be made.
// Ticks are driven by hand; the window's own timer is stopped once checked.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <set>

#include "StationAddresses.h"
#include "Writer.h"
#include "program_test.h"
#include "writer_rules.h"

namespace program_test {
namespace {

// Lines as the log file holds them: each ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::string Header(const LogTime& time)
{
    return Lines({SeparatorLine(), ProgramLine(), SwitchedOnLine(time), SeparatorLine()});
}

std::string Footer(const LogTime& time)
{
    return Lines({SeparatorLine(), SwitchedOffLine(time), SeparatorLine()});
}

std::string Decorated(const std::string& address, int number)
{
    return address + Ansi("    \\ Станция ") + std::to_string(number) + " \\";
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

struct WriterTest : ProgramTest {
    std::unique_ptr<TFormWriter> writer;
    LogTime createdFrom, createdTo;  // the log's header was written in between

    void TearDown() override
    {
        writer.reset();
        ProgramTest::TearDown();
    }

    // The main window, its start-up connection ended, then the log window.
    void StartBoth()
    {
        Start();
        ASSERT_TRUE(WorkerDone());
        NewWriter();
    }

    void NewWriter()
    {
        writer.reset();
        createdFrom = LocalLogTime();
        writer = std::make_unique<TFormWriter>(window.get());
        createdTo = LocalLogTime();
        writer->AutoLogFolder = folder + "/";
        window->FormWriter = writer.get();
        EXPECT_TRUE(writer->Timer->isActive());
        EXPECT_EQ(writer->Timer->interval(), 5000);
        writer->Timer->stop();
    }

    std::size_t HeaderSize() const
    {
        const std::string log = writer->LogBytes();
        for (const LogTime& time : {createdFrom, createdTo})
            if (log.rfind(Header(time), 0) == 0) return Header(time).size();
        ADD_FAILURE() << "the log does not begin with the start-up record:\n" << log;
        return 0;
    }

    // What the ticks and the user added after the start-up record.
    std::string Body() const { return writer->LogBytes().substr(HeaderSize()); }

    // The save dialog's answers, in turn; what it was asked to propose.
    std::vector<QString> answers;
    std::vector<QString> proposed;
    void AnswerSaveDialogs()
    {
        writer->ChooseSavePath = [this](const QString& path) {
            proposed.push_back(path);
            if (answers.empty()) return QString();
            const QString answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
    }
    void Save()
    {
        writer->show();
        QTest::mouseClick(writer->SpeedButtonSaveInfo, Qt::LeftButton);
    }
};

TEST_F(WriterTest, StartsHiddenWithTheStartUpRecordAndOnlyHidesWhenClosed)
{
    StartBoth();
    EXPECT_TRUE(writer->isHidden());
    EXPECT_EQ(writer->windowTitle(), "FormWriter");
    EXPECT_EQ(writer->LogBytes().size(), HeaderSize());

    // The main window's toolbar button shows it, its close box only hides it;
    // the record stays and keeps growing meanwhile.
    QTest::mouseClick(window->SpeedButtonMemoOn, Qt::LeftButton);
    EXPECT_TRUE(writer->isVisible());
    EXPECT_EQ(writer->pos(), QPoint(TFormWriter::kLeft, TFormWriter::kTop));
    EXPECT_TRUE(writer->close());
    EXPECT_TRUE(writer->isHidden());
    NewStationFlag = 0;
    CurrentTitle = "While hidden";
    writer->TimerTimer();
    QTest::mouseClick(window->SpeedButtonMemoOn, Qt::LeftButton);
    EXPECT_TRUE(writer->isVisible());
    EXPECT_EQ(Body(), Lines({" While hidden"}));
}

TEST_F(WriterTest, ClosingTheMainWindowEndsTheProgramWhileTheLogIsShown)
{
    StartBoth();
    writer->show();
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QApplication::exit(1); });
    giveUp.start(3000);
    const bool ended = QApplication::exec() == 0;
    EXPECT_TRUE(ended) << "the shown log kept the program running";
}

TEST_F(WriterTest, ATitleIsLoggedWhenItDiffersFromTheTitleLoggedLast)
{
    StartBoth();
    NewStationFlag = 0;
    struct Tick {
        std::string title;
        bool written;  // as " " + the title
    };
    const Tick ticks[] = {
        {"", false},  // nothing was logged yet, and nothing is on air
        {"Miles Davis - So What", true},
        {"Miles Davis - So What", false},
        {"Coltrane - Naima", true},
        {"Miles Davis - So What", true},  // back after another one
        {"", true},                       // a new station connecting
        {"", false},
        {"Miles Davis - So What", true},  // back after none
        {"MILES DAVIS - SO WHAT", true},  // letter case counts
        {Ansi("Кино - Группа крови"), true},
        {"Miles Davis - So What ", true},
    };
    std::string body;
    for (const Tick& tick : ticks) {
        SCOPED_TRACE(Shown(tick.title).toStdString());
        CurrentTitle = tick.title;
        writer->TimerTimer();
        if (tick.written) body += Lines({" " + tick.title});
        EXPECT_EQ(Body(), body);
        EXPECT_EQ(LastLoggedTitle, tick.title);
        // The caption is set on every tick, changed or not.
        window->setWindowTitle("changed meanwhile");
        writer->TimerTimer();
        EXPECT_EQ(window->windowTitle(), Shown(CaptionPrefix) + Shown(tick.title));
    }
}

TEST_F(WriterTest, AStationLineQuotesTheStatusAndTheAddressBoxAsTheyAreAtTheTick)
{
    proxy.Route(StationAddresses[0],
                Station("Radio Jazz", {"StreamTitle='Miles Davis - So What';"}));
    StartBoth();
    ASSERT_EQ(NewStationFlag, 1);
    writer->TimerTimer();
    // The station line comes before the title of the same period.
    EXPECT_EQ(
        Body(),
        Lines({"  ", Ansi(" Станция 1 >> ") + "Radio Jazz = " + Decorated(StationAddresses[0], 1),
               " Miles Davis - So What"}));
    EXPECT_EQ(NewStationFlag, 0);
    EXPECT_EQ(window->windowTitle(), Shown(CaptionPrefix + "Miles Davis - So What"));

    // What counts is the texts at the tick, not when the flag was set.
    const std::size_t before = writer->LogBytes().size();
    NewStationFlag = 1;
    StationIndex = 42;
    window->StatusBar->SetText(0, "Shown when the flag was set");
    window->StatusBar->SetText(0, "Radio Blues");
    window->SetEditText("http://typed.example/live");
    writer->TimerTimer();
    writer->TimerTimer();  // the flag was cleared: nothing more
    EXPECT_EQ(writer->LogBytes().substr(before),
              Lines({"  ", Ansi(" Станция 43 >> ") + "Radio Blues = http://typed.example/live"}));

    // A station named in UTF-8 reads right beside the program's own words.
    NewStationFlag = 1;
    window->StatusBar->SetText(0, "Радио Рекорд");
    writer->TimerTimer();
    const QTextBlock last = writer->Memo->document()->lastBlock();
    EXPECT_EQ(last.text(), "");
    EXPECT_EQ(last.previous().text(),
              QString::fromUtf8(" Станция 43 >> Радио Рекорд = http://typed.example/live"));
}

TEST_F(WriterTest, AFailedConnectionLogsItsStatusWithTheLastPresetsNumber)
{
    // Nothing answers for the preset tuned at start-up, nor for a typed address.
    StartBoth();
    ASSERT_EQ(NewStationFlag, 1);
    writer->TimerTimer();
    const std::string failed = Ansi("Не могу соединиться с сервером...");
    EXPECT_EQ(Body(), Lines({"  ", Ansi(" Станция 1 >> ") + failed + " = " +
                                       Decorated(StationAddresses[0], 1)}));

    const std::string before = writer->LogBytes();
    window->SetEditText("http://nowhere.invalid/");
    window->EditInputKeyDown(13);
    ASSERT_TRUE(WorkerDone());
    writer->TimerTimer();
    EXPECT_EQ(writer->LogBytes(), before + Lines({"  ", Ansi(" Станция 1 >> ") + failed +
                                                            " = http://nowhere.invalid/"}));
}

TEST_F(WriterTest, ALineStartsALineOfItsOwnAfterTheUserRemovedTheLastBreak)
{
    Start();
    ASSERT_TRUE(WorkerDone());
    struct Case {
        const char* edit;
        std::function<void(QPlainTextEdit*)> type;
        std::function<std::string(const std::string& header)> log;  // after titles A and B
    };
    const Case cases[] = {
        {"nothing", [](QPlainTextEdit*) {},
         [](const std::string& header) { return header + " A\r\n B\r\n"; }},
        {"backspace at the end",
         [](QPlainTextEdit* memo) { QTest::keyClick(memo, Qt::Key_Backspace); },
         [](const std::string& header) {
             return header.substr(0, header.size() - 2) + "\r\n A\r\n B";
         }},
        {"a note without a break", [](QPlainTextEdit* memo) { QTest::keyClicks(memo, "my note"); },
         [](const std::string& header) { return header + "my note\r\n A\r\n B"; }},
        {"a note with a break",
         [](QPlainTextEdit* memo) {
             QTest::keyClicks(memo, "my note");
             QTest::keyClick(memo, Qt::Key_Return);
         },
         [](const std::string& header) { return header + "my note\r\n A\r\n B\r\n"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edit);
        NewWriter();
        NewStationFlag = 0;
        LastLoggedTitle.clear();
        writer->show();
        writer->Memo->setFocus();
        writer->Memo->moveCursor(QTextCursor::End);
        const std::string header = writer->LogBytes();
        c.type(writer->Memo);
        for (const char* title : {"A", "B"}) {
            CurrentTitle = title;
            writer->TimerTimer();
        }
        EXPECT_EQ(writer->LogBytes(), c.log(header));

        // Saved as the box holds it.
        const QString path = QString::fromStdString(folder + "/edited.log");
        answers = {path};
        AnswerSaveDialogs();
        Save();
        EXPECT_EQ(ReadFile(path.toStdString()), c.log(header));
    }
}

TEST_F(WriterTest, SavingWritesTheWholeLogAndProposesThePathChosenLast)
{
    StartBoth();
    AnswerSaveDialogs();
    NewStationFlag = 0;
    CurrentTitle = "Miles Davis - So What";
    writer->TimerTimer();
    const std::string saved = folder + "/saved.log";
    WriteFile(saved, std::string(10000, 'x'));  // replaced, not written over

    answers = {QString::fromStdString(saved)};
    Save();
    EXPECT_EQ(ReadFile(saved), writer->LogBytes());
    EXPECT_EQ(ReadFile(saved).substr(HeaderSize()), " Miles Davis - So What\r\n");

    // Cancelled: nothing is written, and the path proposed stays.
    CurrentTitle = "Coltrane - Naima";
    writer->TimerTimer();
    Save();
    Save();
    EXPECT_EQ(ReadFile(saved).substr(HeaderSize()), " Miles Davis - So What\r\n");
    ASSERT_EQ(proposed.size(), 3u);
    EXPECT_EQ(proposed[0], QString::fromUtf8("Прослушанные песни"));
    EXPECT_EQ(proposed[1], QString::fromStdString(saved));
    EXPECT_EQ(proposed[2], QString::fromStdString(saved));
    EXPECT_EQ(FilesIn(folder), std::set<std::string>{"saved.log"});  // no temporary file left
    EXPECT_EQ(Messages(), "");
}

// Titles and station names reach both files as the stream sent them, whatever
// their encoding; only what the user changed is written by the text rule.
TEST_F(WriterTest, StreamTextsReachBothFilesAsTheyCameAndEditedLinesByTheTextRule)
{
    StartBoth();
    AnswerSaveDialogs();
    const std::string utf8 = "Кино – Группа крови / Café Tacvba – Eres ♫";
    const std::string titles[] = {
        utf8,
        Ansi("Кино – Группа крови"),
        "Bad \x98 bytes \xFF\xC3( \xE2\x82",       // neither UTF-8 nor windows-1251
        "Radio \xD0\x9A\xD0\x98\xD0\x9D\xD0\x9E",  // windows-1251 that reads as UTF-8 too
        // Line breaks of their own.
        "Two\nlines",
        "Carriage\rreturn",
        "Crlf\r\ninside\r\n",
    };
    NewStationFlag = 1;
    StationIndex = 4;
    const std::string station = "Радио Рекорд ♫ Café";
    window->StatusBar->SetText(0, station);
    window->SetEditText("http://radio.example:8000/live");
    writer->TimerTimer();
    std::vector<std::string> lines = {
        "  ", Ansi(" Станция 5 >> ") + station + " = http://radio.example:8000/live"};
    for (const std::string& title : titles) {
        CurrentTitle = title;
        writer->TimerTimer();
        lines.push_back(" " + title);
    }
    const auto body = [&lines] {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\r\n";
        return text;
    };
    const std::string saved = folder + "/saved.log";
    answers = {QString::fromStdString(saved)};
    Save();
    EXPECT_EQ(ReadFile(saved).substr(HeaderSize()), body());

    // The user adds to the first title's line and joins the next one to it.
    QTextBlock block = writer->Memo->document()->begin();
    while (block.isValid() && block.text() != QString::fromStdString(" " + utf8))
        block = block.next();
    ASSERT_TRUE(block.isValid());
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock);
    writer->show();
    writer->Memo->setFocus();
    writer->Memo->setTextCursor(cursor);
    QTest::keyClicks(writer->Memo, "!");
    QTest::keyClick(writer->Memo, Qt::Key_Delete);
    lines[2] = Ansi(" Кино – Группа крови / Café Tacvba – Eres ♫! Кино – Группа крови");
    lines.erase(lines.begin() + 3);
    answers = {QString::fromStdString(saved)};
    Save();
    EXPECT_EQ(ReadFile(saved).substr(HeaderSize()), body());

    // The automatic file at shutdown: the same, then the shutdown record.
    const std::size_t headerSize = HeaderSize();
    const LogTime from = LocalLogTime();
    writer.reset();
    const LogTime to = LocalLogTime();
    std::string written;
    for (const LogTime& time : {from, to})
        if (std::filesystem::exists(folder + "/" + AutoLogFileName(time)))
            written = ReadFile(folder + "/" + AutoLogFileName(time));
    ASSERT_GE(written.size(), headerSize + body().size());
    EXPECT_EQ(written.substr(headerSize, body().size()), body());
    EXPECT_EQ(written.substr(headerSize + body().size()).rfind(SeparatorLine() + "\r\n", 0), 0u);
    EXPECT_EQ(Messages(), "");
}

TEST_F(WriterTest, AFileThatCannotBeMadeIsReportedAndTheLogGoesOn)
{
    StartBoth();
    AnswerSaveDialogs();
    NewStationFlag = 0;
    WriteFile(folder + "/plain-file", "not a folder");
    std::filesystem::create_directory(folder + "/a-folder");
    // Tests may run as root, whom no permission stops: a path through a
    // plain file, and a folder, cannot be files for anyone.
    for (const std::string& target : {folder + "/plain-file/log.log", folder + "/a-folder"}) {
        SCOPED_TRACE(target);
        std::filesystem::remove(folder + "/messages.log");
        const std::string log = writer->LogBytes();
        answers = {QString::fromStdString(target)};
        Save();
        EXPECT_EQ(Messages(), "Error|Cannot create file " + target + "\n");
        EXPECT_EQ(writer->LogBytes(), log);
        CurrentTitle = target;
        writer->TimerTimer();
        EXPECT_EQ(writer->LogBytes(), log + Lines({" " + target}));
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/a-folder"));
    EXPECT_EQ(ReadFile(folder + "/plain-file"), "not a folder");
    EXPECT_EQ(FilesIn(folder), (std::set<std::string>{"plain-file", "a-folder", "messages.log"}));
}

TEST_F(WriterTest, ShutdownAddsTheRecordAndReplacesTheDatedFileInTheProgramsFolder)
{
    struct Case {
        const char* run;
        std::vector<std::string> titles;  // one tick each
    };
    const Case cases[] = {{"no title ever", {}}, {"two titles", {"A", "B"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.run);
        StartBoth();
        NewStationFlag = 0;
        for (const std::string& title : c.titles) {
            CurrentTitle = title;
            writer->TimerTimer();
        }
        const std::string log = writer->LogBytes();
        const LogTime from = LocalLogTime();
        // A file of an earlier run that ended in the same second is replaced.
        for (int second = 0; second < 60; ++second) {
            LogTime time = from;
            time.second = second;
            WriteFile(folder + "/" + AutoLogFileName(time), std::string(100000, 'x'));
        }
        writer.reset();
        const LogTime to = LocalLogTime();
        bool found = false;
        for (const LogTime& time : {from, to}) {
            const std::string written = ReadFile(folder + "/" + AutoLogFileName(time));
            if (written.rfind(log, 0) != 0) continue;
            found = true;
            EXPECT_EQ(written, log + Footer(time));
            if (c.titles.empty()) {
                EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 7);
            }
        }
        EXPECT_TRUE(found) << "no automatic log file for this run";
        EXPECT_EQ(Messages(), "");
        Stop();
        for (const std::string& name : FilesIn(folder))
            std::filesystem::remove(folder + "/" + name);
    }
}

TEST_F(WriterTest, AnAutomaticFileThatCannotBeMadeIsReportedAndShutdownGoesOn)
{
    StartBoth();
    WriteFile(folder + "/plain-file", "not a folder");
    writer->AutoLogFolder = folder + "/plain-file/";
    const LogTime from = LocalLogTime();
    writer.reset();
    const LogTime to = LocalLogTime();
    const std::string messages = Messages();
    EXPECT_TRUE(messages == "Error|Cannot create file " + folder + "/plain-file/" +
                                AutoLogFileName(from) + "\n" ||
                messages == "Error|Cannot create file " + folder + "/plain-file/" +
                                AutoLogFileName(to) + "\n")
        << messages;
    Stop();
    EXPECT_NE(Settings(), "");  // the main window's own shutdown followed
}

TEST_F(WriterTest, TheSaveDialogProposesANameOffersTwoFiltersAndAddsTheExtension)
{
    StartBoth();
    WriteFile(folder + "/mylog.log", "an older log");
    struct Seen {
        QString name;
        QStringList filters;
        QString directory;
        bool askedToReplace = false;
    };
    std::vector<Seen> seen;
    // Each opening: look at the dialog, then answer it as the user would.
    const auto answer = [&](bool confirm) {
        QTimer::singleShot(0, writer.get(), [&, confirm] {
            QFileDialog* dialog = writer->SaveDialogInfo;
            ASSERT_NE(dialog, nullptr);
            Seen now;
            if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit")) now.name = name->text();
            if (auto* types = dialog->findChild<QComboBox*>("fileTypeCombo"))
                for (int i = 0; i < types->count(); ++i)
                    now.filters << types->itemText(i);
            now.directory = dialog->directory().absolutePath();
            seen.push_back(now);
            if (!confirm) return dialog->reject();
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText("mylog");
            static_cast<QDialog*>(dialog)->accept();  // the Save button
        });
    };
    // A question about replacing the file would hold the test: looked for
    // throughout the saves, it is noted, answered no, and the dialog it
    // leaves open is cancelled.
    QTimer question;
    question.setInterval(10);
    QObject::connect(&question, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (!seen.empty()) seen.back().askedToReplace = true;
            box->reject();
            if (QFileDialog* dialog = writer->SaveDialogInfo) QTimer::singleShot(0, dialog, &QDialog::reject);
        }
    });
    question.start();
    answer(true);
    Save();
    answer(false);
    Save();
    question.stop();

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].name, QString::fromUtf8("Прослушанные песни"));
    EXPECT_EQ(seen[0].filters, (QStringList{QString::fromUtf8("Текстовые файлы *.log"),
                                            QString::fromUtf8("Все файлы")}));
    EXPECT_EQ(seen[0].directory, QString::fromStdString(folder));  // the current folder
    EXPECT_FALSE(seen[0].askedToReplace);
    EXPECT_EQ(ReadFile(folder + "/mylog.log"), writer->LogBytes());
    EXPECT_EQ(seen[1].name, "mylog.log");
    EXPECT_EQ(seen[1].directory, QString::fromStdString(folder));
}

}  // namespace
}  // namespace program_test
