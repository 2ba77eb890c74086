#include "Wnd.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QWidget>
#include <cstring>
#include <new>

#include "File.h"
#include "ModalUi.h"
#include "QtConvert.h"

CString DragQueryFileName(HDROP hDrop, UINT iFile) {
    if (!hDrop || iFile >= hDrop->files.size())
        return CString();
    return hDrop->files[iFile];
}

void DragFinish(HDROP hDrop) {
    if (hDrop)
        hDrop->files.clear();
}

// ---- CCmdTarget ----

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(UINT message, UINT nID) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->thunk; ++e)
            if (e->nMessage == message && (message != WM_COMMAND || e->nID == nID))
                return e;
    }
    return nullptr;
}

bool CCmdTarget::DispatchToMap(AfxMsg& msg) {
    const AFX_MSGMAP_ENTRY* e = FindEntry(msg.message, msg.wParam);
    if (!e)
        return false;
    e->thunk(this, msg);
    return true;
}

bool CCmdTarget::HasCommandHandler(UINT nID) const {
    return FindEntry(WM_COMMAND, nID) != nullptr;
}

// ---- CWnd ----

CWnd::~CWnd() = default;

void CWnd::Attach(QWidget* w) {
    m_pWidget = w;
}
void CWnd::Detach() {
    m_pWidget = nullptr;
}

bool CWnd::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const CFileException& e) {
        // The handler is abandoned; its files were closed while unwinding.
        AfxMessageBox(this, e.GetErrorMessage(), MB_OK | MB_ICONSTOP);
    } catch (const std::bad_alloc&) {
        // A list too large for memory keeps what it holds; the window goes on.
        AfxMessageBox(this, kOutOfMemory, MB_OK | MB_ICONSTOP);
    }
    return false;
}

void CWnd::PostHandler(std::function<void()> handler) {
    if (!m_pWidget)
        return;
    QMetaObject::invokeMethod(
        m_pWidget, [this, handler = std::move(handler)] { RunHandler(handler); },
        Qt::QueuedConnection);
}

void CWnd::SendMessage(AfxMsg& msg) {
    // A message sent from inside another's handler is the current one until it returns.
    struct Current {
        const AfxMsg*& now;
        const AfxMsg* outer;
        ~Current() { now = outer; }
    } current{m_pCurrentMsg, m_pCurrentMsg};
    m_pCurrentMsg = &msg;
    RunHandler([&] {
        if (!DispatchToMap(msg))
            DefWindowProc(msg);
    });
}

void CWnd::SendCommand(UINT nID) {
    AfxMsg msg;
    msg.message = WM_COMMAND;
    msg.wParam = nID;
    SendMessage(msg);
}

void CWnd::DefWindowProc(AfxMsg&) {}

void CWnd::SetWindowText(const char* text) {
    m_strText = text;
    if (m_pWidget) {
        if (auto* edit = qobject_cast<QLineEdit*>(m_pWidget))
            edit->setText(FromBytes(text));
        else if (m_pWidget->isWindow())
            m_pWidget->setWindowTitle(FromBytes(text));
        else if (auto* label = qobject_cast<QLabel*>(m_pWidget))
            label->setText(FromBytes(text));
    }
}

CString CWnd::GetWindowText() const {
    if (m_pWidget) {
        if (auto* edit = qobject_cast<QLineEdit*>(m_pWidget))
            return ToBytes(edit->text());
        if (m_pWidget->isWindow())
            return ToBytes(m_pWidget->windowTitle());
    }
    return m_strText;
}

void CWnd::MoveWindow(int x, int y, int cx, int cy, BOOL bRepaint) {
    if (!m_pWidget)
        return;
    m_pWidget->setGeometry(x, y, cx < 0 ? 0 : cx, cy < 0 ? 0 : cy);
    if (bRepaint)
        m_pWidget->update();
}

bool CWnd::IsIconic() const {
    return m_pWidget && m_pWidget->window()->isMinimized();
}

static QAction* FindMenuAction(QWidget* window, UINT nID) {
    if (!window)
        return nullptr;
    for (QAction* a : window->findChildren<QAction*>())
        if (a->data().toUInt() == nID && !a->isSeparator() && !a->menu())
            return a;
    return nullptr;
}

void CWnd::EnableMenuItem(UINT nID, UINT nEnable) {
    if (QAction* a = FindMenuAction(m_pWidget, nID))
        a->setEnabled((nEnable & MF_GRAYED) == 0);
}

void CWnd::CheckMenuItem(UINT nID, UINT nCheck) {
    if (QAction* a = FindMenuAction(m_pWidget, nID)) {
        a->setCheckable(true);
        a->setChecked((nCheck & MF_CHECKED) != 0);
    }
}

bool CWnd::AppendSystemMenuItem(UINT, UINT, const char*) {
    return false;
}

// ---- data exchange and controls ----

void CEdit::SetSel(int nStart, int nEnd, BOOL) {
    auto* edit = qobject_cast<QLineEdit*>(m_pWidget);
    if (!edit)
        return;
    int len = edit->text().size();
    if (nEnd < 0 || nEnd > len)
        nEnd = len;
    if (nStart < 0)
        nStart = 0;
    edit->setSelection(nStart, nEnd - nStart);
}

void CEdit::SetFocus() {
    if (m_pWidget)
        m_pWidget->setFocus(Qt::OtherFocusReason);
}

// ---- message boxes ----

int AfxMessageBox(CWnd* pOwner, const char* text, UINT nType) {
    MessageBoxRecord rec{CString(text), AfxGetAppTitle(), nType, pOwner};
    return AfxModalUi().ShowMessageBox(rec, pOwner);
}

// ---- icons ----

void CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    if (!m_pWidget || !hIcon)
        return;
    QIcon icon = m_pWidget->windowIcon();
    QIcon merged;
    QPixmap big = IconPixmap(hIcon, true), small = IconPixmap(hIcon, false);
    merged.addPixmap(bBigIcon ? big : small);
    for (const QSize& s : icon.availableSizes())
        if (s != (bBigIcon ? big.size() : small.size()))
            merged.addPixmap(icon.pixmap(s));
    m_pWidget->setWindowIcon(merged);
}
