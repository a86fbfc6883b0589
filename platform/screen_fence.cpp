#include "screen_fence.h"

#include <QGuiApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if QT_CONFIG(xcb) && __has_include(<xcb/xcb.h>) && defined(ONDALUX_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#define SCREEN_FENCE_XCB 1
#endif

namespace screen {

#ifdef SCREEN_FENCE_XCB

namespace {

xcb_connection_t* Connection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

// Whether the mapping that holds address is a shared one, from the
// process's own map ("start-end perms ...", perms "rw-s" when shared).
bool InSharedMapping(std::uintptr_t address)
{
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return false;
    bool shared = false;
    char line[512];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned long long start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line, "%llx-%llx %4s", &start, &end, perms) != 3) continue;
        if (address >= start && address < end) {
            shared = perms[3] == 's';
            break;
        }
        // Lines that end without a newline are longer than the buffer: skip
        // the rest of such a line.
        while (std::strchr(line, '\n') == nullptr && std::fgets(line, sizeof line, maps) != nullptr) {
        }
    }
    std::fclose(maps);
    return shared;
}

}  // namespace

bool SharedWithServer(const void* bits)
{
    if (bits == nullptr || Connection() == nullptr) return false;
    return InSharedMapping(reinterpret_cast<std::uintptr_t>(bits));
}

void FlushFence::Mark()
{
    xcb_connection_t* connection = Connection();
    if (connection == nullptr) return;
    Pass();
    sequence_ = xcb_get_input_focus(connection).sequence;
    marked_ = true;
    xcb_flush(connection);
}

bool FlushFence::Pass()
{
    if (!marked_) return false;
    marked_ = false;
    xcb_connection_t* connection = Connection();
    if (connection == nullptr) return false;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    bool waited = false;
    if (xcb_poll_for_reply(connection, sequence_, &reply, &error) == 0) {
        waited = true;
        reply = xcb_wait_for_reply(connection, sequence_, &error);
    }
    std::free(reply);
    std::free(error);
    return waited;
}

#else

bool SharedWithServer(const void*) { return false; }
void FlushFence::Mark() {}
bool FlushFence::Pass() { return false; }

#endif

}  // namespace screen
