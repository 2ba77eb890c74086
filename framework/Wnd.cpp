#include "Wnd.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QWidget>
#include <cstring>
#include <new>

#include "File.h"
#include "ListCtrl.h"
#include "ModalSeam.h"
#include "Widgets_p.h"
#include "WinApp.h"

// Program texts are ASCII; texts that carry a path or what a user typed are the system's
// bytes, which are UTF-8 here.
QString FromBytes(const char* text) {
    return QString::fromLocal8Bit(text);
}
CString ToBytes(const QString& text) {
    return CString(text.toLocal8Bit().toStdString());
}
QString PathToQt(const char* path) {
    return QFile::decodeName(QByteArray(path));
}
QByteArray PathFromQt(const QString& path) {
    return QFile::encodeName(path);
}

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

void CWnd::SendMessage(AfxMsg& msg) {
    try {
        if (!DispatchToMap(msg))
            DefWindowProc(msg);
    } catch (const CFileException& e) {
        // The handler is abandoned; its files were closed while unwinding.
        AfxMessageBox(this, e.GetErrorMessage(), MB_OK | MB_ICONSTOP);
    } catch (const std::bad_alloc&) {
        // A list too large for memory keeps what it holds; the window goes on.
        AfxMessageBox(this, kOutOfMemory, MB_OK | MB_ICONSTOP);
    }
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

UINT CWnd::GetMenuState(UINT nID) const {
    QAction* a = FindMenuAction(m_pWidget, nID);
    if (!a)
        return static_cast<UINT>(-1);
    return a->isEnabled() ? MF_ENABLED : MF_GRAYED;
}

bool CWnd::AppendSystemMenuItem(UINT, UINT, const char*) {
    return false;
}

// ---- data exchange and controls ----

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.GetWidget())
        return;
    rControl.Attach(pDX->m_pDlgWnd->GetDlgItemWidget(nIDC));
    pDX->m_pDlgWnd->BindControl(&rControl);
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    if (pDX->m_bSaveAndValidate)
        value = pDX->m_pDlgWnd->GetDlgItemText(nIDC);
    else
        pDX->m_pDlgWnd->SetDlgItemText(nIDC, value);
}

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
    if (ModalSeam::IsOn())
        return ModalSeam::AnswerMessageBox(rec);
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (nType & MB_ICONMASK) {
    case MB_ICONSTOP:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONEXCLAMATION:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if ((nType & MB_TYPEMASK) == MB_OKCANCEL)
        buttons |= QMessageBox::Cancel;
    QWidget* parent = pOwner ? pOwner->GetWidget() : nullptr;
    if (parent)
        parent = parent->window();
    QMessageBox box(icon, FromBytes(rec.caption), FromBytes(text), buttons, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    return box.exec() == QMessageBox::Cancel ? static_cast<int>(IDCANCEL) : static_cast<int>(IDOK);
}
