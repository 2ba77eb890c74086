// Export, find and mark, and the minimum length, driven through the main window's commands.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Clipboard.h"
#include "FileDialog.h"
#include "Memory.h"
#include "PromptDlg.h"
#include "ScanDlgAccess.h"
#include "WindowSupport.h"
#include "resource.h"

namespace {

// Runs and the offsets they are listed at (minimum 10).
std::string SampleFile() {
    std::string s;
    s += std::string(3, '\0') + "Hello World" + '\0';      // 000003
    s += "the quick brown fox" + std::string(1, '\n');     // 00000F
    s += "short" + std::string(1, '\0');                   // (too short)
    s += "HELLO AGAIN, FRIEND" + std::string(1, '\x80');   // 000029
    s += std::string(4096, 'L') + std::string(1, '\0');    // 00003D..., then 00103D
    s += "0000FF is not an offset" + std::string(1, '\0'); // 00103E
    return s;
}

const char kAll[] = "000003\tHello World\r\n"
                    "00000F\tthe quick brown fox\r\n"
                    "000029\tHELLO AGAIN, FRIEND\r\n";

std::string Line(const std::string& offset, const std::string& text) {
    return offset + "\t" + text + "\r\n";
}

std::string AllRows() {
    return std::string(kAll) + Line("00003D...", std::string(4096, 'L')) +
           Line("00103E", "0000FF is not an offset");
}

void ExpectSave(const std::string& path, const CString& initialName) {
    ModalSeam::ExpectFileDialog([=](const FileDialogRequest& r) -> std::optional<CString> {
        EXPECT_FALSE(r.bOpen);
        EXPECT_EQ(r.initialName, initialName);
        EXPECT_EQ(r.filter, "Text Files|*.txt|All Files|*.*||");
        EXPECT_EQ(r.flags, OFN_HIDEREADONLY);
        EXPECT_TRUE(r.defaultExt.IsEmpty());
        return CString(path.c_str());
    });
}

void ExpectPrompt(const char* caption, const std::string& offered,
                  std::optional<const char*> answer) {
    ModalSeam::ExpectDialog(IDD_PROMPT, [=](CDialog& d) {
        auto& p = static_cast<CPromptDlg&>(d);
        EXPECT_EQ(p.GetWindowText(), caption);
        EXPECT_EQ(p.GetDlgItemText(IDC_PROMPT), caption);
        EXPECT_EQ(p.GetDlgItemText(IDC_VALUE), offered.c_str());
        if (!answer)
            return IDCANCEL;
        p.SetDlgItemText(IDC_VALUE, *answer);
        return IDOK;
    });
}

std::vector<int> Marked(const CScanDlg& dlg) {
    std::vector<int> rows;
    for (int i = 0; i < List(dlg).GetItemCount(); ++i)
        if (List(dlg).GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED)
            rows.push_back(i);
    return rows;
}

class WindowResults : public SeamTest {};

TEST_F(WindowResults, ExportWritesRowsByteForByte) {
    TempDir dir;
    std::string scanned = dir.Write("sample.bin", SampleFile());
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        ASSERT_EQ(List(dlg).GetItemCount(), 5);
        EXPECT_EQ(ExportName(dlg), (dir.Path("sample.txt")).c_str());

        std::string all = dir.Path("all.txt");
        ExpectSave(all, dir.Path("sample.txt").c_str());
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(ReadFileBytes(all), AllRows());
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");

        // Nothing marked: an empty file, and done.
        std::string none = dir.Write("none", "old content that must go");
        ExpectSave(none, dir.Path("sample.txt").c_str());
        dlg.SendCommand(ID_EXPORT_MARKED);
        EXPECT_EQ(ReadFileBytes(none), "");
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");

        // A mark from the user (a Ctrl+click in the list) and one from the program count alike.
        dlg.GetWidget()->show();
        QCoreApplication::processEvents();
        ClickRow(List(dlg), 1, Qt::ControlModifier);
        List(dlg).SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_EQ(Marked(dlg), std::vector<int>({1, 3}));
        std::string marked = dir.Path("marked");
        ExpectSave(marked, dir.Path("sample.txt").c_str());
        dlg.SendCommand(ID_EXPORT_MARKED);
        EXPECT_EQ(ReadFileBytes(marked), Line("00000F", "the quick brown fox") +
                                             Line("00003D...", std::string(4096, 'L')));
        // A name typed without an extension is used as typed.
        struct stat st;
        EXPECT_NE(::stat((marked + ".txt").c_str(), &st), 0);
    });
}

