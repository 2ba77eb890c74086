// The scan compared with the listing rule, its edge cases, and its failures as a user sees them.
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "ListingRule.h"
#include "MemorySource.h"
#include "ScanDlg.h"
#include "TestSupport.h"
#include "TextRunFinder.h"
#include "resource.h"

namespace {

using Row = ListingRow;

std::vector<Row> Model(const std::string& data, int minLen) {
    return ListingOf(data, minLen);
}

std::vector<Row> Listing(const CScanDlg& dlg) {
    std::vector<Row> rows;
    for (int i = 0; i < dlg.m_list.GetItemCount(); ++i)
        rows.emplace_back(dlg.m_list.GetItemText(i, 0).Str(), dlg.m_list.GetItemText(i, 1).Str());
    return rows;
}

std::vector<Row> Scan(const std::string& path, int minLen) {
    CScanDlg dlg;
    dlg.m_nMinLength = minLen;
    dlg.OpenAndScan(path.c_str());
    EXPECT_EQ(dlg.GetWindowText(), " - Done");
    return Listing(dlg);
}

// Random bytes with printable stretches of random lengths; density sets how much is text.
std::string RandomFile(std::mt19937& rng, size_t size, int density) {
    std::string s(size, '\0');
    std::uniform_int_distribution<int> byte(0, 255), pct(0, 99), printable(0x20, 0x7E);
    std::geometric_distribution<int> runLen(0.02);
    size_t i = 0;
    while (i < size) {
        if (pct(rng) < density) {
            size_t n = std::min(size - i, static_cast<size_t>(runLen(rng) + 1));
            if (pct(rng) < 10)
                n = std::min(size - i, static_cast<size_t>(4000 + pct(rng) * 100));
            for (size_t k = 0; k < n; ++k)
                s[i++] = static_cast<char>(printable(rng));
        } else {
            s[i++] = static_cast<char>(byte(rng));
        }
    }
    return s;
}

TEST(Scan, MatchesTheListingRuleOnRandomFiles) {
    TempDir dir;
    std::mt19937 rng(20261207);
    const size_t sizes[] = {0, 1, 10, 11, 4095, 4096, 4097, 8191, 8192, 8193, 12290, 40000};
    const int mins[] = {-5, 0, 1, 10, 4095, 4096, INT_MAX, INT_MIN};
    int file = 0;
    for (size_t size : sizes) {
        for (int density : {3, 40, 97}) {
            std::string data = RandomFile(rng, size, density);
            std::string path = dir.Write("f" + std::to_string(file++), data);
            for (int m : mins)
                ASSERT_EQ(Scan(path, m), Model(data, m))
                    << "size " << size << ", density " << density << ", minimum " << m;
        }
    }
}

TEST(Scan, MatchesTheListingRuleOnARealBinary) {
    std::string data = ReadFileBytes("/proc/self/exe");
    ASSERT_GT(data.size(), 100000u);
    for (int m : {10, 4, 1})
        EXPECT_EQ(Scan("/proc/self/exe", m), Model(data, m)) << "minimum " << m;
}

std::vector<Row> ScanMemory(const std::string& data, int minLen) {
    CScanDlg dlg;
    dlg.m_nMinLength = minLen;
    CFile file;
    file.OpenSource(std::make_unique<MemorySource>(data));
    dlg.ScanOpenFile(file);
    return Listing(dlg);
}

// The scan reads the file in blocks of many windows; a run near a block's end, or across
// it, is listed as the windows list it.
TEST(Scan, MatchesTheListingRuleAcrossBlocks) {
    const size_t block = CFile::kMaxView;
    for (size_t back : {1, 5, 9, 10, 11, 64, 65, 100, 4095, 4096, 4097, 5000}) {
        for (size_t len : {back - 1, back, back + 1, size_t(4096), size_t(4097), size_t(9000)}) {
            if (len == 0)
                continue;
            std::string data(block + 20000, '\x01');
            for (size_t i = 0; i < len; ++i)
                data[block - back + i] = static_cast<char>('A' + i % 26);
            for (int m : {1, 10, 64, 65, 4095})
                ASSERT_EQ(ScanMemory(data, m), Model(data, m))
                    << "run at block end - " << back << ", length " << len << ", minimum " << m;
        }
    }
    // Files of several blocks, some all text, one ending in the middle of a long run.
    std::mt19937 rng(7);
    for (int density : {40, 97, 100}) {
        std::string data = RandomFile(rng, 3 * block + 777, density);
        if (density == 100)
            data = std::string(3 * block + 5, 'z');
        for (int m : {0, 3, 10, 100, 4095})
            ASSERT_EQ(ScanMemory(data, m), Model(data, m))
                << "density " << density << ", minimum " << m;
    }
}

TEST(Scan, EdgeCasesOfWindowsAndRuns) {
    TempDir dir;
    // A run longer than two windows loses no byte between its pieces.
    std::string text(10000, 'x');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    auto rows = Scan(dir.Write("long", text), 10);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], Row("000000...", text.substr(0, 4096)));
    EXPECT_EQ(rows[1], Row("001000...", text.substr(4096, 4096)));
    EXPECT_EQ(rows[2], Row("002000", text.substr(8192)));

    // A run that begins in the last bytes of a window keeps its head.
    std::string tail(4090, '\0');
    tail += "ABCDEFGHIJKLMNOPQRST";
    tail += '\0';
    EXPECT_EQ(Scan(dir.Write("tail", tail), 10),
              std::vector<Row>({Row("000FFA", "ABCDEFGHIJKLMNOPQRST")}));

    // The start limit is strict: exactly the minimum at the end of the file is not listed.
    EXPECT_TRUE(Scan(dir.Write("ten", "0123456789"), 10).empty());
    EXPECT_EQ(Scan(dir.Write("eleven", "0123456789A"), 10),
              std::vector<Row>({Row("000000", "0123456789A")}));

    // Offsets have at least six upper-case digits; one byte between runs separates rows.
    std::string two = std::string(42, '\x01') + "Hello World" + '\t' + "second run here";
    EXPECT_EQ(Scan(dir.Write("two", two), 10),
              std::vector<Row>({Row("00002A", "Hello World"), Row("000036", "second run here")}));

    // An empty file lists nothing.
    EXPECT_TRUE(Scan(dir.Write("empty", ""), 0).empty());
}

