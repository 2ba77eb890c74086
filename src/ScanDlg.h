// The main window: the hit list, the scan that fills it, and the commands that use it.
#pragma once

#include "File.h"
#include "ListCtrl.h"
#include "Wnd.h"

class CScanDlg : public CDialog {
public:
    explicit CScanDlg(CWnd* pParent = nullptr);

    CString m_strExportName;
    int m_nMinLength = 0;
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
    // The scan of a file already open for reading: fills the list with the rows its windows
    // give, reading the file in blocks of many windows.
    void ScanOpenFile(CFile& file);
    void SetStatus(const char* suffix);
    void UpdateMenuState();
    static int ReadDecimal(const char* text);

    void ExportList(BOOL bAll);
    // Writes the rows (all, or only the marked ones) as offset, TAB, text, CR LF.
    void WriteRows(CFile& file, BOOL bAll);
    // Marks every row whose text contains strUpper (upper case), ignoring case; true when
    // any row matched.
    bool MarkRowsContaining(const CString& strUpper);
    void OnExportAll();
    void OnExportMarked();
    void OnEditFind();
    void OnOptionsMinLength();
    void OnFileOpen();
    void OnHelpAbout();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HICON OnQueryDragIcon();
    void OnSize(UINT nType, int cx, int cy);
    void OnDropFiles(HDROP hDropInfo);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

private:
    FileIdentity m_scannedFile; // the file the rows came from

    DECLARE_MESSAGE_MAP()
};
