#include "ScanDlg.h"

#include "WinApp.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CScanDlg, CDialog)
END_MESSAGE_MAP()

CScanDlg::CScanDlg(CWnd* pParent) : CDialog(IDD_SCAN_DIALOG, pParent) {
    m_hIcon = AfxFindIcon(IDR_MAINFRAME);
    m_hSmallIcon = AfxFindIcon(IDI_SMALL);
}

void CScanDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST, m_list);
}

BOOL CScanDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hSmallIcon, FALSE);

    m_nMinLength = 10;
    m_bNotReady = FALSE;

    m_list.InsertColumn(0, "Offset", LVCFMT_LEFT, 75);
    m_list.InsertColumn(1, "Text", LVCFMT_LEFT, 170);

    EnableMenuItem(ID_EXPORT_ALL, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EXPORT_MARKED, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EDIT_FIND, MF_BYCOMMAND | MF_GRAYED);

    m_strExportName = "";
    m_strTitle = GetWindowText();

    // A path on the command line is scanned before the window first shows.
    const char* path = SkipProgramName(GetCommandLine());
    if (path && *path)
        OpenAndScan(path);
    return TRUE;
}

const char* CScanDlg::SkipProgramName(const char* commandLine) {
    if (!commandLine)
        return nullptr;
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
    } else {
        if (!*p)
            return nullptr;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    if (*p)
        ++p;
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

void CScanDlg::SetStatus(const char* suffix) {
    SetWindowText(m_strTitle + suffix);
}

void CScanDlg::UpdateMenuState() {
    UINT state = MF_BYCOMMAND | (m_list.GetItemCount() > 0 ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(ID_EXPORT_ALL, state);
    EnableMenuItem(ID_EXPORT_MARKED, state);
    EnableMenuItem(ID_EDIT_FIND, state);
}
