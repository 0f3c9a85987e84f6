#include "screen/linux/X11InputWatch.h"

#include "screen/linux/X11Connection.h"

#include <QSocketNotifier>

#include <xcb/xinput.h>

#include <cstdlib>
#include <memory>

namespace nimbel {

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

constexpr quint32 escapeKeysym = 0xff1b;
// Buttons 4 to 7 are the wheel's.
bool isClick(quint32 button)
{
    return button < 4 || button > 7;
}

} // namespace

X11InputWatch::X11InputWatch(QObject *parent)
    : QObject(parent)
{
    auto opened = X11Connection::open();
    if (!opened)
        return;
    m_connection = std::move(opened).value();
    xcb_connection_t *c = m_connection->raw();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_input_id);
    if (!extension || !extension->present)
        return;
    // Raw events reach every client that selects them on the root from 2.1 on.
    Owned<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1))
        return;
    m_opcode = extension->major_opcode;
    findEscapeKeys();
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11InputWatch::readEvents);
}

X11InputWatch::~X11InputWatch() = default;

void X11InputWatch::findEscapeKeys()
{
    xcb_connection_t *c = m_connection->raw();
    const xcb_setup_t *setup = xcb_get_setup(c);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - first + 1;
    Owned<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, xcb_keycode_t(first), quint8(count)), nullptr));
    if (!mapping || mapping->keysyms_per_keycode == 0)
        return;
    const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    for (int i = 0; i < length; ++i) {
        if (symbols[i] == escapeKeysym)
            m_escapeKeys.append(quint32(first + i / mapping->keysyms_per_keycode));
    }
}

void X11InputWatch::setListening(bool listening)
{
    if (!isAvailable() || listening == m_listening)
        return;
    m_listening = listening;
    struct
    {
        xcb_input_event_mask_t head;
        quint32 mask;
    } select{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
             listening ? quint32(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS) : 0u};
    xcb_input_xi_select_events(m_connection->raw(), m_connection->root(), 1, &select.head);
    xcb_flush(m_connection->raw());
}

void X11InputWatch::readEvents()
{
    xcb_connection_t *c = m_connection->raw();
    bool press = false;
    while (Owned<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
            continue;
        const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event.get());
        if (generic->extension != m_opcode || !m_listening)
            continue;
        if (generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            const auto *raw = reinterpret_cast<const xcb_input_raw_button_press_event_t *>(event.get());
            press = press || isClick(raw->detail);
        } else if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            const auto *raw = reinterpret_cast<const xcb_input_raw_key_press_event_t *>(event.get());
            press = press || m_escapeKeys.contains(raw->detail);
        }
    }
    if (press)
        emit pressed();
}

} // namespace nimbel
