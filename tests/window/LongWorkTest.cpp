// Long work in the window: a scan or an export stopped by Escape, Stop or the close box.
#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "ListingRule.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

// 40 MB of sample bytes on disk, and the listing the rule gives for them: long enough to
// stop midway.
class WindowLongWork : public SeamTest {
protected:
    TempDir dir;
    const std::string data = LargeSample(40 << 20);
    const std::vector<ListingRow> all = ListingOf(data, 10);
    const std::string path = dir.Write("big.bin", data);
};

// Runs act once the window next answers events: inside the work's first step.
void DuringWork(std::function<void()> act) {
    QTimer::singleShot(0, std::move(act));
}

// A scan stopped midway: the caption says so, the rows kept are a prefix of the whole
// listing (at least `least` of them, and not all), and the menu matches them.
void ExpectStoppedWithAPrefix(CScanDlg& dlg, const std::vector<ListingRow>& all, size_t least) {
    EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Stopped");
    const std::vector<ListingRow> got = RowsOf(List(dlg).Rows());
    ASSERT_GE(got.size(), least);
    ASSERT_LT(got.size(), all.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin()));
    EXPECT_EQ(MenuState(dlg, ID_EDIT_FIND), MF_ENABLED);
}

TEST_F(WindowLongWork, StopKeepsTheRowsSoFarAndTheWindowGoesOn) {
    WithScanDlg([&](CScanDlg& dlg) {
        for (auto stop : {std::function<void()>([&] {
                              // Nothing else starts meanwhile: the menu is grayed.
                              EXPECT_EQ(MenuState(dlg, ID_FILE_OPEN), MF_GRAYED);
                              EXPECT_EQ(MenuState(dlg, ID_HELP_ABOUT), MF_GRAYED);
                              QTest::keyClick(dlg.GetWidget(), Qt::Key_Escape);
                          }),
                          std::function<void()>([&] { dlg.StopWork(); })}) {
            DuringWork(stop);
            OpenAndScan(dlg, path);
            ExpectStoppedWithAPrefix(dlg, all, 1);
            // The window is still there, and takes commands again.
            EXPECT_EQ(MenuState(dlg, ID_FILE_OPEN), MF_ENABLED);
            EXPECT_FALSE(dlg.HasEnded());
        }
        // Unstopped, the same file lists everything.
        OpenAndScan(dlg, path);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(List(dlg).GetItemCount(), static_cast<int>(all.size()));
        // The close box during the work stops it, then ends the window.
        DuringWork([&] { dlg.GetWidget()->close(); });
        OpenAndScan(dlg, path);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Stopped");
        EXPECT_FALSE(dlg.HasEnded());
        QCoreApplication::processEvents();
        EXPECT_TRUE(dlg.HasEnded());
    });
}

TEST_F(WindowLongWork, AStoppedExportLeavesTheFileAsItWas) {
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, path);
        ASSERT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        // A stopped export leaves the file it would have replaced as it was.
        const std::string target = dir.Write("old.txt", "the old listing\n");
        ModalSeam::ExpectFileDialog(
            [&](const FileDialogRequest&) { return std::optional<CString>(target.c_str()); });
        DuringWork([&] { QTest::keyClick(dlg.GetWidget(), Qt::Key_Escape); });
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Stopped");
        EXPECT_EQ(ReadFileBytes(target), "the old listing\n");
        EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"big.bin", "old.txt"}));
        // A file with another hard link is written in place, but only by the final copy:
        // stopped before it, the export leaves both names on the old listing, and nothing
        // beside them.
        const std::string twin = dir.Path("twin.txt");
        ASSERT_EQ(::link(target.c_str(), twin.c_str()), 0);
        ModalSeam::ExpectFileDialog(
            [&](const FileDialogRequest&) { return std::optional<CString>(target.c_str()); });
        DuringWork([&] { QTest::keyClick(dlg.GetWidget(), Qt::Key_Escape); });
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Stopped");
        EXPECT_EQ(ReadFileBytes(twin), "the old listing\n");
        EXPECT_EQ(ReadFileBytes(target), "the old listing\n");
        EXPECT_EQ(Entries(dir.Dir()), std::vector<std::string>({"big.bin", "old.txt", "twin.txt"}));
        // Unstopped, both names get the whole listing.
        ModalSeam::ExpectFileDialog(
            [&](const FileDialogRequest&) { return std::optional<CString>(target.c_str()); });
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_TRUE(ReadFileBytes(twin) == ExportOf(all));
    });
}

