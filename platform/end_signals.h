// SIGTERM, SIGINT and SIGHUP end the program as its close box would. The
// handlers only write a byte to a socket pair; the event loop reads it and
// runs the program's own shutdown, so nothing unsafe happens in a handler.
#pragma once

#include <functional>

class QObject;

// Installs the handlers. Call first thing in main, before anything that
// could take a while: a signal before it ends the program the default way.
void CatchEndSignals();

// Runs action on the thread of owner's event loop, once for each end signal
// caught (also one caught before this call). The watch lives as long as
// owner. Needs the QCoreApplication; main thread.
void OnEndSignal(QObject* owner, std::function<void()> action);
