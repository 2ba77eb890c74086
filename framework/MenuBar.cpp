#include "MenuBar.h"

#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QProxyStyle>

#include "Dialog.h"

namespace {

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

QString MenuObjectName(const char* text) {
    return QStringLiteral("menu_") + QString::fromLatin1(text).remove(QLatin1Char('&'));
}

} // namespace

MenuBuilder::MenuBuilder(CDialog& owner, QWidget* window) : m_owner(owner), m_window(window) {}

QMenuBar* MenuBuilder::Build(const MenuTemplate& menu) {
    m_bar = new FwMenuBar(m_window);
    m_bar->setObjectName(QStringLiteral("menuBar"));
    m_right = false;
    m_open.clear();
    for (int i = 0; i < menu.nItems; ++i) {
        const MenuItemTemplate& item = menu.items[i];
        m_open.resize(static_cast<size_t>(item.depth));
        if (item.depth == 0)
            AddTopMenu(item);
        else if (!m_open.empty() && m_open.back())
            AddItem(m_open.back(), item);
    }
    return m_bar;
}

void MenuBuilder::AddTopMenu(const MenuItemTemplate& item) {
    // Menus from the first one placed at the right end on go there, and stay in the one bar,
    // so that the arrow keys go round all of them.
    if ((item.flags & MFT_RIGHT) && !m_right) {
        m_right = true;
        auto* style = new RightMenusStyle;
        style->setParent(m_bar);
        m_bar->setStyle(style);
        m_bar->addSeparator();
    }
    QMenu* m = m_bar->addMenu(QString::fromLatin1(item.text ? item.text : ""));
    m->setObjectName(MenuObjectName(item.text));
    m_open.push_back(m);
}

void MenuBuilder::AddItem(QMenu* parent, const MenuItemTemplate& item) {
    const QString text = QString::fromLatin1(item.text ? item.text : "");
    if (item.flags & MFT_SEPARATOR) {
        parent->addSeparator();
    } else if (item.flags & MFT_POPUP) {
        QMenu* m = parent->addMenu(text);
        m->setObjectName(MenuObjectName(item.text));
        m_open.push_back(m);
    } else {
        AddCommand(parent, text, item.id);
    }
}

void MenuBuilder::AddCommand(QMenu* parent, const QString& text, UINT id) {
    // "Name\tKeys" gives the item a shortcut, shown beside it.
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    QAction* action = parent->addAction(tab < 0 ? text : text.left(tab));
    if (tab >= 0)
        action->setShortcut(QKeySequence::fromString(text.mid(tab + 1)));
    action->setData(id);
    action->setObjectName(QStringLiteral("action_%1").arg(id));
    CDialog* owner = &m_owner;
    QObject::connect(action, &QAction::triggered, m_window, [owner, id]() {
        if (owner->IsRunning())
            owner->SendCommand(id);
    });
}
