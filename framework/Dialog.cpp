#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <new>
#include <unistd.h>

#include "Dialog.h"
#include "ListView.h"
#include "ModalUi.h"
#include "QtConvert.h"

class FwDialog : public QDialog {
public:
    FwDialog(CDialog* owner, QWidget* parent);
    CDialog* Owner() const { return m_owner; }
    void Detach() { m_owner = nullptr; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    CDialog* m_owner;
};

// The dialog's client area below the menu bar; its size is what WM_SIZE reports.
class ClientArea : public QWidget {
public:
    ClientArea(CDialog* owner, QWidget* parent);
    void Detach() { m_owner = nullptr; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    CDialog* m_owner;
};

struct DialogImpl {
    FwDialog* dlg = nullptr;
    ClientArea* client = nullptr;
    std::map<int, QWidget*> controls;
    std::vector<CWnd*> bound;  // members bound to controls by data exchange
    int baseX = 6, baseY = 13; // dialog base units of the font, in pixels
    bool inExec = false;
    QVBoxLayout* layout = nullptr;
    // Long work: its progress row below the client area, shown after a moment.
    QWidget* workRow = nullptr;
    QProgressBar* workBar = nullptr;
    QElapsedTimer workClock;
    std::vector<std::pair<QAction*, bool>> menuState; // what EndWork gives back
};

namespace {
std::vector<CDialog*> g_modal;

// The lists of a window keep their marks, or take changes again. (The view has no meta
// object of its own, so it is told from other scroll areas at run time.)
void LockListMarks(QWidget* window, bool locked) {
    for (QAbstractScrollArea* area : window->findChildren<QAbstractScrollArea*>())
        if (auto* list = dynamic_cast<ListView*>(area))
            list->SetMarksLocked(locked);
}

// The menu bar's style: a separator in the bar puts the menus after it at the right end.
class RightMenusStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_DrawMenuBarSeparator)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The menu bar. Qt's, asked for a menu by its letter (Alt+E) while it holds the keyboard
// itself (Escape closed a menu and left the bar highlighted), takes itself for the widget to
// give the keyboard back to when the menus are left, and so keeps it for good: Down and
// Escape no longer reach the list or the window. This one gives the keyboard back to the
// widget that had it before such a letter is handled, so that Qt notes that widget.
class FwMenuBar : public QMenuBar {
public:
    explicit FwMenuBar(QWidget* parent) : QMenuBar(parent) {
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (now == this && old && old != this && old->window() == window())
                m_before = old;
        });
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Shortcut && hasFocus() && m_before && m_before->isEnabled() &&
            m_before->isVisible())
            m_before->setFocus(Qt::MenuBarFocusReason);
        return QMenuBar::event(e);
    }

private:
    QPointer<QWidget> m_before; // the widget that had the keyboard before the bar took it
};

void BuildMenu(CDialog* owner, QWidget* window, QVBoxLayout* layout, const MenuTemplate* menu) {
    auto* bar = new FwMenuBar(window);
    bar->setObjectName(QStringLiteral("menuBar"));
    bool right = false;
    std::vector<QMenu*> stack;
    for (int i = 0; i < menu->nItems; ++i) {
        const MenuItemTemplate& it = menu->items[i];
        stack.resize(static_cast<size_t>(it.depth));
        QString text = QString::fromLatin1(it.text ? it.text : "");
        QAction* action;
        if (it.depth == 0) {
            // Menus from the first one placed at the right end on go there, and stay in the
            // one bar, so that the arrow keys go round all of them.
            if ((it.flags & MFT_RIGHT) && !right) {
                right = true;
                auto* style = new RightMenusStyle;
                style->setParent(bar);
                bar->setStyle(style);
                bar->addSeparator();
            }
            QMenu* m = bar->addMenu(text);
            m->setObjectName(QStringLiteral("menu_") +
                             QString::fromLatin1(it.text).remove(QLatin1Char('&')));
            stack.push_back(m);
            continue;
        }
        QMenu* parent = stack.empty() ? nullptr : stack.back();
        if (!parent)
            continue;
        if (it.flags & MFT_SEPARATOR) {
            parent->addSeparator();
            continue;
        }
        if (it.flags & MFT_POPUP) {
            QMenu* m = parent->addMenu(text);
            m->setObjectName(QStringLiteral("menu_") +
                             QString::fromLatin1(it.text).remove(QLatin1Char('&')));
            stack.push_back(m);
            continue;
        }
        // "Name\tKeys" gives the item a shortcut, shown beside it.
        const qsizetype tab = text.indexOf(QLatin1Char('\t'));
        action = parent->addAction(tab < 0 ? text : text.left(tab));
        if (tab >= 0)
            action->setShortcut(QKeySequence::fromString(text.mid(tab + 1)));
        action->setData(it.id);
        action->setObjectName(QStringLiteral("action_%1").arg(it.id));
        UINT id = it.id;
        QObject::connect(action, &QAction::triggered, window, [owner, id]() {
            if (owner->IsRunning())
                owner->SendCommand(id);
        });
    }
    layout->setMenuBar(bar);
}
} // namespace

