// The one-line prompt and the About box.
#pragma once

#include "Dialog.h"

class CPromptDlg : public CDialog {
public:
    explicit CPromptDlg(CWnd* pParent = nullptr);

    CEdit m_edit;
    CString m_strValue;
    CString m_strPrompt;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
