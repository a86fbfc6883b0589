// Whether closing a window would end the program. Qt ends it when the last
// window closes, but only inside the application's own event loop, so the
// window is closed there.
#pragma once

#include <QApplication>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

// Shows the window, closes it from the application's event loop and reports
// whether the program carried on. The loop ends by itself after a moment.
inline bool ProgramOutlivesClosing(QWidget& window)
{
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.close(); });
    QTimer::singleShot(200, qApp, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    return lastClosed.isEmpty();
}
