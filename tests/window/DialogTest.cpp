// What every dialog has from the framework: long work with its progress row and guards, the
// paint message, and the application object that keeps what the windows share.
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <thread>

#include "PromptDlg.h"
#include "QtConvert.h"
#include "ScanApp.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

class WindowLongWorkInDialogs : public SeamTest {};
class WindowPainting : public SeamTest {};
class WindowApplicationObject : public SeamTest {};

QWidget* Child(CDialog& dlg, const char* name) {
    return dlg.GetWidget()->findChild<QWidget*>(QString::fromLatin1(name));
}

// Steps of work until its progress row shows (it waits for a moment of work first).
void WorkUntilTheRowShows(CDialog& dlg, ULONGLONG step) {
    for (int i = 0; i < 2000 && !Child(dlg, "workRow"); ++i) {
        ASSERT_FALSE(dlg.WorkProgress(step));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(Child(dlg, "workRow"), nullptr);
}

// A dialog with no list and no menu, run twice: the work's row shows in the window of each
// run, Stop and Escape stop the work, and Enter starts nothing meanwhile.
TEST_F(WindowLongWorkInDialogs, AnyDialogShowsProgressAndStopsInEveryWindowItRuns) {
    CPromptDlg dlg;
    for (int run = 0; run < 2; ++run) {
        ModalSeam::ExpectDialog(IDD_PROMPT, [&](CDialog& d) {
            d.BeginWork(1000);
            EXPECT_TRUE(d.IsBusy());
            WorkUntilTheRowShows(d, 250);
            EXPECT_EQ(static_cast<QProgressBar*>(Child(d, "workProgress"))->value(), 250);
            // Enter would press OK and end the dialog under the work.
            QTest::keyClick(d.GetWidget(), Qt::Key_Return);
            EXPECT_FALSE(d.HasEnded());
            static_cast<QPushButton*>(Child(d, "workStop"))->click();
            EXPECT_TRUE(d.WorkProgress(500));
            d.EndWork();
            EXPECT_FALSE(d.IsBusy());
            const QWidget* row = Child(d, "workRow");
            EXPECT_TRUE(!row || row->isHidden());
            // Once more, stopped by Escape, which outside work is Cancel.
            WorkScope work(d, 10);
            QTest::keyClick(d.GetWidget(), Qt::Key_Escape);
            EXPECT_TRUE(d.WorkProgress(1));
            work.End();
            EXPECT_FALSE(d.HasEnded());
            return IDOK;
        });
        EXPECT_EQ(dlg.DoModal(), IDOK) << "run " << run;
    }
}

// The close box during work stops it, and the dialog ends once the work has ended.
TEST_F(WindowLongWorkInDialogs, TheCloseBoxEndsTheDialogAfterTheWork) {
    CPromptDlg dlg;
    ModalSeam::ExpectDialog(IDD_PROMPT, [&](CDialog& d) {
        {
            WorkScope work(d, 10);
            d.GetWidget()->close();
            EXPECT_TRUE(d.WorkProgress(1));
            EXPECT_FALSE(d.HasEnded());
        }
        QCoreApplication::processEvents();
        EXPECT_TRUE(d.HasEnded());
        return IDCANCEL;
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

// The client area painted as the window system paints it: the area alone, without the
// controls over it.
QImage PaintClientArea(CDialog& dlg) {
    QWidget* client = Child(dlg, "clientArea");
    QImage image(client->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    client->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return image;
}

// The icon over the window's colour, as the middle of a minimised window shows it.
QImage IconOver(const QColor& background, HICON icon) {
    const QPixmap pm = IconPixmap(icon, true);
    QImage image(pm.size(), QImage::Format_RGB32);
    image.fill(background);
    QPainter(&image).drawPixmap(0, 0, pm);
    return image;
}

// Painting goes through the main window's paint handler, which draws the icon only while the
// window is minimised; asked to draw outside a paint, it draws nothing.
TEST_F(WindowPainting, AMinimisedMainWindowPaintsItsIconInTheMiddle) {
    WithScanDlg([&](CScanDlg& dlg) {
        QWidget* window = dlg.GetWidget();
        window->show();
        QCoreApplication::processEvents();
        const QColor background = window->palette().color(QPalette::Window);
        const QImage expected = IconOver(background, ScanDlgAccess::Icon(dlg));
        ASSERT_FALSE(expected.isNull());
        const auto middle = [&](const QImage& painted) {
            return painted.copy((painted.width() - expected.width() + 1) / 2,
                                (painted.height() - expected.height() + 1) / 2, expected.width(),
                                expected.height());
        };
        EXPECT_NE(middle(PaintClientArea(dlg)), expected);
        dlg.DrawIconCentered(ScanDlgAccess::Icon(dlg));

        window->showMinimized();
        QCoreApplication::processEvents();
        ASSERT_TRUE(dlg.IsIconic());
        const QImage painted = PaintClientArea(dlg);
        EXPECT_EQ(middle(painted), expected);
        EXPECT_EQ(painted.pixelColor(0, 0), background);
        window->showNormal();
        QCoreApplication::processEvents();
    });
}

// The application object is the first one made: another one made and gone meanwhile (a
// tool that only wants the resources) neither takes its state nor leaves it without.
TEST_F(WindowApplicationObject, KeepsItsStateWhileOthersComeAndGo) {
    ASSERT_EQ(AfxGetApp(), &theApp);
    const CString title = AfxGetAppTitle();
    {
        CWinApp other;
        EXPECT_EQ(AfxGetApp(), &theApp);
        EXPECT_EQ(AfxGetAppTitle(), title);
    }
    EXPECT_EQ(AfxGetApp(), &theApp);
    EXPECT_EQ(AfxGetAppTitle(), title);
    EXPECT_NE(AfxFindDialogTemplate(IDD_SCAN_DIALOG), nullptr);
    EXPECT_EQ(AfxCommandFallback(), &theApp);

    // The modal dialogs running, innermost last: the About box over the main window.
    EXPECT_TRUE(AfxModalDialogs().empty());
    WithScanDlg([&](CScanDlg& dlg) {
        EXPECT_EQ(AfxModalDialogs(), std::vector<CDialog*>({&dlg}));
        ModalSeam::ExpectDialog(IDD_ABOUTBOX, [&](CDialog& about) {
            EXPECT_EQ(AfxModalDialogs(), std::vector<CDialog*>({&dlg, &about}));
            return IDOK;
        });
        dlg.SendCommand(ID_HELP_ABOUT);
        EXPECT_EQ(AfxModalDialogs(), std::vector<CDialog*>({&dlg}));
    });
    EXPECT_TRUE(AfxModalDialogs().empty());
}

} // namespace
