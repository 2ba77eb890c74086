// The scan as the main window runs it: the export name it offers, the caption, the menu, the
// list, and its failures as a user sees them.
#include <QAction>
#include <QWidget>
#include <sys/stat.h>
#include <utility>

#include "Listing.h"
#include "ListingRule.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

TEST(WindowExportName, LooksAtTheFileNameOnly) {
    CScanDlg dlg;
    const std::pair<const char*, const char*> cases[] = {
        {"/data/my.dir/dump", "/data/my.dir/dump.txt"},
        {"/games/play.exe", "/games/play.txt"},
        {"/data/dump", "/data/dump.txt"},
        {"notes.txt", "notes.txt"},
        {"", ".txt"},
        // A leading "." starts no extension.
        {"/home/u/.profile", "/home/u/.profile.txt"},
        {".profile", ".profile.txt"},
        {"/a.d/.bashrc.bak", "/a.d/.bashrc.txt"},
        // Bytes that are not UTF-8 stay as they are.
        {"/tmp/caf\xe9.bin", "/tmp/caf\xe9.txt"},
    };
    for (const auto& c : cases) {
        OpenAndScan(dlg, c.first);
        EXPECT_EQ(ExportName(dlg), c.second) << c.first;
    }
}

class WindowScan : public SeamTest {};

TEST_F(WindowScan, FailedOpensKeepTheRowsAndSayWhy) {
    TempDir dir;
    std::string good = dir.Write("good.bin", std::string("\0first text run\0second text run", 32));
    std::string fifo = dir.Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WithScanDlg([&](CScanDlg& dlg) {
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick");
        EXPECT_EQ(MenuState(dlg, ID_EXPORT_ALL), MF_GRAYED);
        OpenAndScan(dlg, good);
        ASSERT_EQ(List(dlg).GetItemCount(), 2);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(MenuState(dlg, ID_EXPORT_ALL), MF_ENABLED);
        EXPECT_EQ(MenuState(dlg, ID_EXPORT_MARKED), MF_ENABLED);
        EXPECT_EQ(MenuState(dlg, ID_EDIT_FIND), MF_ENABLED);
        for (const std::string& bad :
             {dir.Path("missing.exe"), dir.Dir(), fifo, std::string(), std::string("/dev/zero")}) {
            OpenAndScan(dlg, bad);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open filel") << bad;
            EXPECT_EQ(List(dlg).GetItemCount(), 2) << bad;
            EXPECT_EQ(MenuState(dlg, ID_EDIT_FIND), MF_ENABLED) << bad;
        }
        EXPECT_EQ(ExportName(dlg), "/dev/zero.txt");
        // A scan that finds nothing empties the list and grays the commands.
        OpenAndScan(dlg, dir.Write("none", std::string(100, '\0')));
        EXPECT_EQ(List(dlg).GetItemCount(), 0);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(MenuState(dlg, ID_EXPORT_ALL), MF_GRAYED);
        EXPECT_EQ(MenuState(dlg, ID_EXPORT_MARKED), MF_GRAYED);
        EXPECT_EQ(MenuState(dlg, ID_EDIT_FIND), MF_GRAYED);
        EXPECT_EQ(MenuState(dlg, ID_EDIT_COPY), MF_GRAYED);
    });
}

