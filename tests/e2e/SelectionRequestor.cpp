// A paste as an X11 client makes it, with the odd requests that plain tools never make:
// asks the CLIPBOARD's owner for STRING into one or more properties of a window, takes the
// pieces of large texts (INCR), and writes each text to standard output in turn.
//
//   selection_requestor [--window ID] [--count N]
//
// --window names the window the text is delivered to (any client's, the owner's own
// included); without it a window of its own is made. --count asks for N texts at once, into N
// properties of that one window. Exit status 0 when every text came whole, 1 otherwise.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const std::string& name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return atom;
}

// Reads and deletes a property; false when it is not there.
bool Take(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, std::string* bytes,
          xcb_atom_t* type) {
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 1, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
        nullptr);
    if (!r)
        return false;
    *type = r->type;
    bytes->assign(static_cast<const char*>(xcb_get_property_value(r)),
                  static_cast<size_t>(xcb_get_property_value_length(r)));
    std::free(r);
    xcb_flush(c);
    return true;
}

struct Paste {
    xcb_atom_t property;
    std::string text;
    bool incr = false;
    bool done = false;
};

} // namespace

int main(int argc, char** argv) {
    xcb_window_t window = 0;
    int count = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--window") == 0)
            window = static_cast<xcb_window_t>(std::strtoul(argv[i + 1], nullptr, 0));
        else if (std::strcmp(argv[i], "--count") == 0)
            count = std::atoi(argv[i + 1]);
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!window) {
        window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    }
    // This client's own interest in the window's property changes; the owner's is its own.
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &events);
    const xcb_atom_t clipboard = Atom(c, "CLIPBOARD");
    const xcb_atom_t incr = Atom(c, "INCR");
    std::vector<Paste> pastes;
    for (int i = 0; i < count; ++i) {
        pastes.push_back({Atom(c, "TARNWICK_TEST_PASTE_" + std::to_string(i)), {}});
        xcb_convert_selection(c, window, clipboard, XCB_ATOM_STRING, pastes.back().property,
                              XCB_CURRENT_TIME);
    }
    xcb_flush(c);
    int left = count;
    while (left > 0) {
        xcb_generic_event_t* ev = xcb_wait_for_event(c);
        if (!ev)
            return 1;
        const int kind = ev->response_type & 0x7f;
        if (kind == XCB_SELECTION_NOTIFY &&
            reinterpret_cast<xcb_selection_notify_event_t*>(ev)->property == XCB_ATOM_NONE) {
            std::fprintf(stderr, "refused\n");
            return 1;
        }
        // The answer is read from the property's changes alone: the owner's notice goes to the
        // window's maker, who is not this client when the window is another's.
        if (kind == XCB_PROPERTY_NOTIFY) {
            auto* n = reinterpret_cast<xcb_property_notify_event_t*>(ev);
            for (Paste& p : pastes) {
                if (p.done || n->atom != p.property || n->state != XCB_PROPERTY_NEW_VALUE)
                    continue;
                xcb_atom_t type;
                std::string bytes;
                if (!Take(c, window, p.property, &bytes, &type))
                    return 1;
                if (!p.incr && type == incr) {
                    p.incr = true;
                    continue;
                }
                p.text += bytes;
                if (!p.incr || bytes.empty()) {
                    p.done = true;
                    --left;
                }
            }
        }
        std::free(ev);
    }
    for (const Paste& p : pastes)
        std::fwrite(p.text.data(), 1, p.text.size(), stdout);
    xcb_disconnect(c);
    return 0;
}
