#include "ScanDlg.h"

#include "FileDialog.h"
#include "PromptDlg.h"
#include "Scan.h"
#include "WinApp.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CScanDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_SIZE()
ON_COMMAND(ID_OPTIONS_MINLENGTH, OnOptionsMinLength)
ON_COMMAND(ID_OPTIONS_UTF16, OnOptionsUtf16)
ON_COMMAND(ID_FILE_EXIT, OnOK)
ON_COMMAND(ID_FILE_OPEN, OnFileOpen)
ON_COMMAND(ID_EXPORT_ALL, OnExportAll)
ON_COMMAND(ID_EXPORT_MARKED, OnExportMarked)
ON_WM_DROPFILES()
ON_COMMAND(ID_HELP_ABOUT, OnHelpAbout)
ON_COMMAND(ID_EDIT_FIND, OnEditFind)
ON_COMMAND(ID_EDIT_FIND_NEXT, OnEditFindNext)
ON_COMMAND(ID_EDIT_FIND_PREVIOUS, OnEditFindPrevious)
ON_COMMAND(ID_OPTIONS_MARKED_ONLY, OnOptionsMarkedOnly)
ON_COMMAND(ID_OPTIONS_REGEX, OnOptionsRegex)
ON_COMMAND(ID_EDIT_COPY, OnEditCopy)
END_MESSAGE_MAP()

CScanDlg::CScanDlg(CWnd* pParent)
    : CDialog(IDD_SCAN_DIALOG, pParent), m_nMinLength(kDefaultMinLength) {
    m_hIcon = AfxFindIcon(IDR_MAINFRAME);
    m_hSmallIcon = AfxFindIcon(IDI_SMALL);
}

void CScanDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST, m_list);
}

BOOL CScanDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // "About" in the system menu, where the window system lets the program have one.
    const char* about = AfxLoadString(IDS_ABOUTBOX);
    if (HasSystemMenu() && *about) {
        AppendSystemMenuItem(MF_SEPARATOR, 0, "");
        AppendSystemMenuItem(MF_STRING, IDM_ABOUTBOX, about);
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hSmallIcon, FALSE);

    m_nMinLength = kDefaultMinLength;
    m_bNotReady = FALSE;

    m_list.InsertColumn(0, "Offset", LVCFMT_LEFT, 75);
    m_list.InsertColumn(1, "Text", LVCFMT_LEFT, 170);

    EnableMenuItem(ID_EXPORT_ALL, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EXPORT_MARKED, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EDIT_FIND, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EDIT_COPY, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EDIT_FIND_NEXT, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(ID_EDIT_FIND_PREVIOUS, MF_BYCOMMAND | MF_GRAYED);
    CheckMenuItem(ID_OPTIONS_UTF16, m_bUtf16 ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(ID_OPTIONS_MARKED_ONLY, MF_UNCHECKED);
    CheckMenuItem(ID_OPTIONS_REGEX, m_bRegex ? MF_CHECKED : MF_UNCHECKED);

    m_strExportName = "";
    m_strTitle = GetWindowText();

    // A path on the command line is scanned once the window shows, so that it fills while
    // the scan runs.
    const CString path = GetCommandLineArguments();
    if (!path.IsEmpty())
        PostHandler([this, path] { OpenAndScan(path); });
    return TRUE;
}

void CScanDlg::SetStatus(const char* suffix) {
    SetWindowText(m_strTitle + suffix);
}

void CScanDlg::OnBeginWork() {
    m_list.SetMarksLocked(true);
}

void CScanDlg::OnEndWork() {
    m_list.SetMarksLocked(false);
}

void CScanDlg::UpdateMenuState() {
    // Every row of the listing counts, shown or not.
    UINT state = MF_BYCOMMAND | (m_list.Rows().Count() > 0 ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(ID_EXPORT_ALL, state);
    EnableMenuItem(ID_EXPORT_MARKED, state);
    EnableMenuItem(ID_EDIT_FIND, state);
    EnableMenuItem(ID_EDIT_FIND_NEXT, state);
    EnableMenuItem(ID_EDIT_FIND_PREVIOUS, state);
    EnableMenuItem(ID_EDIT_COPY, state);
}

void CScanDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX)
        OnHelpAbout();
    else
        CDialog::OnSysCommand(nID, lParam);
}

void CScanDlg::OnPaint() {
    if (IsIconic())
        DrawIconCentered(m_hIcon);
    else
        CDialog::OnPaint();
}

HICON CScanDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CScanDlg::OnSize(UINT nType, int cx, int cy) {
    CDialog::OnSize(nType, cx, cy);
    if (m_bNotReady)
        return;
    m_list.MoveWindow(0, 0, cx, cy);
    // Narrower than the offset column, the text column just shows nothing until the
    // window grows again.
    m_list.SetColumnWidth(1, cx - 105);
}

void CScanDlg::OnFileOpen() {
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY,
                    "Program Files|*.exe;*.com;*.dll|All Files|*.*||", this);
    // Programs and libraries here have no .exe or .dll: the dialog opens on All Files.
    dlg.SetFilterIndex(2);
    if (dlg.DoModal() == IDOK)
        OpenAndScan(dlg.GetPathName());
}

void CScanDlg::OnDropFiles(HDROP hDropInfo) {
    // The first file dropped, its name taken whole however long it is.
    CString name = DragQueryFileName(hDropInfo, 0);
    DragFinish(hDropInfo);
    OpenAndScan(name);
}

void CScanDlg::OnHelpAbout() {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
}
