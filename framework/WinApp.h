// The application object: title, command line and help.
#pragma once

#include <memory>

#include "AppState.h"
#include "Dialog.h"

struct AppState;

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // Runs the application: sets up the platform, then InitInstance. Returns the exit code.
    int Run(int argc, char** argv);

    // Answers the Help command: the help file at the topic of the dialog that has the focus.
    void OnHelp();
    // Asks the help viewer for a topic; reports "Failed to launch help." when it cannot. The
    // help file is read only when it is a regular file of at most 16 MiB, and never waited on.
    void WinHelp(UINT nTopic);

    CWnd* m_pMainWnd = nullptr;
    CString m_strHelpPath; // the executable's full path with ".HLP" in place of the extension

    // Sets title and help path from the executable's full path.
    void SetModulePath(const CString& path);

    DECLARE_MESSAGE_MAP()

private:
    std::unique_ptr<AppState> m_state;
};