TEST_F(WindowResults, ExportFailuresLoseNothing) {
    TempDir dir;
    std::string scanned = dir.Write("notes.txt", SampleFile());
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        ASSERT_EQ(ExportName(dlg), scanned.c_str());

        // Cancel: no file, caption unchanged.
        ModalSeam::ExpectFileDialog([](const FileDialogRequest&) { return std::nullopt; });
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");

        // The scanned file itself is offered; accepting it must not destroy it.
        ExpectSave(scanned, scanned.c_str());
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file");
        EXPECT_EQ(ReadFileBytes(scanned), SampleFile());

        // A folder that does not exist, and a folder itself.
        for (const std::string& bad : {dir.Path("no/such/dir/x.txt"), dir.Dir()}) {
            ExpectSave(bad, scanned.c_str());
            dlg.SendCommand(ID_EXPORT_ALL);
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open file") << bad;
        }

        // A full disk: the stop box with the path, and the caption stays.
        ExpectSave("/dev/full", scanned.c_str());
        ModalSeam::ExpectMessageBox("Disk full while accessing /dev/full.", MB_OK | MB_ICONSTOP);
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Saving data to text file");
        EXPECT_EQ(List(dlg).GetItemCount(), 5);
    });
}

TEST_F(WindowResults, LongDefaultNamesAreOfferedWhole) {
    TempDir dir;
    std::string deep = dir.Deep(dir.Dir().size() + 6 * 61, 60);
    std::string scanned = deep + "/data.bin";
    WriteFileBytes(scanned, SampleFile());
    WithScanDlg([&](CScanDlg& dlg) {
        OpenAndScan(dlg, scanned);
        std::string expected = deep + "/data.txt";
        ASSERT_GT(expected.size(), 259u);
        ExpectSave(expected, expected.c_str());
        dlg.SendCommand(ID_EXPORT_ALL);
        EXPECT_EQ(ReadFileBytes(expected), AllRows());
    });
}

