#include "ScanDlg.h"

#include <chrono>
#include <new>

#include "Scan.h"
#include "resource.h"

namespace {
// Bytes scanned between two looks at the window: a few milliseconds of work.
constexpr ULONGLONG kScanStep = ULONGLONG(8) << 20;
// How often a long scan shows the rows found so far.
constexpr std::chrono::milliseconds kShowRowsEvery(250);
} // namespace

const BYTE* CScanDlg::FindTextRun(const BYTE*, const BYTE* start, const BYTE* end,
                                  int* pnLength) const {
    return ::FindTextRun(start, end, m_nMinLength, pnLength);
}

void CScanDlg::OpenAndScan(CString strPath) {
    // The default export name follows the scanned path even when the open fails. The "."
    // that starts an extension is looked for in the file's own name only, and a leading one
    // (".profile") starts none.
    int slash = strPath.ReverseFind('/');
    int dot = strPath.ReverseFind('.');
    if (dot > slash + 1)
        m_strExportName = strPath.Left(dot + 1) + "txt";
    else
        m_strExportName = strPath + ".txt";

    SetStatus(status::kOpening);
    CFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
        SetStatus(status::kOpenFailed);
        return;
    }
    m_scannedFile = file.GetIdentity();
    m_scannedPath = CFile::PlaceOf(strPath);
    SetStatus(status::kScanning);
    // The new rows are all shown.
    m_list.DeleteAllItems();
    CheckMenuItem(ID_OPTIONS_MARKED_ONLY, MF_UNCHECKED);
    // However the scan ends, a read error too, the commands that need rows follow the list
    // once the work has given the menu back (this goes after the work scope below).
    struct MenuFollowsRows {
        CScanDlg* dlg;
        ~MenuFollowsRows() { dlg->UpdateMenuState(); }
    } menuFollowsRows{this};
    // The scan goes in steps: between them the window answers and Stop is heard, and now and
    // then the list shows the rows so far.
    WorkScope work(*this, file.GetLength());
    bool stopped = false;
    bool outOfMemory = false;
    m_list.ChangeRows([&](Listing& rows) {
        try {
            ScanSettings settings;
            settings.minLength = m_nMinLength;
            settings.utf16 = m_bUtf16 != FALSE;
            FileScan scan(file, settings, rows);
            auto shown = std::chrono::steady_clock::now();
            while (scan.Step(kScanStep)) {
                if (std::chrono::steady_clock::now() - shown > kShowRowsEvery) {
                    m_list.ChangeRows([](Listing&) {});
                    shown = std::chrono::steady_clock::now();
                }
                if (WorkProgress(scan.Position())) {
                    stopped = true;
                    break;
                }
            }
        } catch (const std::bad_alloc&) {
            // The listing cannot grow: the rows so far stay, whole, as after Stop.
            outOfMemory = true;
        }
    });
    work.End();
    file.Close();
    SetStatus(stopped || outOfMemory ? status::kStopped : status::kDone);
    UpdateMenuState();
    if (outOfMemory)
        AfxMessageBox(this, kOutOfMemory, MB_OK | MB_ICONSTOP);
}
