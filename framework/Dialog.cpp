#include "Dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppState.h"
#include "DialogPrivate.h"
#include "LongWork.h"
#include "ModalUi.h"
#include "QtConvert.h"

namespace {
const std::vector<CDialog*> kNoDialogs;
} // namespace

const std::vector<CDialog*>& AfxModalDialogs() {
    const AppState* app = AfxAppState();
    return app ? app->modal : kNoDialogs;
}

// ---- CDialog ----

CDialog::CDialog(UINT nIDTemplate, CWnd* pParent)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParent), m_work(std::make_unique<LongWork>()) {}

CDialog::~CDialog() {
    DestroyWindow();
}

int CDialog::DluToPixelsX(int x) const {
    return (m_impl ? m_impl->units : DialogUnits()).ToPixelsX(x);
}

int CDialog::DluToPixelsY(int y) const {
    return (m_impl ? m_impl->units : DialogUnits()).ToPixelsY(y);
}

void CDialog::CreateWindowFromTemplate() {
    // A dialog without a parent is owned by the dialog running when it opens: the main
    // window, for the About box.
    CWnd* owner = m_pParentWnd;
    if (!owner && !AfxModalDialogs().empty())
        owner = AfxModalDialogs().back();
    QWidget* parent = owner ? owner->GetWidget() : nullptr;
    if (parent)
        parent = parent->window();
    m_impl = std::make_unique<DialogImpl>();
    DialogBuilder(*this, *m_impl)
        .Build(AfxFindDialogTemplate(static_cast<int>(m_nIDTemplate)), parent);
    m_work->Attach(m_impl->dlg, m_impl->layout);
}

void CDialog::DestroyWindow() {
    if (!m_impl)
        return;
    // Controls bound to members forget their widgets before the widgets go.
    std::unique_ptr<DialogImpl> impl = std::move(m_impl);
    m_work->Detach();
    impl->dlg->Detach();
    impl->client->Detach();
    for (CWnd* w : impl->bound)
        w->Detach();
    CWnd::Detach();
    delete impl->dlg;
}

void CDialog::BindControl(CWnd* control) {
    if (m_impl)
        m_impl->bound.push_back(control);
}

void CDialog::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == SC_CLOSE)
        OnCancel();
}

void CDialog::OnSize(UINT, int, int) {}

QWidget* CDialog::GetDlgItemWidget(int nID) const {
    if (!m_impl)
        return nullptr;
    auto it = m_impl->controls.find(nID);
    return it == m_impl->controls.end() ? nullptr : it->second;
}

void CDialog::SetDlgItemText(int nID, const char* text) {
    QWidget* w = GetDlgItemWidget(nID);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(FromBytes(text));
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(FromBytes(text));
    else if (auto* b = qobject_cast<QPushButton*>(w))
        b->setText(FromBytes(text));
}

CString CDialog::GetDlgItemText(int nID) const {
    QWidget* w = GetDlgItemWidget(nID);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return ToBytes(e->text());
    if (auto* l = qobject_cast<QLabel*>(w))
        return ToBytes(l->text());
    if (auto* b = qobject_cast<QPushButton*>(w))
        return ToBytes(b->text());
    return CString();
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int nResult) {
    m_nResult = nResult;
    m_bEnded = true;
    if (m_impl && m_impl->inExec)
        m_impl->dlg->done(nResult);
}

void CDialog::DefWindowProc(AfxMsg& msg) {
    if (msg.message == WM_COMMAND) {
        if (msg.wParam == IDOK)
            OnOK();
        else if (msg.wParam == IDCANCEL)
            OnCancel();
        else if (msg.wParam == ID_HELP && AfxCommandFallback())
            AfxCommandFallback()->DispatchToMap(msg);
    } else if (msg.message == WM_SYSCOMMAND) {
        OnSysCommand(msg.wParam, msg.lParam);
    }
}

void CDialog::CenterWindow() {
    if (!m_impl)
        return;
    QWidget* dlg = m_impl->dlg;
    QWidget* parent = dlg->parentWidget();
    const bool onParent = parent && parent->isVisible() && !parent->window()->isMinimized();
    PlaceWindow(dlg, onParent ? parent->window()->frameGeometry() : QRect());
}

int CDialog::RunInit() {
    return RunHandler([this] { OnInitDialog(); }) ? TRUE : FALSE;
}

int CDialog::DoModal() {
    m_bEnded = false;
    m_nResult = -1;
    CreateWindowFromTemplate();
    AppState* app = AfxAppState();
    if (app)
        app->modal.push_back(this);
    // However it ends, the window goes and the members bound to its controls let go.
    struct Cleanup {
        CDialog* dlg;
        AppState* app;
        ~Cleanup() {
            if (app)
                app->modal.pop_back();
            dlg->DestroyWindow();
        }
    } cleanup{this, app};
    if (RunInit())
        CenterWindow();
    if (!m_bEnded)
        AfxModalUi().RunDialog(*this);
    return m_bEnded ? m_nResult : static_cast<int>(IDCANCEL);
}

void CDialog::ExecWindow() {
    if (!m_impl || m_bEnded)
        return;
    m_impl->inExec = true;
    m_impl->dlg->exec();
    if (m_impl)
        m_impl->inExec = false;
}

// ---- data exchange ----

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

// ---- long work ----

void CDialog::BeginWork(ULONGLONG total) {
    m_work->Begin(total);
    OnBeginWork();
}

bool CDialog::WorkProgress(ULONGLONG done) {
    return m_work->Progress(done);
}

void CDialog::EndWork() {
    OnEndWork();
    // The close box was pressed during the work: end as it asked, once the handler returns.
    if (m_work->End())
        QMetaObject::invokeMethod(
            m_impl->dlg, [this] { OnCancel(); }, Qt::QueuedConnection);
}

bool CDialog::IsBusy() const {
    return m_work->IsBusy();
}

void CDialog::StopWork() {
    m_work->Stop();
}

void CDialog::CloseAfterWork() {
    m_work->StopAndClose();
}

WorkScope::WorkScope(CDialog& dlg, ULONGLONG total) : m_dlg(&dlg) {
    dlg.BeginWork(total);
}

WorkScope::~WorkScope() {
    End();
}

void WorkScope::End() {
    if (m_dlg)
        m_dlg->EndWork();
    m_dlg = nullptr;
}
