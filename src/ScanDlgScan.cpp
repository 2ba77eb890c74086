#include "ScanDlg.h"

#include <cstring>

#include "TextRunFinder.h"

namespace {

constexpr UINT kWindow = 4096;

// "%06X" of a 64-bit offset, written without the cost of a format call.
int FormatOffset(char* out, ULONGLONG pos) {
    static const char digits[] = "0123456789ABCDEF";
    char tmp[16];
    int n = 0;
    do {
        tmp[n++] = digits[pos & 15];
        pos >>= 4;
    } while (pos);
    while (n < 6)
        tmp[n++] = '0';
    for (int i = 0; i < n; ++i)
        out[i] = tmp[n - 1 - i];
    return n;
}

} // namespace

const BYTE* CScanDlg::FindTextRun(const BYTE*, const BYTE* start, const BYTE* end,
                                  int* pnLength) const {
    return textrun::FindRun<TARNWICK_HAVE_SSE2 != 0>(start, end, m_nMinLength, pnLength);
}

void CScanDlg::OpenAndScan(CString strPath) {
    // The default export name follows the scanned path even when the open fails. The "."
    // that starts an extension is looked for in the file's own name only.
    int slash = strPath.ReverseFind('/');
    int dot = strPath.ReverseFind('.');
    if (dot > slash)
        m_strExportName = strPath.Left(dot + 1) + "txt";
    else
        m_strExportName = strPath + ".txt";

    SetStatus(" - Opening file");
    CFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
        SetStatus(" - Unable to open filel");
        return;
    }
    m_scannedFile = file.GetIdentity();
    ScanOpenFile(file);
}

void CScanDlg::ScanOpenFile(CFile& file) {
    SetStatus(" - Scanning");
    m_list.DeleteAllItems();

    char offset[24];
    UINT n;
    do {
        const ULONGLONG pos = file.GetPosition();
        const BYTE* window;
        n = file.ReadView(&window, kWindow);
        int length = 0;
        const BYTE* run = FindTextRun(window, window, window + n, &length);
        if (!run) {
            // A run that begins in the last bytes of a full window is examined whole by
            // letting the next window start where such a run could begin: at or after the
            // window's start limit, but not inside a run that began before it (too short,
            // or it would have been found), so that a large minimum still moves on briskly.
            if (n == kWindow && m_nMinLength > 0 && m_nMinLength < static_cast<int>(n)) {
                const size_t from = n - static_cast<UINT>(m_nMinLength);
                const size_t next = textrun::NextRunStart<TARNWICK_HAVE_SSE2 != 0>(window, from, n);
                file.Seek(static_cast<LONGLONG>(pos + next));
            }
        } else if (run != window) {
            file.Seek(static_cast<LONGLONG>(pos + static_cast<ULONGLONG>(run - window)));
        } else {
            // The run's bytes go straight from the window into the list.
            int len = FormatOffset(offset, pos);
            if (length >= static_cast<int>(kWindow)) {
                std::memcpy(offset + len, "...", 3);
                len += 3;
            }
            int item = m_list.GetItemCount();
            m_list.InsertItem(item, offset, len);
            m_list.SetItemText(item, 1, reinterpret_cast<const char*>(run), length);
            // The byte that ended the run is skipped; a run cut by the window's end goes on
            // in the next window.
            ULONGLONG next = pos + static_cast<ULONGLONG>(length);
            if (static_cast<UINT>(length) < n)
                ++next;
            file.Seek(static_cast<LONGLONG>(next));
        }
    } while (n != 0);

    file.Close();
    SetStatus(" - Done");
    UpdateMenuState();
}
