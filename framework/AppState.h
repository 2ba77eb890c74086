// The application object's state, as the framework's parts reach it: the Afx functions read
// and set it here. The application object owns it for as long as it lives.
#pragma once

#include <QDialog>
#include <QPointer>
#include <string>
#include <vector>

#include "CString.h"
#include "Resources.h"

class CDialog;

struct AppState {
    CString title;     // the caption of every message box
    CString arguments; // the command line after the program's name
    const ResourceSet* resources = nullptr;
    std::vector<CDialog*> modal;  // the modal dialogs running now, innermost last
    QPointer<QDialog> helpViewer; // the help window, once shown, until it is closed
    // What Qt says while it looks for a display, held until it is known whether there is one.
    std::string startMessages;
};

// The state of the application object, or null when there is none.
AppState* AfxAppState();
