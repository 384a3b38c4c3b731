#include "MapWatcher.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> own(T* reply)
{
    return Reply<T>(reply, &std::free);
}

} // namespace

MapWatcher::MapWatcher()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    connection_ = connection;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    root_ = screens.data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    netWmName_ = atom("_NET_WM_NAME");
    utf8String_ = atom("UTF8_STRING");
    xcb_flush(connection_);
}

MapWatcher::~MapWatcher()
{
    if (connection_)
        xcb_disconnect(connection_);
}

uint32_t MapWatcher::atom(const char* name)
{
    const auto cookie = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name);
    auto reply = own(xcb_intern_atom_reply(connection_, cookie, nullptr));
    return reply ? reply->atom : uint32_t(XCB_ATOM_NONE);
}

void MapWatcher::discardPending()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_))
        std::free(event);
}

std::string MapWatcher::titleOf(uint32_t window)
{
    // The toolkits set both names before mapping; _NET_WM_NAME is the UTF-8 one.
    for (const auto& [property, type] : { std::pair { netWmName_, utf8String_ },
             std::pair { uint32_t(XCB_ATOM_WM_NAME), uint32_t(XCB_ATOM_STRING) } }) {
        const auto cookie = xcb_get_property(connection_, 0, window, property, type, 0, 256);
        auto reply = own(xcb_get_property_reply(connection_, cookie, nullptr));
        if (reply && xcb_get_property_value_length(reply.get()) > 0)
            return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                static_cast<size_t>(xcb_get_property_value_length(reply.get())));
    }
    return {};
}

MapWatcher::Mapped MapWatcher::waitForMap(
    const std::string& title, Clock::time_point deadline, const std::function<bool()>& keepWaiting)
{
    pollfd descriptor { xcb_get_file_descriptor(connection_), POLLIN, 0 };
    while (Clock::now() < deadline && keepWaiting()) {
        xcb_generic_event_t* event = xcb_poll_for_event(connection_);
        if (!event) {
            poll(&descriptor, 1, 200);
            continue;
        }
        const auto when = Clock::now();
        uint32_t window = 0;
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (!map->override_redirect)
                window = map->window;
        }
        std::free(event);
        if (window && titleOf(window).find(title) != std::string::npos)
            return { window, when };
    }
    return {};
}

std::string MapWatcher::sizeOf(uint32_t window)
{
    auto reply = own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    if (!reply)
        return {};
    return std::to_string(reply->width) + "x" + std::to_string(reply->height);
}
