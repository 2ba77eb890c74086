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
class LongWork;

// Long work of a dialog from its start to its end, however the handler leaves.
class WorkScope {
public:
    WorkScope(CDialog& dlg, ULONGLONG total);
    ~WorkScope();
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;
    void End();

private:
    CDialog* m_dlg;
};

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

    // Long work inside a handler (a scan, an export): between its steps the window paints and
    // answers. After a moment a progress bar and a Stop button show below the client area.
    // Until EndWork no other command starts: the menu is grayed, drops and Enter are
    // ignored, and Escape, Stop or the close box ask the work to stop (the close box also
    // ends the dialog once the work has ended).
    void BeginWork(ULONGLONG total);
    // Shows how far the work has come and lets the window answer; true when the user asked
    // the work to stop.
    bool WorkProgress(ULONGLONG done);
    void EndWork();
    bool IsBusy() const;
    // Asks the work in progress to stop, as Stop does.
    void StopWork();
    // Stops the work, and ends the dialog once it has ended.
    void CloseAfterWork();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    void DefWindowProc(AfxMsg& msg) override;
    // The default handling the program's handlers call first or fall back to.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnSize(UINT nType, int cx, int cy);
    void OnPaint() {}
    // The work begins and ends: what the window's own parts do then (a list keeps its marks
    // while work reads them).
    virtual void OnBeginWork() {}
    virtual void OnEndWork() {}

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    void CreateWindowFromTemplate();
    void DestroyWindow();
    int RunInit(); // OnInitDialog under the dispatcher; false when it ended with a file error
    void BindControl(CWnd* control);
    friend void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

    std::unique_ptr<DialogImpl> m_impl; // the window, while the dialog runs
    std::unique_ptr<LongWork> m_work;
    int m_nResult = -1;
    bool m_bEnded = false;
};

// The modal dialogs running now, innermost last.
const std::vector<CDialog*>& AfxModalDialogs();
