// The window tests' main: a Qt application on the offscreen platform, with the program's
// application object and resources.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QTest>
#include <cstdlib>

#include "ListCtrl.h"
#include "ListView.h"
#include "Resources.h"
#include "ScanApp.h"
#include "ScanDlgAccess.h"
#include "WinApp.h"
#include "WindowSupport.h"
#include "resource.h"

QAction* MenuItem(const CWnd& wnd, unsigned id) {
    if (!wnd.GetWidget())
        return nullptr;
    for (QAction* a : wnd.GetWidget()->findChildren<QAction*>())
        if (a->data().toUInt() == id && !a->isSeparator() && !a->menu())
            return a;
    return nullptr;
}

unsigned MenuState(const CWnd& wnd, unsigned id) {
    const QAction* a = MenuItem(wnd, id);
    if (!a)
        return static_cast<unsigned>(-1);
    return a->isEnabled() ? MF_ENABLED : MF_GRAYED;
}

int ColumnWidth(const CListCtrl& list, int column) {
    auto* view = dynamic_cast<ListView*>(list.GetWidget());
    return view ? view->ColumnWidth(column) : -1;
}

void ClickRow(const CListCtrl& list, int row, int modifiers) {
    auto* view = dynamic_cast<ListView*>(list.GetWidget());
    ASSERT_NE(view, nullptr);
    const QRect r = view->CellRect(row, 1);
    ASSERT_TRUE(view->viewport()->rect().contains(r.center())) << "row " << row;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::KeyboardModifiers(modifiers),
                      r.center());
}

void WithScanDlg(const std::function<void(CScanDlg&)>& body) {
    CScanDlg dlg;
    ModalSeam::ExpectDialog(IDD_SCAN_DIALOG, [&](CDialog& d) {
        body(static_cast<CScanDlg&>(d));
        return IDCANCEL;
    });
    dlg.DoModal();
}

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // The program's own application object: message box captions and help come from it.
    theApp.SetModulePath("/opt/tools-1.2/bin/tarnwick");
    AfxSetResources(&ProgramResources());
    const char* const programOnly[] = {"tarnwick"};
    AfxSetCommandLine(1, programOnly);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