TEST(Scan, FinderFollowsItsBounds) {
    CScanDlg dlg;
    dlg.m_nMinLength = 10;
    int len = -1;
    const BYTE w1[] = "abc\0"
                      "0123456789\0";
    const BYTE* r = dlg.FindTextRun(w1, w1, w1 + 15, &len);
    EXPECT_EQ(r, w1 + 4);
    EXPECT_EQ(len, 10);
    const BYTE digits[] = "0123456789A";
    EXPECT_EQ(dlg.FindTextRun(digits, digits, digits + 10, &len), nullptr);
    EXPECT_EQ(dlg.FindTextRun(digits, digits, digits + 11, &len), digits);
    EXPECT_EQ(len, 11);
    const BYTE nulDigits[] = "\0"
                             "0123456789";
    EXPECT_EQ(dlg.FindTextRun(nulDigits, nulDigits, nulDigits + 11, &len), nullptr);

    // Space and tilde are printable; TAB, DEL and bytes above 0x7F are not.
    dlg.m_nMinLength = 1;
    const BYTE edges[] = {0x09, 0x7F, 0x80, 0xFF, 0x20, 0x7E, 0x00};
    EXPECT_EQ(dlg.FindTextRun(edges, edges, edges + 7, &len), edges + 4);
    EXPECT_EQ(len, 2);

    // Below zero searches like zero, up to the last byte and never beyond the end.
    const BYTE last[] = {0, 0, 'x', 'y'};
    for (int m : {0, -1, INT_MIN}) {
        dlg.m_nMinLength = m;
        EXPECT_EQ(dlg.FindTextRun(last, last + 3, last + 4, &len), last + 3) << m;
        EXPECT_EQ(len, 1);
        EXPECT_EQ(dlg.FindTextRun(last, last, last, &len), nullptr) << m;
    }
    // A huge minimum leaves no place to begin and does not wrap the limit around.
    std::vector<BYTE> full(4096, 'a');
    dlg.m_nMinLength = 4095;
    EXPECT_EQ(dlg.FindTextRun(full.data(), full.data(), full.data() + 4096, &len), full.data());
    EXPECT_EQ(len, 4096);
    for (int m : {4096, INT_MAX}) {
        dlg.m_nMinLength = m;
        EXPECT_EQ(dlg.FindTextRun(full.data(), full.data(), full.data() + 4096, &len), nullptr);
    }
}

