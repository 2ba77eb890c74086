#include "ScanDlg.h"

#include "Scan.h"

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
    SetStatus(status::kScanning);
    m_list.DeleteAllItems();
    m_list.ChangeRows([&](Listing& rows) { ScanFile(file, m_nMinLength, rows); });
    file.Close();
    SetStatus(status::kDone);
    UpdateMenuState();
}
