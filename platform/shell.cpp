#include "shell.h"

#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QDesktopServices>
#include <QFile>
#include <QScreen>
#include <QMessageBox>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "ansi_text.h"
#include "window_messages.h"

// When ONDALUX_MESSAGE_LOG names a file, message boxes and beeps are written
// there, one line each, instead of being shown or heard: "beep" for a beep,
// "caption|text" in UTF-8 for a box, with each line break of the text written
// as the two characters "\n". The program's tests read it on the offscreen
// platform, where nobody could press OK.

namespace {

const char* MessageLogPath()
{
    const char* path = std::getenv("ONDALUX_MESSAGE_LOG");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

bool AppendToMessageLog(const char* path, const std::string& line)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::FILE* log = std::fopen(path, "ab");
    if (log == nullptr)
        return false;
    const bool written = std::fwrite(line.data(), 1, line.size(), log) == line.size();
    return std::fclose(log) == 0 && written;
}

std::string OneLine(std::string_view text)
{
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\r' || text[i] == '\n')
            line += "\\n";
        else
            line += text[i];
    }
    return line;
}

QGuiApplication* GuiApplication()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

QString Shown(const char* text)
{
    return QString::fromStdString(platform::DisplayText(text == nullptr ? "" : text));
}

const char* const kFlashedProperty = "ondaluxCaptionFlashed";
const char* const kCaptionProperty = "ondaluxCaption";
const char* const kFlashedCaptionProperty = "ondaluxFlashedCaption";

// A caption in its flashed look: the same words between two bold arrows,
// which the eye catches in the title bar and on the taskbar.
QString FlashedCaption(const QString& caption)
{
    return QString::fromUtf8("\u00BB ") + caption + QString::fromUtf8(" \u00AB");
}

}  // namespace

BOOL MessageBeep(UINT /*type*/)
{
    if (const char* log = MessageLogPath())
        return AppendToMessageLog(log, "beep\n") ? 1 : 0;
    QGuiApplication* application = GuiApplication();
    if (application == nullptr)
        return 0;
    if (QThread::currentThread() == application->thread())
        QApplication::beep();
    else
        QMetaObject::invokeMethod(application, [] { QApplication::beep(); }, Qt::QueuedConnection);
    return 1;
}

BOOL FlashWindow(HWND window, BOOL invert)
{
    QWidget* widget = WidgetOf(window);
    if (widget == nullptr)
        return 0;
    QWidget* topLevel = widget->window();
    const bool flashed = topLevel->property(kFlashedProperty).toBool();
    const bool nowFlashed = invert != 0 && !flashed && topLevel->isVisible();
    // Qt cannot draw a caption in its inactive look, and desktops ignore a
    // request for attention from the window that has the focus: the caption's
    // text itself changes, and changes back at the next flash. The caption
    // the window had is given back only if nobody changed it meanwhile.
    if (nowFlashed != flashed) {
        topLevel->setProperty(kFlashedProperty, nowFlashed);
        if (nowFlashed) {
            const QString caption = topLevel->windowTitle();
            const QString look = FlashedCaption(caption);
            topLevel->setProperty(kCaptionProperty, caption);
            topLevel->setProperty(kFlashedCaptionProperty, look);
            topLevel->setWindowTitle(look);
        } else if (topLevel->windowTitle() == topLevel->property(kFlashedCaptionProperty).toString()) {
            topLevel->setWindowTitle(topLevel->property(kCaptionProperty).toString());
        }
    }
    if (!topLevel->isVisible())
        return 0;
    // A window in the background also asks for the user's attention, which
    // desktops show on its taskbar button.
    if (invert != 0 && !topLevel->isActiveWindow())
        QApplication::alert(topLevel, 300);
    return flashed ? 1 : 0;
}

std::intptr_t ShellExecuteA(HWND /*owner*/, const char* /*operation*/, const char* file,
                            const char* /*parameters*/, const char* /*directory*/, int /*show*/)
{
    constexpr std::intptr_t kOpened = 42;
    constexpr std::intptr_t kFileNotFound = 2;
    if (file == nullptr || *file == '\0')
        return kFileNotFound;
    const QUrl url = QUrl::fromEncoded(QByteArray(file));
    if (!url.isValid())
        return kFileNotFound;
    return QDesktopServices::openUrl(url) ? kOpened : kFileNotFound;
}

namespace {

bool g_boxesToStandardError = false;

}  // namespace

void WriteMessageBoxesToStandardError() { g_boxesToStandardError = true; }

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type)
{
    constexpr int kOk = 1;
    constexpr UINT kIconMask = 0x000000F0;
    const bool isError = (type & kIconMask) == MB_ICONERROR;
    QString title;
    if (caption != nullptr)
        title = Shown(caption);
    else if (isError)
        title = QStringLiteral("Error");
    else if (QCoreApplication::instance() != nullptr)
        title = QGuiApplication::applicationDisplayName();

    if (const char* log = MessageLogPath()) {
        const std::string line = OneLine(title.toStdString()) + "|" +
                                 OneLine(platform::DisplayText(text == nullptr ? "" : text)) + "\n";
        return AppendToMessageLog(log, line) ? kOk : 0;
    }
    if (g_boxesToStandardError) {
        const std::string line = OneLine(title.toStdString()) + ": " +
                                 OneLine(platform::DisplayText(text == nullptr ? "" : text)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        return kOk;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return 0;
    QMessageBox box(isError ? QMessageBox::Critical : QMessageBox::NoIcon, title, Shown(text),
                    QMessageBox::Ok, WidgetOf(owner));
    // The text may carry a file name or a server's words: never markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return kOk;
}

std::string ProgramFolder()
{
    std::string folder;
    if (QCoreApplication::instance() != nullptr) {
        folder = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    } else {
        char path[4096];
        const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
        if (length > 0 && static_cast<std::size_t>(length) < sizeof path)
            folder.assign(path, static_cast<std::size_t>(length));
        folder = folder.substr(0, folder.rfind('/') + 1);
    }
    if (folder.empty())
        return "./";
    if (folder.back() != '/')
        folder.push_back('/');
    return folder;
}

void CentreOnScreen(QWidget* window)
{
    if (const QScreen* screen = window->screen()) {
        const QRect area = screen->availableGeometry();
        const QRect frame = window->frameGeometry();
        window->move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
}