TEST(Scan, DefaultExportNameLooksAtTheFileNameOnly) {
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
        dlg.OpenAndScan(c.first);
        EXPECT_EQ(dlg.m_strExportName, c.second) << c.first;
    }
}

class ScanWindow : public SeamTest {};

TEST_F(ScanWindow, FailedOpensKeepTheRowsAndSayWhy) {
    TempDir dir;
    std::string good = dir.Write("good.bin", std::string("\0first text run\0second text run", 32));
    std::string fifo = dir.Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WithScanDlg([&](CScanDlg& dlg) {
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick");
        EXPECT_EQ(dlg.GetMenuState(ID_EXPORT_ALL), MF_GRAYED);
        dlg.OpenAndScan(good.c_str());
        ASSERT_EQ(dlg.m_list.GetItemCount(), 2);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(dlg.GetMenuState(ID_EXPORT_ALL), MF_ENABLED);
        EXPECT_EQ(dlg.GetMenuState(ID_EXPORT_MARKED), MF_ENABLED);
        EXPECT_EQ(dlg.GetMenuState(ID_EDIT_FIND), MF_ENABLED);
        for (const std::string& bad :
             {dir.Path("missing.exe"), dir.Dir(), fifo, std::string(), std::string("/dev/zero")}) {
            dlg.OpenAndScan(bad.c_str());
            EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Unable to open filel") << bad;
            EXPECT_EQ(dlg.m_list.GetItemCount(), 2) << bad;
            EXPECT_EQ(dlg.GetMenuState(ID_EDIT_FIND), MF_ENABLED) << bad;
        }
        EXPECT_EQ(dlg.m_strExportName, "/dev/zero.txt");
        // A scan that finds nothing empties the list and grays the commands.
        dlg.OpenAndScan(dir.Write("none", std::string(100, '\0')).c_str());
        EXPECT_EQ(dlg.m_list.GetItemCount(), 0);
        EXPECT_EQ(dlg.GetWindowText(), "Tarnwick - Done");
        EXPECT_EQ(dlg.GetMenuState(ID_EXPORT_ALL), MF_GRAYED);
        EXPECT_EQ(dlg.GetMenuState(ID_EXPORT_MARKED), MF_GRAYED);
        EXPECT_EQ(dlg.GetMenuState(ID_EDIT_FIND), MF_GRAYED);
    });
}