TEST_F(WindowResults, FindMarksMatchesIgnoringCaseAndOnlyAdds) {
    TempDir dir;
    std::string scanned = dir.Write("sample.bin", SampleFile());
    WithScanDlg([&](CScanDlg& dlg) {
        // No rows: nothing to find, but the text is remembered. (The prompt first offers
        // whatever an earlier search in this process left.)
        ModalSeam::ExpectDialog(IDD_PROMPT, [](CDialog& d) {
            d.SetDlgItemText(IDC_VALUE, "hello");
            return IDOK;
        });
        ModalSeam::ExpectMessageBox("Text Not Found", MB_OK);
        dlg.SendCommand(ID_EDIT_FIND);

        OpenAndScan(dlg, scanned);
        ExpectPrompt("Text to find?", "HELLO", "hElLo");
        dlg.SendCommand(ID_EDIT_FIND);
        EXPECT_EQ(Marked(dlg), std::vector<int>({0, 2}));

        // Marks accumulate; a search without a match says so and keeps them.
        ExpectPrompt("Text to find?", "HELLO", "Brown");
        dlg.SendCommand(ID_EDIT_FIND);
        EXPECT_EQ(Marked(dlg), std::vector<int>({0, 1, 2}));
        ExpectPrompt("Text to find?", "BROWN", "00003D");
        ModalSeam::ExpectMessageBox("Text Not Found", MB_OK);
        dlg.SendCommand(ID_EDIT_FIND);
        EXPECT_EQ(Marked(dlg), std::vector<int>({0, 1, 2}));
        // The offset column is never searched, but a text that reads like one is.
        ExpectPrompt("Text to find?", "00003D", "0000ff");
        dlg.SendCommand(ID_EDIT_FIND);
        EXPECT_EQ(Marked(dlg), std::vector<int>({0, 1, 2, 4}));

        // Cancel changes neither the marks nor the remembered text.
        ExpectPrompt("Text to find?", "0000FF", std::nullopt);
        dlg.SendCommand(ID_EDIT_FIND);
        ExpectPrompt("Text to find?", "0000FF", "");
        dlg.SendCommand(ID_EDIT_FIND);
        EXPECT_EQ(Marked(dlg), std::vector<int>({0, 1, 2, 3, 4}));
        // A text with bytes above 0x7E finds nothing.
        ExpectPrompt("Text to find?", "", "h\xc3\xa9llo");
        ModalSeam::ExpectMessageBox("Text Not Found", MB_OK);
        dlg.SendCommand(ID_EDIT_FIND);
        ExpectPrompt("Text to find?", "H\xc3\xa9LLO", std::nullopt);
        dlg.SendCommand(ID_EDIT_FIND);
        ASSERT_EQ(ModalSeam::MessageBoxes().size(), 3u);
        EXPECT_EQ(ModalSeam::MessageBoxes()[0].caption, "tarnwick");
        EXPECT_EQ(ModalSeam::MessageBoxes()[0].owner, &dlg);
    });
}

TEST_F(WindowResults, MinimumLengthIsReadAsADecimalNumber) {
    TempDir dir;
    std::string scanned = dir.Write("sample.bin", SampleFile());
    const char* prompt = "The minimum number of alpha chars to consider a word?";
    WithScanDlg([&](CScanDlg& dlg) {
        ExpectPrompt(prompt, "10", "25");
        dlg.SendCommand(ID_OPTIONS_MINLENGTH);
        EXPECT_EQ(MinLength(dlg), 25);
        EXPECT_EQ(List(dlg).GetItemCount(), 0);
        OpenAndScan(dlg, scanned);
        EXPECT_EQ(List(dlg).GetItemCount(), 1); // only the 4096-byte piece is that long
        // Zeros count as digits wherever they stand, the first one too.
        const std::pair<const char*, int> inputs[] = {{"abc", 0},
                                                      {" 7x", 7},
                                                      {"-3", -3},
                                                      {"10", 10},
                                                      {"100", 100},
                                                      {"0", 0},
                                                      {"007", 7},
                                                      {"-0", 0},
                                                      {"\t+12", 12},
                                                      {"99999999999", 2147483647},
                                                      {"-99999999999", -2147483647 - 1}};
        int current = 25;
        for (const auto& in : inputs) {
            ExpectPrompt(prompt, std::to_string(current).c_str(), in.first);
            dlg.SendCommand(ID_OPTIONS_MINLENGTH);
            EXPECT_EQ(MinLength(dlg), in.second) << in.first;
            current = in.second;
        }
        ExpectPrompt(prompt, std::to_string(current).c_str(), std::nullopt);
        dlg.SendCommand(ID_OPTIONS_MINLENGTH);
        EXPECT_EQ(MinLength(dlg), current);
    });
}