TEST_F(WindowLongWork, MarksStayStillWhileAnExportReadsThem) {
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, path);
        ASSERT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        // Marks stay as they were while an export of the marked rows runs, whether a click
        // or a screen reader would change them.
        dlg.GetWidget()->show();
        QCoreApplication::processEvents();
        const int last = List(dlg).GetItemCount() - 1;
        for (int row : {last - 2, last})
            List(dlg).SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
        const std::string marked = dir.Path("marked.txt");
        ModalSeam::ExpectFileDialog(
            [&](const FileDialogRequest&) { return std::optional<CString>(marked.c_str()); });
        DuringWork([&] {
            ClickRow(List(dlg), 5);
            QAccessibleInterface* list =
                QAccessible::queryAccessibleInterface(List(dlg).GetWidget());
            ASSERT_NE(list, nullptr);
            EXPECT_FALSE(list->tableInterface()->selectRow(6));
            EXPECT_FALSE(list->tableInterface()->unselectRow(last));
        });
        dlg.SendCommand(ID_EXPORT_MARKED);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_TRUE(ReadFileBytes(marked) == ExportOf({all[last - 2], all[last]}));
        EXPECT_EQ(List(dlg).Rows().MarkedCount(), 2);
    });
}

TEST_F(WindowLongWork, OutOfMemoryStopsTheScanAndTheRowsSoFarWork) {
    // More rows than the blocks a 48 MB listing holds.
    TempDir dir;
    std::string data;
    char line[16];
    for (int i = 0; i < 1100000; ++i)
        data.append(line, static_cast<size_t>(std::snprintf(line, sizeof line, "line%06d\n", i)));
    const std::vector<ListingRow> all = ListingOf(data, 10);
    const std::string path = dir.Write("lines.txt", data);
    WithScanDlg([&](CScanDlg& dlg) {
        List(dlg).ChangeRows([](Listing& rows) { rows.SetLimit(size_t(48) << 20); });
        ModalSeam::ExpectMessageBox("Out of memory.", MB_OK | MB_ICONSTOP);
        OpenAndScan(dlg, path);
        ExpectStoppedWithAPrefix(dlg, all, 1000001);
        const std::vector<ListingRow> got = RowsOf(List(dlg).Rows());

        // The rows kept are found and exported like any others.
        ModalSeam::ExpectDialog(IDD_PROMPT, [](CDialog& d) {
            d.SetDlgItemText(IDC_VALUE, "LINE000123");
            return IDOK;
        });
        dlg.SendCommand(ID_EDIT_FIND);
        EXPECT_EQ(List(dlg).Rows().MarkedCount(), 1);
        EXPECT_TRUE(List(dlg).GetItemState(123, LVIS_SELECTED));
        const std::string out = dir.Path("out.txt");
        ModalSeam::ExpectFileDialog(
            [&](const FileDialogRequest&) { return std::optional<CString>(out.c_str()); });
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_TRUE(ReadFileBytes(out) == ExportOf(got));

        // With room again, the same file lists whole.
        List(dlg).ChangeRows([](Listing& rows) { rows.SetLimit(SIZE_MAX); });
        OpenAndScan(dlg, path);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(List(dlg).GetItemCount(), static_cast<int>(all.size()));
    });
}

} // namespace
