#include "Clipboard.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <QtGui/qguiapplication_platform.h>
#if defined(TARNWICK_HAVE_XCB) && QT_CONFIG(xcb)
#define TARNWICK_SERVE_X11 1
#include <xcb/xcb.h>
#endif

namespace {

QString PlainText() {
    return QStringLiteral("text/plain");
}

// What Copy puts on the clipboard: its bytes, handed out as they are to every request for
// them. Nothing here converts them, so a paste costs no memory of its own.
class ClipboardBytes : public QMimeData {
public:
    // A QLineEdit's own limit.
    static constexpr qsizetype kBoxHolds = 32767;

    explicit ClipboardBytes(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    const QByteArray& Bytes() const { return m_bytes; }
    QStringList formats() const override { return {PlainText()}; }

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        if (format != PlainText())
            return QVariant();
        // Text asked for as a QString comes from this program's own boxes (a paste into the
        // Find prompt). A one-line box keeps no more than kBoxHolds characters, so no more are
        // converted: the whole text would take twice its size again.
        if (type.id() == QMetaType::QString)
            return QString::fromLatin1(m_bytes.constData(), std::min(m_bytes.size(), kBoxHolds));
        return QVariant(m_bytes);
    }

private:
    QByteArray m_bytes;
};

// The clipboard deletes what it holds when another program takes it over.
QPointer<ClipboardBytes> g_held;

#ifdef TARNWICK_SERVE_X11

// Answers other programs' requests for the clipboard's text on X11 from the bytes Copy made.
// Qt's own answer to STRING and TEXT converts the whole text to UTF-16 and back, three times
// its size at once, and gives up on texts of many megabytes. The text holds only printable
// ASCII, TAB and LF, so the bytes are at once UTF-8 (UTF8_STRING) and Latin-1 (STRING, and
// TEXT, whose encoding the owner chooses). Texts larger than one request go in pieces, as
// the requestor deletes each (the INCR protocol).
class SelectionServer : public QObject, public QAbstractNativeEventFilter {
public:
    explicit SelectionServer(xcb_connection_t* c) : QObject(qApp), m_c(c) {
        m_clipboard = Atom("CLIPBOARD");
        m_utf8 = Atom("UTF8_STRING");
        m_text = Atom("TEXT");
        m_incr = Atom("INCR");
        m_multiple = Atom("MULTIPLE");
        // A piece fits one request, with room for the request's own fields.
        const uint32_t most = xcb_get_maximum_request_length(m_c) * 4u;
        m_piece = std::min<uint32_t>(most > 1024 ? most - 512 : 512, kPiece);
        m_idle.setInterval(1000);
        connect(&m_idle, &QTimer::timeout, this, [this] { DropIdle(); });
        qApp->installNativeEventFilter(this);
    }
    ~SelectionServer() override { DropAll(); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        switch (ev->response_type & 0x7f) {
        case XCB_SELECTION_REQUEST:
            return Answer(*reinterpret_cast<xcb_selection_request_event_t*>(ev));
        case XCB_PROPERTY_NOTIFY:
            // Qt may wait for events on the same window; it sees them too.
            Continue(*reinterpret_cast<xcb_property_notify_event_t*>(ev));
            return false;
        default:
            return false;
        }
    }

    // Ends every transfer: their bytes are let go.
    void DropAll() {
        while (!m_transfers.empty())
            End(m_transfers.begin());
        xcb_flush(m_c);
    }

private:
    static constexpr uint32_t kPiece = 1u << 18;
    // A requestor that takes no piece for this long has gone away or hung.
    static constexpr qint64 kIdleMs = 5000;
    // MULTIPLE requests are left to Qt, which converts each text; not a large one.
    static constexpr qsizetype kConvertedAtMost = qsizetype(1) << 20;

    struct Transfer {
        xcb_window_t window;
        xcb_atom_t property;
        xcb_atom_t type;
        QByteArray bytes;
        qsizetype sent;
        qint64 lastMs;
        // The events this program had asked of the window before, given back at the end:
        // the window may be one of its own.
        uint32_t eventMask;
    };

    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return atom;
    }