TEST_F(WindowResults, CopyPutsTheMarkedRowsOnTheClipboard) {
    TempDir dir;
    std::string scanned = dir.Write("sample.bin", SampleFile());
    WithScanDlg([&](CScanDlg& dlg) {
        EXPECT_EQ(MenuState(dlg, ID_EDIT_COPY), MF_GRAYED);
        OpenAndScan(dlg, scanned);
        EXPECT_EQ(MenuState(dlg, ID_EDIT_COPY), MF_ENABLED);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        // Ctrl+C in the list, with rows marked by the program and by a click.
        dlg.GetWidget()->show();
        QCoreApplication::processEvents();
        List(dlg).SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
        ClickRow(List(dlg), 1, Qt::ControlModifier);
        QTest::keyClick(List(dlg).GetWidget(), Qt::Key_C, Qt::ControlModifier);
        const std::string copied =
            "00000F\tthe quick brown fox\n00003D...\t" + std::string(4096, 'L') + "\n";
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), copied);
        // A paste gets Copy's own bytes, not a conversion made for it.
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->formats(), QStringList({QStringLiteral("text/plain")}));
        const QByteArray first = data->data(QStringLiteral("text/plain"));
        EXPECT_EQ(first.toStdString(), copied);
        EXPECT_EQ(data->data(QStringLiteral("text/plain")).constData(), first.constData());
        // Nothing marked: the clipboard keeps what it has.
        List(dlg).SetItemState(1, 0, LVIS_SELECTED);
        List(dlg).SetItemState(3, 0, LVIS_SELECTED);
        QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
        dlg.SendCommand(ID_EDIT_COPY);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
    });
}

// Marks every row of a listing of n rows of the same text.
void FillMarked(CScanDlg& dlg, int n, const std::string& text) {
    List(dlg).ChangeRows([&](Listing& rows) {
        rows.Clear();
        for (int i = 0; i < n; ++i)
            rows.Append("0000AA", 6, text.data(), text.size());
        rows.MarkRange(0, n - 1);
    });
}

// Copy of more than one step of marked rows, stopped by Escape and by the Stop button in its
// first pass (measuring) and in its second (copying), which starts after the first pass's
// looks at the window.
void ExpectStoppedCopiesLeaveTheClipboard(CScanDlg& dlg, const QString& before) {
    for (int pass = 0; pass < 4; ++pass) {
        int looks = 0;
        std::function<void()> stop = [&] {
            if (++looks < (pass < 2 ? 1 : 7)) {
                QTimer::singleShot(0, stop);
                return;
            }
            if (pass % 2)
                dlg.StopWork();
            else
                QTest::keyClick(dlg.GetWidget(), Qt::Key_Escape);
        };
        QTimer::singleShot(0, stop);
        dlg.SendCommand(ID_EDIT_COPY);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), before) << pass;
        EXPECT_FALSE(dlg.IsBusy());
    }
}

