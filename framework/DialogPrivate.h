// What the dialog's files share: its Qt window and the state that lives as long as the window.
#pragma once

#include <QDialog>
#include <QWidget>
#include <map>
#include <vector>

#include "Resources.h"

class CDialog;
class CWnd;
class QPainter;
class QVBoxLayout;

// The dialog's window: its keys, close box, minimising and drops become the dialog's messages.
class FwDialog : public QDialog {
public:
    FwDialog(CDialog* owner, QWidget* parent);
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

// Dialog units: a quarter of the font's average letter width across, an eighth of its height
// down.
struct DialogUnits {
    int baseX = 6, baseY = 13; // the font's dialog base units, in pixels
    int ToPixelsX(int x) const { return (x * baseX + 2) / 4; }
    int ToPixelsY(int y) const { return (y * baseY + 4) / 8; }
};

// Where a WM_PAINT handler paints: the client area, with a painter open on it.
struct PaintContext {
    QPainter& painter;
    QWidget& area;
};

// The dialog's window and what belongs to it, from its building to its end.
struct DialogImpl {
    FwDialog* dlg = nullptr;
    ClientArea* client = nullptr;
    QVBoxLayout* layout = nullptr;
    std::map<int, QWidget*> controls;
    std::vector<CWnd*> bound; // members bound to controls by data exchange
    DialogUnits units;
    bool inExec = false;
};

// Builds a dialog's window from its template: the frame, the menu bar, the controls and the
// size, in dialog units of the desktop's font.
class DialogBuilder {
public:
    DialogBuilder(CDialog& owner, DialogImpl& impl) : m_owner(owner), m_impl(impl) {}
    // The window of template t (null: an empty window of a default size), owned by parent.
    void Build(const DlgTemplate* t, QWidget* parent);

private:
    void CreateFrame(QWidget* parent);
    void SetFrameStyle(const DlgTemplate& t, bool owned);
    QWidget* CreateControl(const DlgControl& c, QWidget* client);
    void AddControl(const DlgControl& c, int index);
    void SetSize(const DlgTemplate& t);

    CDialog& m_owner;
    DialogImpl& m_impl;
};
