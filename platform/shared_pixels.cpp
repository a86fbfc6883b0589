#include "shared_pixels.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if QT_CONFIG(xcb) && defined(ONDALUX_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#define SHARED_PIXELS_XCB 1
#endif

namespace screen {

#ifdef SHARED_PIXELS_XCB

namespace {

// Slots of the shared memory, and so writes to the server for each reply.
constexpr unsigned kSlots = 4;

xcb_connection_t* Connection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

template <typename Reply>
struct Freed {
    Reply* reply;
    ~Freed() { std::free(reply); }
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

// Whether the server shows window's pixels as RGB32 holds them: 32 bits a
// pixel in the host's byte order, red, green and blue in the low three
// bytes. Returns the window's depth, 0 when it does not.
int PlainDepth(xcb_connection_t* connection, xcb_window_t window)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const bool littleEndian = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    if (setup->image_byte_order != (littleEndian ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST)) return 0;
    const auto geometryCookie = xcb_get_geometry(connection, window);
    const auto attributesCookie = xcb_get_window_attributes(connection, window);
    const Freed<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(connection, geometryCookie, nullptr)};
    const Freed<xcb_get_window_attributes_reply_t> attributes{
        xcb_get_window_attributes_reply(connection, attributesCookie, nullptr)};
    if (!geometry || !attributes || (geometry->depth != 24 && geometry->depth != 32)) return 0;

    bool pixelsOf32Bits = false;
    for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem > 0; xcb_format_next(&format))
        if (format.data->depth == geometry->depth) pixelsOf32Bits = format.data->bits_per_pixel == 32;
    if (!pixelsOf32Bits) return 0;
    for (auto screen = xcb_setup_roots_iterator(setup); screen.rem > 0; xcb_screen_next(&screen))
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem > 0; xcb_depth_next(&depth))
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem > 0; xcb_visualtype_next(&visual))
                if (visual.data->visual_id == attributes->visual)
                    return visual.data->red_mask == 0xFF0000u && visual.data->green_mask == 0xFF00u &&
                                   visual.data->blue_mask == 0xFFu
                               ? geometry->depth
                               : 0;
    return 0;
}

}  // namespace

std::unique_ptr<SharedPixels> SharedPixels::Make(QWindow* window, QSize size)
{
    xcb_connection_t* connection = Connection();
    if (connection == nullptr || window == nullptr || size.isEmpty() || size.width() > 0x7FFF ||
        size.height() > 0x7FFF || qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        return nullptr;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (extension == nullptr || !extension->present) return nullptr;
    const auto drawable = static_cast<xcb_window_t>(window->winId());
    const int depth = PlainDepth(connection, drawable);
    if (depth == 0) return nullptr;

    const std::size_t slotBytes = static_cast<std::size_t>(size.width()) * static_cast<std::size_t>(size.height()) * 4;
    // The server finds a block by an offset of 32 bits.
    if (slotBytes > UINT32_MAX / kSlots) return nullptr;
    const int id = shmget(IPC_PRIVATE, slotBytes * kSlots, IPC_CREAT | 0600);
    if (id == -1) return nullptr;
    void* memory = shmat(id, nullptr, 0);
    if (memory == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return nullptr;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(connection);
    // A server on another machine cannot attach it; that is the answer.
    xcb_generic_error_t* error = xcb_request_check(connection, xcb_shm_attach_checked(connection, segment, id, 0));
    // Gone once both sides have let go of it, whatever happens to the program.
    shmctl(id, IPC_RMID, nullptr);
    if (error != nullptr) {
        std::free(error);
        shmdt(memory);
        return nullptr;
    }

    std::unique_ptr<SharedPixels> pixels(new SharedPixels);
    pixels->connection_ = connection;
    pixels->memory_ = memory;
    pixels->size_ = size;
    pixels->slotBytes_ = slotBytes;
    pixels->segment_ = segment;
    pixels->window_ = drawable;
    pixels->depth_ = depth;
    pixels->gc_ = xcb_generate_id(connection);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(connection, pixels->gc_, drawable, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    return pixels;
}

SharedPixels::~SharedPixels()
{
    // After the toolkit's end the connection is gone, and the server let go
    // of everything with it.
    if (xcb_connection_t* connection = Connection()) {
        if (asked_) xcb_discard_reply(connection, sequence_);
        xcb_free_gc(connection, gc_);
        xcb_shm_detach(connection, segment_);
        xcb_flush(connection);
    }
    shmdt(memory_);
}

void SharedPixels::TakeReply()
{
    if (!asked_) return;
    asked_ = false;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(connection_, sequence_, &reply, &error) == 0)
        reply = xcb_wait_for_reply(connection_, sequence_, &error);
    std::free(reply);
    std::free(error);
}

void SharedPixels::Put(std::span<const Block> blocks)
{
    // The slot to fill was last put kSlots writes ago; the reply asked for
    // since then (at most kSlots - 1 writes ago) covers that put.
    TakeReply();
    const std::size_t slotStart = slot_ * slotBytes_;
    std::size_t used = 0;
    for (const Block& block : blocks) {
        const QRect at = block.at & Rect();
        const auto rowBytes = static_cast<std::size_t>(at.width()) * 4;
        if (at.isEmpty() || used + rowBytes * static_cast<std::size_t>(at.height()) > slotBytes_) continue;
        const uchar* from = block.first + (at.y() - block.at.y()) * block.stride + 4 * (at.x() - block.at.x());
        auto* to = static_cast<uchar*>(memory_) + slotStart + used;
        for (int y = 0; y < at.height(); ++y, from += block.stride, to += rowBytes) std::memcpy(to, from, rowBytes);
        const auto width = static_cast<std::uint16_t>(at.width()), height = static_cast<std::uint16_t>(at.height());
        xcb_shm_put_image(connection_, window_, gc_, width, height, 0, 0, width, height,
                          static_cast<std::int16_t>(at.x()), static_cast<std::int16_t>(at.y()),
                          static_cast<std::uint8_t>(depth_), XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_,
                          static_cast<std::uint32_t>(slotStart + used));
        used += rowBytes * static_cast<std::size_t>(at.height());
    }
    if (slot_ == 0) {
        sequence_ = xcb_get_input_focus(connection_).sequence;
        asked_ = true;
    }
    slot_ = (slot_ + 1) % kSlots;
    xcb_flush(connection_);
}

#else

std::unique_ptr<SharedPixels> SharedPixels::Make(QWindow*, QSize) { return nullptr; }
SharedPixels::~SharedPixels() = default;
void SharedPixels::TakeReply() {}
void SharedPixels::Put(std::span<const Block>) {}

#endif

}  // namespace screen
