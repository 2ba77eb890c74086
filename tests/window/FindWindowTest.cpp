// Find Next and Previous, Marked Rows Only and regular expressions, driven as the user does:
// menu items, their keys, and the list's own mouse and keys.
#include <QAction>
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <regex>

#include "FileDialog.h"
#include "ListView.h"
#include "Memory.h"
#include "RowPattern.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

class WindowFindNext : public SeamTest {};
class WindowMarkedOnly : public SeamTest {};
class WindowRegex : public SeamTest {};

// "entry 000 alpha" on, a run each: "needle" where i % 7 is 1 or 6, "x-ray" where it is 4.
std::string Entry(int i) {
    static const char* const words[] = {"alpha", "needle", "Beta",  "gamma",
                                        "x-ray", "delta",  "Needle"};
    char row[32];
    std::snprintf(row, sizeof row, "entry %03d %s", i, words[i % 7]);
    return row;
}

std::string Entries(int n) {
    std::string bytes;
    for (int i = 0; i < n; ++i)
        bytes += Entry(i) + '\0';
    return bytes;
}

// The rows that satisfy take, of the first 60.
std::vector<int> EntriesWhere(bool (*take)(int)) {
    std::vector<int> rows;
    for (int i = 0; i < 60; ++i)
        if (take(i))
            rows.push_back(i);
    return rows;
}

bool IsNeedle(int i) {
    return i % 7 == 1 || i % 7 == 6;
}

// Shows the window with the list focused and the file's rows in it.
ListView* Show(CScanDlg& dlg, const std::string& path) {
    dlg.GetWidget()->resize(500, 400);
    dlg.GetWidget()->show();
    OpenAndScan(dlg, path);
    auto* view = dynamic_cast<ListView*>(List(dlg).GetWidget());
    QApplication::setActiveWindow(dlg.GetWidget());
    view->setFocus();
    QCoreApplication::processEvents();
    return view;
}

// Find, its prompt offering `offered` and answered with `typed`; then the message box named.
void Find(CScanDlg& dlg, const std::string& offered, const std::string& typed,
          const std::string& box = "", UINT type = MB_OK) {
    ModalSeam::ExpectDialog(IDD_PROMPT, [=](CDialog& d) {
        EXPECT_EQ(d.GetDlgItemText(IDC_VALUE), offered.c_str());
        d.SetDlgItemText(IDC_VALUE, typed.c_str());
        return IDOK;
    });
    if (!box.empty())
        ModalSeam::ExpectMessageBox(box.c_str(), type);
    dlg.SendCommand(ID_EDIT_FIND);
}

// The listing rows marked, shown or not.
std::vector<int> Marked(const CScanDlg& dlg) {
    std::vector<int> rows;
    for (int i = 0; i < List(dlg).Rows().Count(); ++i)
        if (List(dlg).Rows().Marked(i))
            rows.push_back(i);
    return rows;
}

// The entries the list shows, read from their texts, in order.
std::vector<int> Shown(const CScanDlg& dlg) {
    std::vector<int> rows;
    for (int i = 0; i < List(dlg).GetItemCount(); ++i)
        rows.push_back(std::stoi(List(dlg).GetItemText(i, 1).Str().substr(6, 3)));
    return rows;
}

