// Dialogs built from templates, run modally, with data exchange between members and
// controls.
#pragma once

#include <memory>
#include <vector>

#include "Wnd.h"

class CDialog;

class CDataExchange {
public:
    CDataExchange(CDialog* pDlg, BOOL bSaveAndValidate)
        : m_pDlgWnd(pDlg), m_bSaveAndValidate(bSaveAndValidate) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

struct DialogImpl;

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParent = nullptr);
    ~CDialog() override;

    virtual int DoModal();
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    UINT GetTemplateId() const { return m_nIDTemplate; }
    QWidget* GetDlgItemWidget(int nID) const;
    void SetDlgItemText(int nID, const char* text);
    CString GetDlgItemText(int nID) const;
    bool IsRunning() const { return m_impl != nullptr; }
    bool HasEnded() const { return m_bEnded; }
    // Runs the window's own event loop until the dialog ends.
    void ExecWindow();
    // Converts dialog units of this dialog's font to pixels.
    int DluToPixelsX(int x) const;
    int DluToPixelsY(int y) const;
    void CenterWindow();
    // Paints an icon centred in the client area; only while a WM_PAINT is handled.
    void DrawIconCentered(HICON hIcon);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    void DefWindowProc(AfxMsg& msg) override;
    // The default handling the program's handlers call first or fall back to.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnSize(UINT nType, int cx, int cy);
    void OnPaint() {}

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    void CreateWindowFromTemplate();
    void DestroyWindow();
    int RunInit(); // OnInitDialog under the dispatcher; false when it ended with a file error
    void BindControl(CWnd* control);
    friend void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

    std::unique_ptr<DialogImpl> m_impl;
    int m_nResult = -1;
    bool m_bEnded = false;
    friend struct DialogImpl;
};

// The modal dialogs running now, innermost last.
const std::vector<CDialog*>& AfxModalDialogs();
