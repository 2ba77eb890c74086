#include "PromptDlg.h"

#include "resource.h"

BEGIN_MESSAGE_MAP(CPromptDlg, CDialog)
END_MESSAGE_MAP()

CPromptDlg::CPromptDlg(CWnd* pParent) : CDialog(IDD_PROMPT, pParent) {}

void CPromptDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_VALUE, m_edit);
    DDX_Text(pDX, IDC_VALUE, m_strValue);
    DDX_Text(pDX, IDC_PROMPT, m_strPrompt);
}

BOOL CPromptDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The prompt shows in the title bar as well as above the edit box.
    SetWindowText(m_strPrompt);
    m_edit.SetFocus();
    m_edit.SetSel(0, -1);
    return FALSE;
}

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