TEST_F(WindowFindNext, StepsThroughTheMarkedRowsAndGoesRound) {
    TempDir dir;
    WithScanDlg([&](CScanDlg& dlg) {
        QAction* next = MenuItem(dlg, ID_EDIT_FIND_NEXT);
        QAction* previous = MenuItem(dlg, ID_EDIT_FIND_PREVIOUS);
        ASSERT_TRUE(next && previous);
        EXPECT_EQ(next->text(), QStringLiteral("Find &Next"));
        EXPECT_EQ(next->shortcut(), QKeySequence(Qt::Key_F3));
        EXPECT_EQ(previous->text(), QStringLiteral("Find &Previous"));
        EXPECT_EQ(previous->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F3));
        const UINT finds[] = {ID_EDIT_FIND, ID_EDIT_FIND_NEXT, ID_EDIT_FIND_PREVIOUS};
        for (UINT id : finds)
            EXPECT_EQ(MenuState(dlg, id), MF_GRAYED) << id;

        ListView* view = Show(dlg, dir.Write("entries.bin", Entries(60)));
        for (UINT id : finds)
            EXPECT_EQ(MenuState(dlg, id), MF_ENABLED) << id;
        auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(view, k, mods);
        };
        auto focusInView = [&] {
            return view->viewport()->rect().contains(view->RowRect(List(dlg).GetFocusRow()));
        };
        // Nothing marked: the focus stays, and nothing is said.
        key(Qt::Key_Down, Qt::ControlModifier);
        key(Qt::Key_F3);
        key(Qt::Key_F3, Qt::ShiftModifier);
        EXPECT_EQ(List(dlg).GetFocusRow(), 0);
        EXPECT_TRUE(Marked(dlg).empty());

        Find(dlg, "", "needle");
        ASSERT_EQ(Marked(dlg), EntriesWhere(IsNeedle));
        key(Qt::Key_End, Qt::ControlModifier);
        key(Qt::Key_Home, Qt::ControlModifier);
        // Each key and the focus row it leads to: 57 is the last needle.
        const std::pair<bool, int> steps[] = {{true, 1},   {true, 6}, {false, 1},
                                              {false, 57}, {true, 1}, {false, 57}};
        for (auto [forward, expect] : steps) {
            key(Qt::Key_F3, forward ? Qt::NoModifier : Qt::ShiftModifier);
            EXPECT_EQ(List(dlg).GetFocusRow(), expect);
            EXPECT_TRUE(focusInView()) << expect;
        }
        EXPECT_EQ(Marked(dlg), EntriesWhere(IsNeedle));

        // One row marked, at either end or in the middle, and the focus beside it or on it.
        struct Case {
            int mark, focus;
            bool forward;
        };
        for (const Case& c :
             {Case{59, 0, false}, Case{59, 58, true}, Case{0, 59, true}, Case{0, 1, false},
              Case{30, 31, true}, Case{30, 29, false}, Case{30, 30, false}}) {
            List(dlg).ChangeRows([&](Listing& rows) {
                rows.ClearMarks();
                rows.SetMarked(c.mark, true);
            });
            List(dlg).SetFocusRow(c.focus);
            key(Qt::Key_F3, c.forward ? Qt::NoModifier : Qt::ShiftModifier);
            EXPECT_EQ(List(dlg).GetFocusRow(), c.mark) << c.focus;
            EXPECT_TRUE(focusInView()) << c.mark << " " << c.focus;
        }

        // A scan that lists nothing: nothing to find or step through.
        OpenAndScan(dlg, dir.Write("empty.bin", std::string(64, '\0')));
        for (UINT id : finds)
            EXPECT_EQ(MenuState(dlg, id), MF_GRAYED) << id;
    });
}

// An entry's line as Export writes it.
std::string Line(int i) {
    int offset = 0;
    for (int k = 0; k < i; ++k)
        offset += static_cast<int>(Entry(k).size()) + 1;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%06X\t", offset);
    return hex + Entry(i) + "\r\n";
}

