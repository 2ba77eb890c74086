// Everything modal the program shows goes through one installed interface: dialogs, file
// dialogs, message boxes and help. The program's own shows them with Qt; tests install a
// scripted one in its place.
#pragma once

#include <optional>
#include <string>

#include "Afx.h"
#include "CString.h"

class CDialog;
class CWnd;

struct FileDialogRequest {
    bool bOpen = true;
    CString initialName;
    CString filter;
    UINT flags = 0;
    CString defaultExt;
    int filterIndex = 1; // the filter shown first, counted from 1
};

struct MessageBoxRecord {
    CString text;
    CString caption;
    UINT type = 0;
    const void* owner = nullptr;
};

class ModalUi {
public:
    virtual ~ModalUi() = default;
    // Runs a dialog whose window is built and initialised, until it ends.
    virtual void RunDialog(CDialog& dlg) = 0;
    // The path chosen, or nothing for Cancel.
    virtual std::optional<CString> ChooseFile(const FileDialogRequest& req, CWnd* owner) = 0;
    // The button pressed: IDOK or IDCANCEL.
    virtual int ShowMessageBox(const MessageBoxRecord& rec, CWnd* owner) = 0;
    // Shows the help file's text (html) at a topic, beside the main window.
    virtual void ShowHelp(const CString& file, UINT topic, const std::string& html,
                          CWnd* mainWnd) = 0;
};

// The interface in use: the one installed, else the default (Qt's, which the application
// object sets).
ModalUi& AfxModalUi();
// Installs ui in place of the one in use (null: the default again); returns the one
// installed before (null for the default).
ModalUi* AfxSetModalUi(ModalUi* ui);
// Sets the default; the application object gives Qt's.
void AfxSetDefaultModalUi(ModalUi* ui);
// The one that shows a person Qt's dialogs.
ModalUi& AfxQtModalUi();
