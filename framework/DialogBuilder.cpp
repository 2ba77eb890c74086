#include "Dialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogPrivate.h"
#include "ListAccessible.h"
#include "ListView.h"
#include "MenuBar.h"
#include "QtConvert.h"

void DialogBuilder::Build(const DlgTemplate* t, QWidget* parent) {
    CreateFrame(parent);
    if (!t) {
        m_impl.dlg->resize(200, 100);
        return;
    }
    SetFrameStyle(*t, parent != nullptr);
    if (t->menuId)
        if (const MenuTemplate* menu = AfxFindMenuTemplate(t->menuId))
            m_impl.layout->setMenuBar(MenuBuilder(m_owner, m_impl.dlg).Build(*menu));
    for (int i = 0; i < t->nControls; ++i)
        AddControl(t->controls[i], i);
    SetSize(*t);
}

void DialogBuilder::CreateFrame(QWidget* parent) {
    auto* dlg = new FwDialog(&m_owner, parent);
    m_impl.dlg = dlg;
    m_owner.Attach(dlg);
    dlg->setObjectName(QStringLiteral("dialog_%1").arg(m_owner.GetTemplateId()));
    QFontMetrics fm(QApplication::font());
    // Windows' dialog base units: the average width of the letters, and the font height.
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_impl.units.baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    m_impl.units.baseY = fm.height();

    auto* layout = new QVBoxLayout(dlg);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_impl.layout = layout;
    auto* client = new ClientArea(&m_owner, dlg);
    client->setObjectName(QStringLiteral("clientArea"));
    m_impl.client = client;
    layout->addWidget(client);
}

void DialogBuilder::SetFrameStyle(const DlgTemplate& t, bool owned) {
    FwDialog* dlg = m_impl.dlg;
    dlg->setWindowTitle(QString::fromLatin1(t.caption));
    Qt::WindowFlags flags =
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t.minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    if (t.maximizeBox)
        flags |= Qt::WindowMaximizeButtonHint;
    if (!owned)
        flags = (flags & ~Qt::Dialog) | Qt::Window;
    dlg->setWindowFlags(flags);
    dlg->setSizeGripEnabled(false);
    if (t.exStyle & WS_EX_ACCEPTFILES)
        dlg->setAcceptDrops(true);
}

QWidget* DialogBuilder::CreateControl(const DlgControl& c, QWidget* client) {
    QString text = QString::fromLatin1(c.text ? c.text : "");
    switch (c.kind) {
    case ControlKind::PushButton: {
        auto* b = new QPushButton(text, client);
        b->setDefault((c.style & BS_DEFPUSHBUTTON) != 0);
        b->setAutoDefault(false);
        CDialog* owner = &m_owner;
        UINT id = static_cast<UINT>(c.id);
        QObject::connect(b, &QPushButton::clicked, b, [owner, id]() {
            if (owner->IsRunning())
                owner->SendCommand(id);
        });
        return b;
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
        return l;
    }
    case ControlKind::Icon: {
        auto* l = new QLabel(client);
        l->setPixmap(IconPixmap(AfxFindIcon(c.iconId), true));
        return l;
    }
    case ControlKind::Edit:
        return new QLineEdit(text, client);
    case ControlKind::ListView:
        // Screen readers find the list's table through Qt's accessibility, once told of it.
        InstallListAccessibility();
        return new ListView(client);
    }
    return nullptr;
}

void DialogBuilder::AddControl(const DlgControl& c, int index) {
    QWidget* w = CreateControl(c, m_impl.client);
    if (!w)
        return;
    w->setObjectName(c.id >= 0 ? QStringLiteral("control_%1").arg(c.id)
                               : QStringLiteral("control_static_%1").arg(index));
    w->setGeometry(m_impl.units.ToPixelsX(c.x), m_impl.units.ToPixelsY(c.y),
                   m_impl.units.ToPixelsX(c.cx), m_impl.units.ToPixelsY(c.cy));
    w->setFocusPolicy((c.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
    if (c.id >= 0)
        m_impl.controls[c.id] = w;
}

void DialogBuilder::SetSize(const DlgTemplate& t) {
    FwDialog* dlg = m_impl.dlg;
    const QSize client(m_impl.units.ToPixelsX(t.cx), m_impl.units.ToPixelsY(t.cy));
    m_impl.client->resize(client);
    QSize total = client;
    if (m_impl.layout->menuBar())
        total.rheight() += m_impl.layout->menuBar()->sizeHint().height();
    dlg->resize(total);
    if (!(t.style & WS_THICKFRAME))
        dlg->setFixedSize(total);
    dlg->move(m_impl.units.ToPixelsX(t.x), m_impl.units.ToPixelsY(t.y));
}