TEST_F(WindowMarkedOnly, ShowsTheMarkedRowsUntilTurnedOffOrANewScan) {
    TempDir dir;
    const std::string path = dir.Write("entries.bin", Entries(60));
    WithScanDlg([&](CScanDlg& dlg) {
        QAction* only = MenuItem(dlg, ID_OPTIONS_MARKED_ONLY);
        ASSERT_NE(only, nullptr);
        EXPECT_EQ(only->text(), QStringLiteral("Marked Rows &Only"));
        EXPECT_TRUE(only->isCheckable() && !only->isChecked());
        ListView* view = Show(dlg, path);
        auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(view, k, mods);
        };
        Find(dlg, "", "needle");
        only->trigger();
        EXPECT_TRUE(only->isChecked());
        EXPECT_EQ(Shown(dlg), EntriesWhere(IsNeedle));
        key(Qt::Key_End, Qt::ControlModifier);
        EXPECT_EQ(List(dlg).GetFocusRow(), 16); // entry 57
        key(Qt::Key_F3);
        EXPECT_EQ(List(dlg).GetFocusRow(), 0);

        // A Find adds the rows it marks, in listing order; the focus stays on its row.
        key(Qt::Key_End);
        Find(dlg, "NEEDLE", "x-ray");
        const std::vector<int> shown =
            EntriesWhere([](int i) { return IsNeedle(i) || i % 7 == 4; });
        EXPECT_EQ(Shown(dlg), shown);
        EXPECT_EQ(Shown(dlg)[static_cast<size_t>(List(dlg).GetFocusRow())], 57);
        EXPECT_EQ(Marked(dlg).size(), 9u);

        // The user's marks change no row shown, and reach no row hidden.
        key(Qt::Key_Home, Qt::ControlModifier);
        key(Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(Marked(dlg), shown);
        ClickRow(List(dlg), 3);
        key(Qt::Key_Space, Qt::ControlModifier);
        EXPECT_TRUE(Marked(dlg).empty());
        ClickRow(List(dlg), 2);
        key(Qt::Key_End, Qt::ControlModifier);
        key(Qt::Key_Space, Qt::ControlModifier);
        EXPECT_EQ(Marked(dlg), std::vector<int>({6, 57}));
        EXPECT_EQ(Shown(dlg), shown);

        // Export writes the listing's rows, all of them or the marked ones.
        std::string all;
        for (int i = 0; i < 60; ++i)
            all += Line(i);
        const std::string out = dir.Path("out.txt");
        for (const auto& [id, lines] : {std::make_pair(ID_EXPORT_ALL, all),
                                        std::make_pair(ID_EXPORT_MARKED, Line(6) + Line(57))}) {
            ModalSeam::ExpectFileDialog(
                [&](const FileDialogRequest&) { return std::optional<CString>(out.c_str()); });
            dlg.SendCommand(id);
            EXPECT_EQ(ReadFileBytes(out), lines) << id;
        }

        // Off: every row again, the marks as they were, the focus row kept and in view (the
        // top row stays on its row, far above it now).
        only->trigger();
        EXPECT_FALSE(only->isChecked());
        EXPECT_EQ(List(dlg).GetItemCount(), 60);
        EXPECT_EQ(List(dlg).GetFocusRow(), 57);
        EXPECT_TRUE(view->viewport()->rect().contains(view->RowRect(57)));
        EXPECT_EQ(Marked(dlg), std::vector<int>({6, 57}));
        only->trigger();
        EXPECT_EQ(Shown(dlg), std::vector<int>({6, 57}));
        EXPECT_EQ(List(dlg).GetFocusRow(), 1);

        // A new scan shows all its rows, and says so.
        OpenAndScan(dlg, path);
        EXPECT_FALSE(only->isChecked());
        EXPECT_EQ(List(dlg).GetItemCount(), 60);
    });
}

TEST_F(WindowMarkedOnly, AStoppedTurningOnLeavesEveryRowShownAndTheItemUnchecked) {
    WithScanDlg([&](CScanDlg& dlg) {
        const int n = (1 << 20) + 1000; // more than one step of gathering the marks
        List(dlg).ChangeRows([&](Listing& rows) {
            for (int i = 0; i < n; ++i)
                rows.Append("0000AA", 6, "some text", 9);
            rows.SetMarked(n - 1, true);
        });
        dlg.GetWidget()->show();
        QTimer::singleShot(0, [&] { dlg.StopWork(); });
        QAction* only = MenuItem(dlg, ID_OPTIONS_MARKED_ONLY);
        only->trigger();
        EXPECT_EQ(List(dlg).GetItemCount(), n);
        EXPECT_FALSE(only->isChecked());
    });
}