    bool Answer(const xcb_selection_request_event_t& req) {
        if (req.selection != m_clipboard || !g_held)
            return false;
        const QByteArray& bytes = g_held->Bytes();
        const bool text =
            req.target == m_utf8 || req.target == XCB_ATOM_STRING || req.target == m_text;
        if (!text) {
            if (req.target == m_multiple && bytes.size() > kConvertedAtMost) {
                Notify(req, XCB_ATOM_NONE);
                return true;
            }
            return false; // TARGETS, TIMESTAMP and the MIME names: Qt's
        }
        const xcb_atom_t property = req.property == XCB_ATOM_NONE ? req.target : req.property;
        const xcb_atom_t type = req.target == m_utf8 ? m_utf8 : xcb_atom_t(XCB_ATOM_STRING);
        if (bytes.size() <= qsizetype(m_piece)) {
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, req.requestor, property, type, 8,
                                static_cast<uint32_t>(bytes.size()), bytes.constData());
        } else {
            auto same = Find(req.requestor, property);
            if (same != m_transfers.end())
                End(same);
            uint32_t mask;
            if (!Watch(req.requestor, &mask)) {
                Notify(req, XCB_ATOM_NONE); // the window is gone
                return true;
            }
            // INCR's size is a lower bound: a text past 4 GiB says 4 GiB.
            const uint32_t total =
                static_cast<uint32_t>(std::min<qsizetype>(bytes.size(), qsizetype(UINT32_MAX)));
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, req.requestor, property, m_incr, 32, 1,
                                &total);
            m_transfers.push_back({req.requestor, property, type, bytes, 0, Now(), mask});
            if (!m_idle.isActive())
                m_idle.start();
        }
        Notify(req, property);
        return true;
    }

    // The requestor took a piece (deleted the property): the next one, and an empty one at
    // the end.
    void Continue(const xcb_property_notify_event_t& ev) {
        if (ev.state != XCB_PROPERTY_DELETE)
            return;
        auto t = Find(ev.window, ev.atom);
        if (t == m_transfers.end())
            return;
        const qsizetype n = std::min(qsizetype(m_piece), t->bytes.size() - t->sent);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, t->window, t->property, t->type, 8,
                            static_cast<uint32_t>(n), t->bytes.constData() + t->sent);
        t->sent += n;
        t->lastMs = Now();
        if (n == 0)
            End(t);
        xcb_flush(m_c);
    }

    void Notify(const xcb_selection_request_event_t& req, xcb_atom_t property) {
        xcb_selection_notify_event_t ev{};
        ev.response_type = XCB_SELECTION_NOTIFY;
        ev.time = req.time;
        ev.requestor = req.requestor;
        ev.selection = req.selection;
        ev.target = req.target;
        ev.property = property;
        xcb_send_event(m_c, 0, req.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&ev));
        xcb_flush(m_c);
    }

    std::vector<Transfer>::iterator Find(xcb_window_t window, xcb_atom_t property) {
        return std::find_if(m_transfers.begin(), m_transfers.end(), [&](const Transfer& t) {
            return t.window == window && t.property == property;
        });
    }

    // Asks for the window's property changes, on top of what this program asked of it
    // before (*mask); false when the window is gone.
    bool Watch(xcb_window_t window, uint32_t* mask) {
        auto other = std::find_if(m_transfers.begin(), m_transfers.end(),
                                  [&](const Transfer& t) { return t.window == window; });
        if (other != m_transfers.end()) {
            *mask = other->eventMask;
            return true;
        }
        xcb_get_window_attributes_reply_t* r =
            xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, window), nullptr);
        if (!r)
            return false;
        *mask = r->your_event_mask;
        free(r);
        const uint32_t events = *mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_c, window, XCB_CW_EVENT_MASK, &events);
        return true;
    }

    // Ends a transfer; the last one to a window gives the window its events back.
    std::vector<Transfer>::iterator End(std::vector<Transfer>::iterator t) {
        const xcb_window_t window = t->window;
        const uint32_t mask = t->eventMask;
        t = m_transfers.erase(t);
        if (std::none_of(m_transfers.begin(), m_transfers.end(),
                         [&](const Transfer& o) { return o.window == window; }))
            xcb_change_window_attributes(m_c, window, XCB_CW_EVENT_MASK, &mask);
        return t;
    }

    void DropIdle() {
        const qint64 now = Now();
        for (auto t = m_transfers.begin(); t != m_transfers.end();) {
            if (now - t->lastMs < kIdleMs) {
                ++t;
                continue;
            }
            t = End(t);
        }
        if (m_transfers.empty())
            m_idle.stop();
        xcb_flush(m_c);
    }

    static qint64 Now() {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        return clock.elapsed();
    }

    xcb_connection_t* m_c;
    xcb_atom_t m_clipboard, m_utf8, m_text, m_incr, m_multiple;
    uint32_t m_piece = kPiece;
    std::vector<Transfer> m_transfers;
    QTimer m_idle;
};

QPointer<SelectionServer> g_server;

void ServeSelections() {
    if (g_server)
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->connection())
        g_server = new SelectionServer(x11->connection());
}

void EndTransfers() {
    if (g_server)
        g_server->DropAll();
}

#else

void ServeSelections() {}
void EndTransfers() {}

#endif

} // namespace

struct CClipboardText::Bytes {
    QByteArray bytes;
};

CClipboardText::CClipboardText(size_t size) : m_bytes(new Bytes) {
    if (size > size_t(std::numeric_limits<qsizetype>::max()))
        throw std::bad_alloc();
    m_bytes->bytes = QByteArray(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (m_bytes->bytes.size() != static_cast<qsizetype>(size))
        throw std::bad_alloc();
}

CClipboardText::~CClipboardText() = default;

char* CClipboardText::Data() {
    return m_bytes->bytes.data();
}

void CClipboardText::Publish() {
    ServeSelections();
    auto* held = new ClipboardBytes(std::move(m_bytes->bytes));
    // Whatever the clipboard held before is deleted here.
    QGuiApplication::clipboard()->setMimeData(held);
    g_held = held;
}

size_t AfxClipboardBytesHeld() {
    return g_held ? static_cast<size_t>(g_held->Bytes().size()) : 0;
}

void AfxClipboardRelease() {
    EndTransfers();
    if (g_held)
        QGuiApplication::clipboard()->clear();
}