// A main window with one more command that scans a given path, as the menu commands do.
class ProbeDlg : public CScanDlg {
public:
    static constexpr UINT ID_PROBE = 40000;
    CString m_strProbePath;
    void OnProbe() { OpenAndScan(m_strProbePath); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDlg, CScanDlg)
ON_COMMAND(ID_PROBE, OnProbe)
END_MESSAGE_MAP()

TEST_F(ScanWindow, ReadErrorShowsTheStopBoxAndKeepsTheState) {
    TempDir dir;
    std::string good = dir.Write("good.bin", "some readable text here");
    ProbeDlg probe;
    ModalSeam::ExpectDialog(IDD_SCAN_DIALOG, [&](CDialog&) {
        probe.m_strProbePath = good.c_str();
        probe.SendCommand(ProbeDlg::ID_PROBE);
        EXPECT_EQ(probe.m_list.GetItemCount(), 1);
        // Reading the first page of this process's memory fails with EIO after the open.
        ModalSeam::ExpectMessageBox(
            "A hardware I/O error was reported while accessing an unnamed file.",
            MB_OK | MB_ICONSTOP);
        probe.m_strProbePath = "/proc/self/mem";
        probe.SendCommand(ProbeDlg::ID_PROBE);
        EXPECT_EQ(probe.GetWindowText(), "Tarnwick - Scanning");
        EXPECT_EQ(probe.m_list.GetItemCount(), 0);
        EXPECT_EQ(probe.GetMenuState(ID_EDIT_FIND), MF_ENABLED);
        EXPECT_EQ(probe.m_strExportName, "/proc/self/mem.txt");
        return IDCANCEL;
    });
    probe.DoModal();
    ASSERT_EQ(ModalSeam::MessageBoxes().size(), 1u);
    EXPECT_EQ(ModalSeam::MessageBoxes()[0].caption, "tarnwick");
    EXPECT_EQ(ModalSeam::MessageBoxes()[0].owner, &probe);
}

TEST(HitList, KeepsLongTextsWholeAndMarksPerRow) {
    CScanDlg dlg;
    std::string big(4096, 'Q');
    EXPECT_EQ(dlg.m_list.InsertItem(0, "000000..."), 0);
    EXPECT_TRUE(dlg.m_list.SetItemText(0, 1, big.c_str()));
    EXPECT_EQ(dlg.m_list.InsertItem(1, "001001"), 1);
    dlg.m_list.SetItemText(1, 1, "short");
    EXPECT_EQ(dlg.m_list.InsertItem(5, "bad"), -1);
    EXPECT_EQ(dlg.m_list.GetItemText(0, 1), big.c_str());
    EXPECT_EQ(dlg.m_list.GetItemText(0, 0), "000000...");
    EXPECT_EQ(dlg.m_list.GetItemText(1, 1), "short");
    dlg.m_list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(dlg.m_list.GetItemState(0, LVIS_SELECTED), 0u);
    EXPECT_EQ(dlg.m_list.GetItemState(1, LVIS_SELECTED), LVIS_SELECTED);
    dlg.m_list.SetItemState(1, 0, LVIS_SELECTED);
    EXPECT_EQ(dlg.m_list.GetItemState(1, LVIS_SELECTED), 0u);
    EXPECT_EQ(ListRows::RowBytes(), 16u);
}

} // namespace

namespace {

TEST(Finder, WideAndPortablePathsAgreeWithTheRule) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> size(0, 4096), density(0, 100), pick(0, 99);
    std::vector<int> mins = {INT_MIN, -1, 0,  1,   2,   3,   7,   10,  31,   32,   33,
                             63,      64, 65, 100, 127, 128, 129, 500, 4095, 4096, INT_MAX};
    for (int round = 0; round < 3000; ++round) {
        const int d = density(rng);
        std::string w = RandomFile(rng, static_cast<size_t>(size(rng)), d);
        if (pick(rng) < 20) // long stretches of text with rare breaks
            for (char& c : w)
                c = pick(rng) < 2 ? '\n' : 'a';
        const BYTE* b = reinterpret_cast<const BYTE*>(w.data());
        const BYTE* e = b + w.size();
        const int first = static_cast<int>(pick(rng) % 70);
        const BYTE* s = std::min(b + first, e);
        textrun::BlockMasks wideMasks(w.size()), portableMasks(w.size());
        wideMasks.Classify<true>(b, w.size());
        portableMasks.Classify<false>(b, w.size());
        for (int m : mins) {
            int lr = -1, lw = -1, lp = -1;
            const BYTE* r = FindRunByRule(s, e, m, &lr);
            // The block finder, on masks from either path, from the same place.
            const size_t from = static_cast<size_t>(s - b);
            const size_t expected = r ? static_cast<size_t>(r - b) : w.size();
            int lbw = -1, lbp = -1;
            ASSERT_EQ(wideMasks.FindRun(from, m, &lbw), expected)
                << "min " << m << " round " << round;
            ASSERT_EQ(portableMasks.FindRun(from, m, &lbp), expected) << "min " << m;
            if (r) {
                ASSERT_EQ(lbw, lr);
                ASSERT_EQ(lbp, lr);
            }
            const BYTE* rw = textrun::FindRun<true>(s, e, m, &lw);
            const BYTE* rp = textrun::FindRun<false>(s, e, m, &lp);
            ASSERT_EQ(rw, r) << "size " << w.size() << " min " << m << " round " << round;
            ASSERT_EQ(rp, r) << "size " << w.size() << " min " << m << " round " << round;
            if (r) {
                ASSERT_EQ(lw, lr);
                ASSERT_EQ(lp, lr);
            }
        }
    }
}

} // namespace