TEST_F(WindowResults, CopyLeavesRoomAndStopsWhenAsked) {
    WithScanDlg([&](CScanDlg& dlg) {
        const int n = 300000; // more than one step of Copy
        FillMarked(dlg, n, "copied text");
        const std::string copied = "0000AA\tcopied text\n";
        const uint64_t size = copied.size() * n;
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        // Too little memory: the stop box, and the clipboard, the rows and the marks as they
        // were.
        SetMemoryCap(size + kMemoryHeadroom - 1);
        ModalSeam::ExpectMessageBox("Out of memory.", MB_OK | MB_ICONSTOP);
        dlg.SendCommand(ID_EDIT_COPY);
        SetMemoryCap(kMemoryUnknown);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        EXPECT_EQ(List(dlg).Rows().MarkedCount(), n);
        EXPECT_EQ(List(dlg).GetItemCount(), n);

        // Stopped, by Escape or the Stop button, in either pass: the clipboard keeps its text.
        dlg.GetWidget()->show();
        ExpectStoppedCopiesLeaveTheClipboard(dlg, QStringLiteral("before"));
        // Unstopped, with room, it is all there; then a second Copy that fits only once the
        // first one's memory is let go.
        dlg.SendCommand(ID_EDIT_COPY);
        ASSERT_EQ(AfxClipboardBytesHeld(), size);
        // A paste into one of the program's own boxes converts no more than a box holds.
        const QString boxed = QGuiApplication::clipboard()->text();
        EXPECT_EQ(boxed.size(), 32767);
        EXPECT_TRUE(boxed.startsWith(QString::fromLatin1(copied.data())));
        // Once the first copy was let go for room, Stop cannot give it back: Copy finishes.
        FillMarked(dlg, n / 2, "copied text");
        SetMemoryCap(size / 2 + kMemoryHeadroom - 1);
        int looks = 0;
        std::function<void()> stop = [&] {
            if (++looks < 5) // into the second pass
                QTimer::singleShot(0, stop);
            else
                dlg.StopWork();
        };
        QTimer::singleShot(0, stop);
        dlg.SendCommand(ID_EDIT_COPY);
        SetMemoryCap(kMemoryUnknown);
        EXPECT_EQ(looks, 5);
        EXPECT_EQ(AfxClipboardBytesHeld(), size / 2);
        const QByteArray got =
            QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("text/plain"));
        ASSERT_EQ(static_cast<uint64_t>(got.size()), size / 2);
        EXPECT_EQ(got.left(static_cast<qsizetype>(copied.size())).toStdString(), copied);
        // Another program takes the clipboard: the bytes are let go.
        QGuiApplication::clipboard()->setText(QStringLiteral("theirs"));
        EXPECT_EQ(AfxClipboardBytesHeld(), 0u);
    });
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(WindowResults, APasteNeedsNoMemoryOfItsOwn) {
    // 64 MB on the clipboard, then an address-space limit that leaves half of that: every
    // request for the text is still answered, from the bytes Copy made.
    WithScanDlg([&](CScanDlg& dlg) {
        FillMarked(dlg, 1 << 20, std::string(56, 'x'));
        dlg.SendCommand(ID_EDIT_COPY);
        ASSERT_EQ(AfxClipboardBytesHeld(), size_t(64) << 20);
        const pid_t child = ::fork();
        if (child == 0) {
            long pages = 0;
            if (FILE* f = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(f, "%ld", &pages) != 1)
                    pages = 0;
                std::fclose(f);
            }
            const rlim_t mapped = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE);
            const rlimit as{mapped + (32 << 20), mapped + (32 << 20)};
            ::setrlimit(RLIMIT_AS, &as);
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            qsizetype total = 0;
            for (int i = 0; i < 3; ++i)
                total += data->data(QStringLiteral("text/plain")).size();
            ::_exit(total == 3 * (qsizetype(64) << 20) && data->hasText() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    });
}
#endif

TEST_F(WindowResults, EnterPressesTheFocusedButtonElseOK) {
    // Each case: where the focus is when Enter is pressed in the prompt, and the minimum
    // length that results from typing 25.
    struct Case {
        int focus;
        int expect;
    };
    WithScanDlg([&](CScanDlg& dlg) {
        for (const Case& c : {Case{IDCANCEL, 10}, Case{IDOK, 25}, Case{IDC_VALUE, 30}}) {
            ModalSeam::ExpectDialog(IDD_PROMPT, [&](CDialog& d) {
                d.GetWidget()->show();
                d.SetDlgItemText(IDC_VALUE, c.focus == IDC_VALUE ? "30" : "25");
                d.GetDlgItemWidget(c.focus)->setFocus();
                QTest::keyClick(d.GetWidget()->focusWidget(), Qt::Key_Return);
                EXPECT_TRUE(d.HasEnded());
                return 0u;
            });
            dlg.SendCommand(ID_OPTIONS_MINLENGTH);
            EXPECT_EQ(MinLength(dlg), c.expect) << c.focus;
            SetMinLength(dlg, 10);
        }
        // The About box's one button, with the focus or not.
        for (bool focused : {true, false}) {
            ModalSeam::ExpectDialog(IDD_ABOUTBOX, [&](CDialog& d) {
                d.GetWidget()->show();
                if (focused)
                    d.GetDlgItemWidget(IDOK)->setFocus();
                QTest::keyClick(d.GetWidget(), Qt::Key_Enter);
                EXPECT_TRUE(d.HasEnded());
                return 0u;
            });
            dlg.SendCommand(ID_HELP_ABOUT);
        }
    });
}

} // namespace
