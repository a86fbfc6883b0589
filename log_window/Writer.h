// The listening log: a window whose edit box holds a running record of the
// program's run (switched on, stations tuned, titles heard, switched off).
// The record grows from start-up to shutdown whether or not the window is
// shown; at shutdown it is written to a dated file in the program's folder,
// and the user can save it under any name at any time.
//
// Everything here runs on the user-interface thread, where the shared
// playback state of Main.h is written too.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

class QFileDialog;
class QPlainTextEdit;
class QTimer;
class QToolButton;
class TFormMain;

class TFormWriter : public QWidget {
    Q_OBJECT
public:
    // Builds the window hidden, runs FormCreate and starts the timer. main
    // must outlive this window (the program destroys the log first); the
    // timer's ticks read it, nothing else does.
    explicit TFormWriter(TFormMain* main);
    // Runs FormDestroy: the shutdown record and the automatic log file.
    ~TFormWriter() override;

    // The outer size and screen position the window first takes.
    static constexpr int kOuterWidth = 586;
    static constexpr int kOuterHeight = 416;
    static constexpr int kLeft = 403;
    static constexpr int kTop = 134;

    // The controls, named as the program's handlers name them.
    QWidget* ToolBar1;
    QWidget* ToolButton1;  // the 8-wide gap before the save button
    QToolButton* SpeedButtonSaveInfo;
    QWidget* ToolButton2;  // the 33-wide gap after it, which carries the hint
    QPlainTextEdit* Memo;  // the log itself; each appended line keeps its bytes
    QTimer* Timer;
    QFileDialog* SaveDialogInfo = nullptr;  // made on the first save

    // Where the automatic log file goes: the program's folder, with its
    // trailing separator. Tests point it elsewhere.
    std::string AutoLogFolder;

    // Asks where to save the log, proposing proposed (a name or the path
    // chosen last time); returns the chosen path, or an empty text when the
    // user cancels. Runs SaveDialogInfo; tests put their own answer here.
    std::function<QString(const QString& proposed)> ChooseSavePath;

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void TimerTimer();
    void SpeedButtonSaveInfoClick();

    // Appends one line (the program's bytes) to the log, shown by the text
    // rule.
    void AppendLine(const std::string& bytes);
    // Appends one line of the given bytes that the log shows as shown. The
    // bytes stay with the line: while it reads as it was appended, the files
    // hold it as those bytes.
    void AppendLine(const std::string& bytes, const QString& shown);
    // The whole log as a file holds it, lines joined by CR LF: each line the
    // program appended as its own bytes, a line the user typed or changed by
    // the text rule.
    std::string LogBytes() const;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceControls();
    // Writes the log to path through a temporary file beside it, so that an
    // interrupted write never leaves half a log. A file that cannot be made
    // is reported with the framework's "Cannot create file" box.
    void WriteLogFile(const QString& path);
    QString RunSaveDialog(const QString& proposed);

    TFormMain* main_;
    QString lastSavePath_;
    bool sized_ = false;
};