const std::vector<CDialog*>& AfxModalDialogs() {
    return g_modal;
}

// ---- Qt widgets ----

FwDialog::FwDialog(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

void FwDialog::keyPressEvent(QKeyEvent* e) {
    if (!m_owner) {
        QDialog::keyPressEvent(e);
        return;
    }
    if (m_owner->IsBusy()) {
        // Only Escape means anything while work runs: stop it.
        if (e->key() == Qt::Key_Escape)
            m_owner->StopWork();
        return;
    }
    if (e->modifiers() & ~(Qt::KeypadModifier)) {
        QDialog::keyPressEvent(e);
        return;
    }
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter presses the push button with the focus; elsewhere it is the default button's.
        if (auto* focusedButton = qobject_cast<QPushButton*>(focusWidget());
            focusedButton && focusedButton->isEnabled() && focusedButton->isVisible())
            focusedButton->click();
        else
            m_owner->SendCommand(IDOK);
        return;
    case Qt::Key_Escape:
        m_owner->SendCommand(IDCANCEL);
        return;
    case Qt::Key_F1:
        m_owner->SendCommand(ID_HELP);
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}

void FwDialog::closeEvent(QCloseEvent* e) {
    e->ignore();
    if (!m_owner)
        return;
    if (m_owner->IsBusy()) {
        m_owner->CloseAfterWork();
        return;
    }
    AfxMsg msg;
    msg.message = WM_SYSCOMMAND;
    msg.wParam = SC_CLOSE;
    m_owner->SendMessage(msg);
}

void FwDialog::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (!m_owner || e->type() != QEvent::WindowStateChange)
        return;
    const bool wasMinimized =
        static_cast<QWindowStateChangeEvent*>(e)->oldState() & Qt::WindowMinimized;
    AfxMsg msg;
    msg.message = WM_SIZE;
    if (isMinimized()) {
        msg.wParam = SIZE_MINIMIZED;
    } else if (wasMinimized) {
        // Back from minimised: the client area has its old size again, which no resize
        // reports, so say it here.
        QWidget* client = findChild<ClientArea*>();
        if (!client)
            return;
        msg.wParam = isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
        msg.cx = client->width();
        msg.cy = client->height();
    } else {
        return;
    }
    m_owner->SendMessage(msg);
}

void FwDialog::dragEnterEvent(QDragEnterEvent* e) {
    if (m_owner && !m_owner->IsBusy() && e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

// The local files a drop names, as bytes. A file URL carries its name's bytes
// percent-encoded, so a name that is not UTF-8 arrives whole; URLs of other hosts are no
// files of this machine.
static std::vector<CString> DroppedFiles(const QMimeData* mime) {
    std::vector<CString> files;
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    for (QByteArray line : mime->data(QStringLiteral("text/uri-list")).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.startsWith("file:"))
            continue;
        QByteArray path = line.mid(5);
        if (path.startsWith("//")) {
            const qsizetype slash = path.indexOf('/', 2);
            const QByteArray from = path.mid(2, slash < 0 ? -1 : slash - 2);
            if (slash < 0 || !(from.isEmpty() || from == "localhost" || from == host))
                continue;
            path = path.mid(slash);
        }
        files.push_back(CString(QByteArray::fromPercentEncoding(path).toStdString()));
    }
    return files;
}

void FwDialog::dropEvent(QDropEvent* e) {
    if (!m_owner || m_owner->IsBusy())
        return;
    DropInfo drop;
    drop.files = DroppedFiles(e->mimeData());
    if (drop.files.empty())
        return;
    e->acceptProposedAction();
    AfxMsg msg;
    msg.message = WM_DROPFILES;
    msg.pData = &drop;
    m_owner->SendMessage(msg);
}

ClientArea::ClientArea(CDialog* owner, QWidget* parent) : QWidget(parent), m_owner(owner) {}

void ClientArea::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (!m_owner || window()->isMinimized())
        return;
    AfxMsg msg;
    msg.message = WM_SIZE;
    msg.wParam = window()->isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
    msg.cx = width();
    msg.cy = height();
    m_owner->SendMessage(msg);
}

