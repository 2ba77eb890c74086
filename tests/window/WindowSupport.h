// Helpers for the window tests: a fixture that installs the scripted modal UI and fails the
// test on unexpected or missing modal UI, and running the main window.
#pragma once

#include <functional>

#include "ModalSeam.h"
#include "TestSupport.h"

class SeamTest : public ::testing::Test {
protected:
    void SetUp() override { ModalSeam::Begin(); }
    void TearDown() override {
        for (const std::string& f : ModalSeam::End())
            ADD_FAILURE() << "modal UI: " << f;
    }
};

class CWnd;
class CListCtrl;
class QAction;
// A menu item's state as the window shows it: MF_GRAYED or MF_ENABLED, (UINT)-1 for none.
unsigned MenuState(const CWnd& wnd, unsigned id);
// A menu item as the window shows it (its text, keys, check mark), or null; triggered, it
// does what the user's pick does, the check mark's flip too.
QAction* MenuItem(const CWnd& wnd, unsigned id);
// A list column's width as the view shows it.
int ColumnWidth(const CListCtrl& list, int column);
// A left click on a row of the list, as the user makes it (the row must be in view).
void ClickRow(const CListCtrl& list, int row, int modifiers = 0);

class CScanDlg;
// Runs the main window through the seam: body sees it after its initialisation.
void WithScanDlg(const std::function<void(CScanDlg&)>& body);