TEST_F(WindowMarkedOnly, WithoutRoomNothingIsHiddenAndEveryMarkedRowStaysInView) {
    TempDir dir;
    WithScanDlg([&](CScanDlg& dlg) {
        Show(dlg, dir.Write("entries.bin", Entries(60)));
        QAction* only = MenuItem(dlg, ID_OPTIONS_MARKED_ONLY);
        ASSERT_NE(only, nullptr);
        Find(dlg, "", "x-ray");
        // No room for the shown rows: the box, every row shown and the item unchecked.
        SetMemoryCap(kMemoryHeadroom);
        ModalSeam::ExpectMessageBox(kOutOfMemory, MB_OK | MB_ICONSTOP);
        only->trigger();
        EXPECT_FALSE(only->isChecked());
        EXPECT_EQ(List(dlg).GetItemCount(), 60);
        SetMemoryCap(kMemoryUnknown);
        only->trigger();
        ASSERT_TRUE(only->isChecked());
        const std::vector<int> xrays = Marked(dlg);
        EXPECT_EQ(Shown(dlg), xrays);
        // A Find without room to show what it marks marks nothing it cannot show.
        SetMemoryCap(kMemoryHeadroom);
        Find(dlg, "X-RAY", "needle", kOutOfMemory, MB_OK | MB_ICONSTOP);
        SetMemoryCap(kMemoryUnknown);
        EXPECT_EQ(Marked(dlg), xrays);
        EXPECT_EQ(Shown(dlg), xrays);
    });
}

TEST_F(WindowMarkedOnly, FindScrollsNothingWithEveryRowShownOrSome) {
    TempDir dir;
    WithScanDlg([&](CScanDlg& dlg) {
        ListView* view = Show(dlg, dir.Write("entries.bin", Entries(60)));
        // The focus row far below the rows in view: Find marks, and the view stays put.
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        view->verticalScrollBar()->setValue(0);
        Find(dlg, "", "needle");
        EXPECT_EQ(view->TopRow(), 0);
        MenuItem(dlg, ID_OPTIONS_MARKED_ONLY)->trigger();
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
        view->verticalScrollBar()->setValue(0);
        Find(dlg, "NEEDLE", "x-ray");
        EXPECT_EQ(view->TopRow(), 0);
        EXPECT_EQ(Shown(dlg), Marked(dlg));
    });
}

TEST_F(WindowRegex, PatternsAreKeptAsTypedAndFindWhatRE2Finds) {
    TempDir dir;
    WithScanDlg([&](CScanDlg& dlg) {
        QAction* regex = MenuItem(dlg, ID_OPTIONS_REGEX);
        ASSERT_NE(regex, nullptr);
        EXPECT_EQ(regex->text(), QStringLiteral("&Regular Expressions"));
        EXPECT_TRUE(regex->isCheckable() && !regex->isChecked());
        Show(dlg, dir.Write("entries.bin", Entries(60)));
        // Off, a text is a text: the dot is no pattern, and the text comes back upper case.
        Find(dlg, "", "entry.0", "Text Not Found");
        EXPECT_TRUE(Marked(dlg).empty());

        regex->trigger();
        EXPECT_TRUE(regex->isChecked());
        // The text is offered as it was typed, not as plain Find offers it: upper case would
        // make \d a non-digit.
        const std::string pattern = "\\d[37] (Needle|x-RAY)$";
        Find(dlg, "entry.0", pattern);
        const std::regex model(pattern, std::regex::ECMAScript | std::regex::icase);
        std::vector<int> want;
        for (int i = 0; i < 60; ++i)
            if (std::regex_search(Entry(i), model))
                want.push_back(i);
        ASSERT_EQ(want, std::vector<int>({13, 27, 43, 53, 57}));
        EXPECT_EQ(Marked(dlg), want);

        // Refused, with RE2's reason; no mark changes, and the pattern is offered again.
        std::string reason;
        ASSERT_EQ(RowPattern::Compile("(abc", &reason), nullptr);
        Find(dlg, pattern, "(abc", "Not a regular expression: " + reason,
             MB_OK | MB_ICONEXCLAMATION);
        Find(dlg, "(abc", "^needle", "Text Not Found");
        EXPECT_EQ(Marked(dlg), want);

        // Off again: as before, the text offered upper case.
        regex->trigger();
        EXPECT_FALSE(regex->isChecked());
        Find(dlg, "^NEEDLE", "Beta");
        Find(dlg, "BETA", "");
        EXPECT_EQ(Marked(dlg).size(), 60u);
    });
}

} // namespace
