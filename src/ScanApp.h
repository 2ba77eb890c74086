// The application object: runs the main window and ends when it closes.
#pragma once

#include "WinApp.h"

class CScanApp : public CWinApp {
public:
    CScanApp();
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CScanApp theApp;
