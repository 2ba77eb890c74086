#include "ScanApp.h"

#include "ScanDlg.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CScanApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CScanApp theApp;

CScanApp::CScanApp() {
    AfxSetResources(&ProgramResources());
}

BOOL CScanApp::InitInstance() {
    CScanDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: the application ends with the main window.
    return FALSE;
}
