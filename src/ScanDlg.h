// The main window: the hit list, the scan that fills it, and the commands that use it.
#pragma once

#include "Dialog.h"
#include "File.h"
#include "ListCtrl.h"

// What the caption says after the title.
namespace status {
constexpr const char kOpening[] = " - Opening file";
constexpr const char kOpenFailed[] = " - Unable to open filel";
constexpr const char kScanning[] = " - Scanning";
constexpr const char kDone[] = " - Done";
constexpr const char kStopped[] = " - Stopped";
constexpr const char kSaving[] = " - Saving data to text file";
constexpr const char kSaveFailed[] = " - Unable to open file";
} // namespace status

class CScanDlg : public CDialog {
public:
    explicit CScanDlg(CWnd* pParent = nullptr);

private:
    // The window tests' way in: what a user types, sees and picks, without the dialogs.
    friend class ScanDlgAccess;

    CString m_strExportName;
    int m_nMinLength;
    // Whether scans list UTF-16LE text as well; off at start, for the life of the process.
    bool m_bUtf16 = false;
    // Whether Find's text is a regular expression; off at start.
    bool m_bRegex = false;
    // Find's text as last typed, offered again by the next Find (upper-cased unless it is a
    // regular expression then).
    CString m_strLastFind;
    BOOL m_bNotReady = TRUE;
    CString m_strTitle;
    CListCtrl m_list;
    HICON m_hIcon;
    HICON m_hSmallIcon;

    // Returns the first run of printable bytes in [start, end) that begins before end minus
    // the minimum length and is at least that long, or null; its length goes to pnLength.
    const BYTE* FindTextRun(const BYTE* window, const BYTE* start, const BYTE* end,
                            int* pnLength) const;
    void OpenAndScan(CString strPath);
    void SetStatus(const char* suffix);
    void UpdateMenuState();
    void ExportList(BOOL bAll);
    void OnExportAll();
    void OnExportMarked();
    void OnEditFind();
    void OnEditFindNext();
    void OnEditFindPrevious();
    // The next (or previous) marked row from the focus row on, wrapping round; -1 for none
    // or when stopped.
    int NextMarkedRow(bool forward);
    void OnOptionsMarkedOnly();
    void OnOptionsRegex();
    void OnEditCopy();
    void OnOptionsMinLength();
    void OnOptionsUtf16();
    void OnFileOpen();
    void OnHelpAbout();
    // Kept for About in the system menu, where a window system gives one; the close box
    // arrives here too.
    void OnSysCommand(UINT nID, LPARAM lParam);
    // Kept for the icon in a minimised window's client area, where a window system paints it.
    void OnPaint();
    // Kept for a window system that drags a minimised window by its icon; none here asks.
    HICON OnQueryDragIcon();
    void OnSize(UINT nType, int cx, int cy);
    void OnDropFiles(HDROP hDropInfo);

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // The work reads the marks (an export of the marked rows): they stay as they are.
    void OnBeginWork() override;
    void OnEndWork() override;

    FileIdentity m_scannedFile; // the file the rows came from
    std::string m_scannedPath;  // where it was: its folder and name when scanned

    DECLARE_MESSAGE_MAP()
};
