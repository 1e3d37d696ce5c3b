#include "desktop/xembed_tray.h"

#include <QCoreApplication>
#include <QGuiApplication>

#ifdef OSTREL_X11
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace ostrel {

#ifdef OSTREL_X11
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

// The program's X connection; null off X11.
xcb_connection_t* x_connection() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

// The screen the program's display name selects.
int x_screen_number() {
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) != 0) {
        std::free(host);
    }
    return screen;
}

xcb_window_t root_window(xcb_connection_t* connection, int screen) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem > 0; --screen, xcb_screen_next(&it)) {
        if (screen == 0) {
            return it.data->root;
        }
    }
    return XCB_WINDOW_NONE;
}

xcb_atom_t atom(xcb_connection_t* connection, const QByteArray& name, bool only_if_exists) {
    const ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, only_if_exists, uint16_t(name.size()), name.constData()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray tray_selection_name() {
    return "_NET_SYSTEM_TRAY_S" + QByteArray::number(x_screen_number());
}

uint32_t root_event_mask(xcb_connection_t* connection, xcb_window_t root) {
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, root), nullptr));
    return attributes ? attributes->your_event_mask : 0;
}

void set_root_event_mask(xcb_connection_t* connection, xcb_window_t root, uint32_t mask) {
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
}

}  // namespace

bool xembed_tray_owned() {
    xcb_connection_t* connection = x_connection();
    if (connection == nullptr) {
        return false;
    }
    const xcb_atom_t selection = atom(connection, tray_selection_name(), true);
    if (selection == XCB_ATOM_NONE) {
        return false;
    }
    const ReplyPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

XEmbedTrayWatch::XEmbedTrayWatch(QObject* parent) : QObject(parent) {
    xcb_connection_t* connection = x_connection();
    if (connection == nullptr) {
        return;
    }
    root_ = root_window(connection, x_screen_number());
    manager_ = atom(connection, "MANAGER", false);
    selection_ = atom(connection, tray_selection_name(), false);
    if (root_ == XCB_WINDOW_NONE || manager_ == XCB_ATOM_NONE || selection_ == XCB_ATOM_NONE) {
        return;
    }
    // Event masks on a window are per client: add to the one Qt chose.
    const uint32_t mask = root_event_mask(connection, root_);
    if ((mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY) == 0) {
        set_root_event_mask(connection, root_, mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        added_structure_events_ = true;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XEmbedTrayWatch::~XEmbedTrayWatch() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    xcb_connection_t* connection = x_connection();
    if (added_structure_events_ && connection != nullptr) {
        set_root_event_mask(connection, root_,
                            root_event_mask(connection, root_) & ~XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    }
}

bool XEmbedTrayWatch::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) {
        return false;
    }
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->window == root_ && client->type == manager_ && client->format == 32 &&
        client->data.data32[1] == selection_) {
        emit tray_announced();
    }
    // Qt's own tray support may want the message too.
    return false;
}

#else

bool xembed_tray_owned() {
    return false;
}

XEmbedTrayWatch::XEmbedTrayWatch(QObject* parent) : QObject(parent) {}
XEmbedTrayWatch::~XEmbedTrayWatch() = default;

bool XEmbedTrayWatch::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}

#endif

}  // namespace ostrel
