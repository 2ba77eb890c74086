#include "Dialog.h"

#include <QCloseEvent>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <unistd.h>

#include "DialogPrivate.h"
#include "QtConvert.h"

// ---- the window ----

FwDialog::FwDialog(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

void FwDialog::keyPressEvent(QKeyEvent* e) {
    if (!m_owner || (e->modifiers() & ~(Qt::KeypadModifier))) {
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

// ---- drops ----

void FwDialog::dragEnterEvent(QDragEnterEvent* e) {
    if (m_owner && e->mimeData()->hasUrls())
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
    if (!m_owner)
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

// ---- the client area ----

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

void ClientArea::paintEvent(QPaintEvent* e) {
    QWidget::paintEvent(e);
    if (!m_owner)
        return;
    QPainter painter(this);
    PaintContext paint{painter, *this};
    AfxMsg msg;
    msg.message = WM_PAINT;
    msg.paint = &paint;
    m_owner->SendMessage(msg);
}

void CDialog::DrawIconCentered(HICON hIcon) {
    const AfxMsg* msg = GetCurrentMessage();
    if (!msg || msg->message != WM_PAINT || !msg->paint)
        return;
    QPainter& painter = msg->paint->painter;
    const QWidget& area = msg->paint->area;
    QPixmap pm = IconPixmap(hIcon, true);
    painter.fillRect(area.rect(), area.palette().window());
    int x = (area.width() - pm.width() + 1) / 2;
    int y = (area.height() - pm.height() + 1) / 2;
    painter.drawPixmap(x, y, pm);
}