namespace {
QWidget* g_paintTarget = nullptr; // the client area inside its paint event
}

void ClientArea::paintEvent(QPaintEvent* e) {
    QWidget::paintEvent(e);
    if (!m_owner)
        return;
    AfxMsg msg;
    msg.message = WM_PAINT;
    g_paintTarget = this;
    m_owner->SendMessage(msg);
    g_paintTarget = nullptr;
}

void CDialog::DrawIconCentered(HICON hIcon) {
    if (!g_paintTarget || g_paintTarget->window() != m_pWidget)
        return;
    QPixmap pm = IconPixmap(hIcon, true);
    QPainter painter(g_paintTarget);
    painter.fillRect(g_paintTarget->rect(), g_paintTarget->palette().window());
    int x = (g_paintTarget->width() - pm.width() + 1) / 2;
    int y = (g_paintTarget->height() - pm.height() + 1) / 2;
    painter.drawPixmap(x, y, pm);
}

// ---- CDialog ----

CDialog::CDialog(UINT nIDTemplate, CWnd* pParent)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParent) {}

CDialog::~CDialog() {
    DestroyWindow();
}

int CDialog::DluToPixelsX(int x) const {
    int base = m_impl ? m_impl->baseX : 6;
    return (x * base + 2) / 4;
}

int CDialog::DluToPixelsY(int y) const {
    int base = m_impl ? m_impl->baseY : 13;
    return (y * base + 4) / 8;
}

