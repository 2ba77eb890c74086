// A dialog's menu bar, built from a menu template: each item sends its command to the dialog.
#pragma once

#include <vector>

#include "Resources.h"

class CDialog;
class QMenu;
class QMenuBar;
class QString;
class QWidget;

class MenuBuilder {
public:
    // Items go to owner as commands; the bar belongs to window.
    MenuBuilder(CDialog& owner, QWidget* window);
    // The bar with every item of the menu, in the order the template lists them.
    QMenuBar* Build(const MenuTemplate& menu);

private:
    void AddTopMenu(const MenuItemTemplate& item);
    void AddItem(QMenu* parent, const MenuItemTemplate& item);
    void AddCommand(QMenu* parent, const QString& text, UINT id);

    CDialog& m_owner;
    QWidget* m_window;
    QMenuBar* m_bar = nullptr;
    bool m_right = false;       // the menus placed at the right end have begun
    std::vector<QMenu*> m_open; // the popup at each depth of the item before
};
