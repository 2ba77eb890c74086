// The application object's state, as the framework's parts reach it: the Afx functions read
// and set it here. The application object owns it for as long as it lives.
#pragma once

#include <string>
#include <vector>

#include "CString.h"

class CCmdTarget;
class CDialog;
class CWinApp;
struct ResourceSet;

struct AppState {
    CWinApp* app = nullptr;         // the application object that owns this state
    CCmdTarget* commands = nullptr; // the same, as the target of commands no window takes
    CString title;                  // the caption of every message box
    CString arguments;              // the command line after the program's name
    const ResourceSet* resources = nullptr;
    std::vector<CDialog*> modal; // the modal dialogs running now, innermost last
    // What Qt says while it looks for a display, held until it is known whether there is one.
    std::string startMessages;
};

// The state of the application object, or null when there is none.
AppState* AfxAppState();
// The application object registers its state here (the first one made, while it lives), so
// that the Afx functions find it; null unregisters.
void AfxSetAppState(AppState* state);

// The application object: the first one made, while it lives; null before and after.
CWinApp* AfxGetApp();
// Commands no window handles (the Help command) go on to the application object; null when
// there is none.
CCmdTarget* AfxCommandFallback();

// The application's title: the caption of every message box. The application object holds
// it; without one it is "".
void AfxSetAppTitle(const CString& title);
CString AfxGetAppTitle();

// The process command line after the program's name: the arguments exactly as given,
// joined by single blanks; "" when there are none.
const char* GetCommandLineArguments();
void AfxSetCommandLine(int argc, const char* const* argv);