void CDialog::CreateWindowFromTemplate() {
    const DlgTemplate* t = AfxFindDialogTemplate(static_cast<int>(m_nIDTemplate));
    m_impl = std::make_unique<DialogImpl>();
    // A dialog without a parent is owned by the dialog running when it opens: the main
    // window, for the About box.
    CWnd* owner = m_pParentWnd;
    if (!owner && !g_modal.empty())
        owner = g_modal.back();
    QWidget* parent = owner ? owner->GetWidget() : nullptr;
    if (parent)
        parent = parent->window();
    auto* dlg = new FwDialog(this, parent);
    m_impl->dlg = dlg;
    dlg->setObjectName(QStringLiteral("dialog_%1").arg(m_nIDTemplate));
    QFont font = QApplication::font();
    QFontMetrics fm(font);
    // Windows' dialog base units: the average width of the letters, and the font height.
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_impl->baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    m_impl->baseY = fm.height();

    auto* layout = new QVBoxLayout(dlg);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_impl->layout = layout;
    auto* client = new ClientArea(this, dlg);
    client->setObjectName(QStringLiteral("clientArea"));
    m_impl->client = client;
    layout->addWidget(client);
    CWnd::Attach(dlg);
    if (!t) {
        dlg->resize(200, 100);
        return;
    }
    dlg->setWindowTitle(QString::fromLatin1(t->caption));
    Qt::WindowFlags flags =
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t->minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    if (t->maximizeBox)
        flags |= Qt::WindowMaximizeButtonHint;
    if (!parent)
        flags = (flags & ~Qt::Dialog) | Qt::Window;
    dlg->setWindowFlags(flags);
    dlg->setSizeGripEnabled(false);
    if (t->exStyle & WS_EX_ACCEPTFILES)
        dlg->setAcceptDrops(true);
    if (t->menuId)
        if (const MenuTemplate* menu = AfxFindMenuTemplate(t->menuId))
            BuildMenu(this, dlg, layout, menu);

    for (int i = 0; i < t->nControls; ++i) {
        const DlgControl& c = t->controls[i];
        QWidget* w = nullptr;
        QString text = QString::fromLatin1(c.text ? c.text : "");
        switch (c.kind) {
        case ControlKind::PushButton: {
            auto* b = new QPushButton(text, client);
            b->setDefault((c.style & BS_DEFPUSHBUTTON) != 0);
            b->setAutoDefault(false);
            UINT id = static_cast<UINT>(c.id);
            QObject::connect(b, &QPushButton::clicked, b, [this, id]() {
                if (IsRunning())
                    SendCommand(id);
            });
            w = b;
            break;
        }
        case ControlKind::Static: {
            auto* l = new QLabel(client);
            l->setTextFormat(Qt::PlainText);
            l->setWordWrap(true);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            // "&" marks a mnemonic unless the control says otherwise; a label shows it plain.
            if (!(c.style & SS_NOPREFIX))
                text.remove(QLatin1Char('&'));
            l->setText(text);
            w = l;
            break;
        }
        case ControlKind::Icon: {
            auto* l = new QLabel(client);
            l->setPixmap(IconPixmap(AfxFindIcon(c.iconId), true));
            w = l;
            break;
        }
        case ControlKind::Edit: {
            auto* e = new QLineEdit(text, client);
            w = e;
            break;
        }
        case ControlKind::ListView: {
            w = new ListView(client);
            break;
        }
        }
        w->setObjectName(c.id >= 0 ? QStringLiteral("control_%1").arg(c.id)
                                   : QStringLiteral("control_static_%1").arg(i));
        w->setGeometry(DluToPixelsX(c.x), DluToPixelsY(c.y), DluToPixelsX(c.cx),
                       DluToPixelsY(c.cy));
        w->setFocusPolicy((c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
        if (c.id >= 0)
            m_impl->controls[c.id] = w;
    }
    client->resize(DluToPixelsX(t->cx), DluToPixelsY(t->cy));
    QSize total(DluToPixelsX(t->cx), DluToPixelsY(t->cy));
    if (layout->menuBar())
        total.rheight() += layout->menuBar()->sizeHint().height();
    dlg->resize(total);
    if (!(t->style & WS_THICKFRAME))
        dlg->setFixedSize(total);
    dlg->move(DluToPixelsX(t->x), DluToPixelsY(t->y));
}

void CDialog::DestroyWindow() {
    if (!m_impl)
        return;
    // Controls bound to members forget their widgets before the widgets go.
    std::unique_ptr<DialogImpl> impl = std::move(m_impl);
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
    g_modal.push_back(this);
    // However it ends, the window goes and the members bound to its controls let go.
    struct Cleanup {
        CDialog* dlg;
        ~Cleanup() {
            g_modal.pop_back();
            dlg->DestroyWindow();
        }
    } cleanup{this};
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

namespace {
// Work shorter than this shows no progress row.
constexpr qint64 kQuietWorkMs = 300;
} // namespace

void CDialog::BeginWork(ULONGLONG total) {
    m_bBusy = true;
    m_bStopAsked = false;
    m_bCloseAsked = false;
    m_workTotal = total;
    if (!m_impl)
        return;
    m_impl->workClock.start();
    m_impl->menuState.clear();
    for (QAction* a : m_impl->dlg->findChildren<QAction*>()) {
        m_impl->menuState.emplace_back(a, a->isEnabled());
        a->setEnabled(false);
    }
    // The work reads the marks (an export of the marked rows): they stay as they are.
    LockListMarks(m_impl->dlg, true);
}

bool CDialog::WorkProgress(ULONGLONG done) {
    if (!m_impl)
        return m_bStopAsked;
    if (!m_impl->workRow && m_impl->workClock.elapsed() >= kQuietWorkMs) {
        auto* row = new QWidget(m_impl->dlg);
        row->setObjectName(QStringLiteral("workRow"));
        row->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        auto* box = new QHBoxLayout(row);
        box->setContentsMargins(4, 2, 4, 2);
        auto* bar = new QProgressBar(row);
        bar->setObjectName(QStringLiteral("workProgress"));
        bar->setRange(0, 1000);
        auto* stop = new QPushButton(QStringLiteral("Stop"), row);
        stop->setObjectName(QStringLiteral("workStop"));
        stop->setFocusPolicy(Qt::NoFocus);
        QObject::connect(stop, &QPushButton::clicked, [this] { StopWork(); });
        box->addWidget(bar, 1);
        box->addWidget(stop);
        m_impl->layout->addWidget(row);
        m_impl->workRow = row;
        m_impl->workBar = bar;
    }
    if (m_impl->workBar) {
        const double part = m_workTotal ? static_cast<double>(done) / m_workTotal : 0.0;
        m_impl->workBar->setValue(static_cast<int>(1000 * std::min(part, 1.0)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return m_bStopAsked;
}

void CDialog::EndWork() {
    m_bBusy = false;
    if (m_impl) {
        for (const auto& [action, enabled] : m_impl->menuState)
            action->setEnabled(enabled);
        m_impl->menuState.clear();
        LockListMarks(m_impl->dlg, false);
        if (m_impl->workRow) {
            m_impl->workRow->deleteLater();
            m_impl->workRow->hide();
            m_impl->workRow = nullptr;
            m_impl->workBar = nullptr;
        }
    }
    // The close box was pressed during the work: end as it asked, once the handler returns.
    if (m_bCloseAsked && m_impl)
        QMetaObject::invokeMethod(
            m_impl->dlg, [this] { OnCancel(); }, Qt::QueuedConnection);
    m_bCloseAsked = false;
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
