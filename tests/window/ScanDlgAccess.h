// The window tests' way into the main window: its list, the scan a dropped or opened name
// starts, the name Export offers and the minimum length, without going through the dialogs.
#pragma once

#include <string>

#include "ScanDlg.h"

class ScanDlgAccess {
public:
    static CListCtrl& List(CScanDlg& dlg) { return dlg.m_list; }
    static const CListCtrl& List(const CScanDlg& dlg) { return dlg.m_list; }
    static void OpenAndScan(CScanDlg& dlg, const std::string& path) {
        dlg.OpenAndScan(path.c_str());
    }
    static const CString& ExportName(const CScanDlg& dlg) { return dlg.m_strExportName; }
    static int MinLength(const CScanDlg& dlg) { return dlg.m_nMinLength; }
    static void SetMinLength(CScanDlg& dlg, int n) { dlg.m_nMinLength = n; }
    static HICON Icon(const CScanDlg& dlg) { return dlg.m_hIcon; }
};

inline CListCtrl& List(CScanDlg& dlg) {
    return ScanDlgAccess::List(dlg);
}
inline const CListCtrl& List(const CScanDlg& dlg) {
    return ScanDlgAccess::List(dlg);
}
inline void OpenAndScan(CScanDlg& dlg, const std::string& path) {
    ScanDlgAccess::OpenAndScan(dlg, path);
}
inline const CString& ExportName(const CScanDlg& dlg) {
    return ScanDlgAccess::ExportName(dlg);
}
inline int MinLength(const CScanDlg& dlg) {
    return ScanDlgAccess::MinLength(dlg);
}
inline void SetMinLength(CScanDlg& dlg, int n) {
    ScanDlgAccess::SetMinLength(dlg, n);
}
