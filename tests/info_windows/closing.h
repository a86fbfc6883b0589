// Whether closing a window would end the program. Qt ends it when the last
// window closes, but only inside the application's own event loop, so the
// window is closed there.
#pragma once

#include <QApplication>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

// Shows the window, closes it from the application's event loop and reports
// whether the program carried on. Qt decides about its last window while the
// window closes and queues the quit it decides on, so the loop ends once
// what was queued by then has run.
inline bool ProgramOutlivesClosing(QWidget& window)
{
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    window.show();
    QTimer::singleShot(0, &window, [&window] {
        window.close();
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    QApplication::exec();
    return lastClosed.isEmpty();
}
