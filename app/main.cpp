// Program entry: the windows in their order, the message loop, and an
// orderly shutdown also when the system asks the program to end.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "About.h"
#include "Directory.h"
#include "Main.h"
#include "Option.h"
#include "Writer.h"
#include "directory_link.h"
#include "end_signals.h"
#include "folders.h"
#include "mpris.h"
#include "ondalux_version.h"
#include "program_icon.h"
#include "shell.h"
#include "stream_worker.h"

namespace {

// The application icon from "rss.ico" in the current folder; the program's
// own when that file is missing or unreadable.
QIcon ApplicationIcon()
{
    if (QFile::exists("rss.ico")) {
        const QIcon icon("rss.ico");
        if (!icon.availableSizes().isEmpty()) return icon;
    }
    return ProgramIcon();
}

// --help and --version are answered without a window; --verbose traces the
// stations' starts on standard error; every other option is Qt's. Returns
// the exit status when one was answered, else -1.
int AnswerCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Ondalux %s\n", ONDALUX_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: ondalux [--verbose] [Qt options]\n"
                        "       ondalux --help | --version\n"
                        "Ondalux plays internet radio stations; its window is in Russian.\n"
                        "--verbose writes how each station's start goes on standard error.\n"
                        "Settings: Ondalux.ini in the current folder, or for an installed program\n"
                        "$XDG_CONFIG_HOME/ondalux/; listening logs beside the program, or in\n"
                        "$XDG_STATE_HOME/ondalux/logs/. See ondalux(1).\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--verbose") == 0) StreamTrace = stderr;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const int answered = AnswerCommandLine(argc, argv); answered >= 0) return answered;
    CatchEndSignals();
    QApplication application(argc, argv);
    // Where the settings and logs go is settled before any window reads or
    // writes them.
    Folders();
    SetApplicationTitle(QString::fromUtf8("Нет Станции"));

    auto formMain = std::make_unique<TFormMain>();
    auto formOption = std::make_unique<TFormOption>();
    application.setWindowIcon(ApplicationIcon());
    auto aboutForm = std::make_unique<TAboutForm>();
    auto formWriter = std::make_unique<TFormWriter>(formMain.get());
    formMain->FormOption = formOption.get();
    formMain->AboutForm = aboutForm.get();
    formMain->FormWriter = formWriter.get();

    // The station directory, opened from the options window. What it plays
    // goes into the address box and starts as Enter there would.
    std::unique_ptr<TFormDirectory> formDirectory;
    LinkDirectory(formDirectory, *formMain, *formOption);

    // The desktop's media controls, when there is a session bus.
    auto mpris = std::make_unique<MprisService>(formMain.get());
    mpris->Register(QDBusConnection::sessionBus());

    OnEndSignal(&application, [&] {
        // The system is ending the program: a file that cannot be written
        // is reported on standard error, not in a box that would hold the
        // shutdown until somebody pressed OK.
        WriteMessageBoxesToStandardError();
        formMain->close();
    });

    formMain->show();
    application.exec();

    // The windows go in the reverse order of their making; the main window's
    // end frees the stream and the library and writes the settings.
    mpris.reset();  // off the bus before the window it speaks for goes
    formMain->FormOption = formMain->AboutForm = formMain->FormWriter = nullptr;
    // The directory's callbacks name the main window.
    formDirectory.reset();
    formWriter.reset();  // the log's footer and its file
    aboutForm.reset();
    formOption.reset();
    formMain.reset();

    // A worker still opening a station was cut short by the library's end;
    // give it a moment to leave, but never wait long.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (WorkerBusy.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (WorkerBusy.load()) std::_Exit(0);
    return 0;
}