// A main window with one more command that scans a given path, as the menu commands do.
class ProbeDlg : public CScanDlg {
public:
    static constexpr UINT ID_PROBE = 40000;
    CString m_strProbePath;
    void OnProbe() { ScanDlgAccess::OpenAndScan(*this, m_strProbePath.Str()); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDlg, CScanDlg)
ON_COMMAND(ID_PROBE, OnProbe)
END_MESSAGE_MAP()

TEST_F(WindowScan, ReadErrorShowsTheStopBoxAndGraysWhatNeedsRows) {
    TempDir dir;
    std::string good = dir.Write("good.bin", "some readable text here");
    ProbeDlg probe;
    ModalSeam::ExpectDialog(IDD_SCAN_DIALOG, [&](CDialog&) {
        probe.m_strProbePath = good.c_str();
        probe.SendCommand(ProbeDlg::ID_PROBE);
        EXPECT_EQ(List(probe).GetItemCount(), 1);
        for (UINT id : {ID_EXPORT_ALL, ID_EXPORT_MARKED, ID_EDIT_FIND, ID_EDIT_COPY})
            EXPECT_EQ(MenuState(probe, id), MF_ENABLED) << id;
        // Reading the first page of this process's memory fails with EIO after the open.
        ModalSeam::ExpectMessageBox(
            "A hardware I/O error was reported while accessing an unnamed file.",
            MB_OK | MB_ICONSTOP);
        probe.m_strProbePath = "/proc/self/mem";
        probe.SendCommand(ProbeDlg::ID_PROBE);
        EXPECT_EQ(probe.GetWindowText(), "Tarnwick - Scanning");
        EXPECT_EQ(List(probe).GetItemCount(), 0);
        // The list the error left empty has nothing to find, copy or export.
        for (UINT id : {ID_EXPORT_ALL, ID_EXPORT_MARKED, ID_EDIT_FIND, ID_EDIT_COPY})
            EXPECT_EQ(MenuState(probe, id), MF_GRAYED) << id;
        EXPECT_EQ(MenuState(probe, ID_FILE_OPEN), MF_ENABLED);
        EXPECT_EQ(ExportName(probe), "/proc/self/mem.txt");
        return IDCANCEL;
    });
    probe.DoModal();
    ASSERT_EQ(ModalSeam::MessageBoxes().size(), 1u);
    EXPECT_EQ(ModalSeam::MessageBoxes()[0].caption, "tarnwick");
    EXPECT_EQ(ModalSeam::MessageBoxes()[0].owner, &probe);
}

TEST(WindowHitList, KeepsLongTextsWholeAndMarksPerRow) {
    CScanDlg dlg;
    std::string big(4096, 'Q');
    EXPECT_EQ(List(dlg).InsertItem(0, "000000..."), 0);
    EXPECT_TRUE(List(dlg).SetItemText(0, 1, big.c_str()));
    EXPECT_EQ(List(dlg).InsertItem(1, "001001"), 1);
    List(dlg).SetItemText(1, 1, "short");
    EXPECT_EQ(List(dlg).InsertItem(5, "bad"), -1);
    EXPECT_EQ(List(dlg).GetItemText(0, 1), big.c_str());
    EXPECT_EQ(List(dlg).GetItemText(0, 0), "000000...");
    EXPECT_EQ(List(dlg).GetItemText(1, 1), "short");
    List(dlg).SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(List(dlg).GetItemState(0, LVIS_SELECTED), 0u);
    EXPECT_EQ(List(dlg).GetItemState(1, LVIS_SELECTED), LVIS_SELECTED);
    List(dlg).SetItemState(1, 0, LVIS_SELECTED);
    EXPECT_EQ(List(dlg).GetItemState(1, LVIS_SELECTED), 0u);
}

TEST_F(WindowScan, Utf16TextIsAnOptionForTheNextScan) {
    TempDir dir;
    std::string data = std::string("\x01plain ASCII text\x01", 18);
    for (char c : std::string("Wide text in a program"))
        data += std::string(1, c) + '\0';
    const std::string path = dir.Write("mixed.bin", data);
    WithScanDlg([&](CScanDlg& dlg) {
        QAction* item = nullptr;
        QStringList options;
        for (QAction* a : dlg.GetWidget()->findChildren<QAction*>()) {
            const UINT id = a->data().toUInt();
            if (id == ID_OPTIONS_UTF16)
                item = a;
            if (id == ID_OPTIONS_MINLENGTH || id == ID_OPTIONS_UTF16)
                options << a->text();
        }
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(options, QStringList({QStringLiteral("&Minimum Text Length..."),
                                        QStringLiteral("&UTF-16 Text")}));
        EXPECT_TRUE(item->isCheckable());
        EXPECT_FALSE(item->isChecked());
        OpenAndScan(dlg, path);
        EXPECT_EQ(RowsOf(List(dlg).Rows()), ListingOf(data, 10));
        // Chosen from the menu, it is checked and the next scan lists both kinds; the rows
        // already there stay as they are.
        item->trigger();
        EXPECT_TRUE(item->isChecked());
        EXPECT_EQ(List(dlg).GetItemCount(), 1);
        OpenAndScan(dlg, path);
        const std::vector<ListingRow> both = ListingOf(data, 10, true);
        ASSERT_EQ(both.size(), 2u);
        EXPECT_EQ(both[1], ListingRow("000012u", "Wide text in a program"));
        EXPECT_EQ(RowsOf(List(dlg).Rows()), both);
        // Off again: as before.
        item->trigger();
        EXPECT_FALSE(item->isChecked());
        OpenAndScan(dlg, path);
        EXPECT_EQ(RowsOf(List(dlg).Rows()), ListingOf(data, 10));
    });
}

} // namespace
