// Dialog templates, menu, string table and version of Tarnwick.
#include "Resources.h"

#include "resource.h"

extern const IconResource g_iconMain;
extern const IconResource g_iconSmall;

namespace {

const UINT kChild = WS_CHILD | WS_VISIBLE;

const DlgControl kScanControls[] = {
    {IDC_LIST, ControlKind::ListView, "List1", 0, 0, 185, 105,
     kChild | WS_BORDER | WS_TABSTOP | LVS_REPORT, 0},
};

const DlgTemplate kScanDialog = {IDD_SCAN_DIALOG,
                                 0,
                                 0,
                                 186,
                                 105,
                                 "Tarnwick",
                                 WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                                     DS_3DLOOK,
                                 WS_EX_APPWINDOW | WS_EX_ACCEPTFILES,
                                 true,
                                 true,
                                 IDR_MENU,
                                 kScanControls,
                                 sizeof kScanControls / sizeof kScanControls[0]};

const DlgControl kPromptControls[] = {
    {IDOK, ControlKind::PushButton, "OK", 70, 40, 50, 16, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP,
     0},
    {IDCANCEL, ControlKind::PushButton, "Cancel", 128, 40, 52, 16, kChild | WS_TABSTOP, 0},
    {IDC_PROMPT, ControlKind::Static, "Prompt", 5, 5, 175, 20, kChild | SS_LEFT | WS_GROUP, 0},
    {IDC_VALUE, ControlKind::Edit, "", 5, 25, 175, 10,
     kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0},
};

const DlgTemplate kPromptDialog = {IDD_PROMPT,
                                   0,
                                   0,
                                   186,
                                   61,
                                   "Dialog",
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                   0,
                                   false,
                                   false,
                                   0,
                                   kPromptControls,
                                   sizeof kPromptControls / sizeof kPromptControls[0]};

const DlgControl kAboutControls[] = {
    {-1, ControlKind::Icon, "", 7, 14, 20, 20, kChild, IDR_MAINFRAME},
    {-1, ControlKind::Static, "Tarnwick 1.0", 40, 10, 119, 8, kChild | SS_NOPREFIX, 0},
    {-1, ControlKind::Static,
     "Lists the readable text inside any file.\nWritten by the Tarnwick developers.", 40, 25, 170,
     23, kChild, 0},
    {IDOK, ControlKind::PushButton, "OK", 178, 7, 32, 14,
     kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0},
};

const DlgTemplate kAboutDialog = {IDD_ABOUTBOX,
                                  0,
                                  0,
                                  217,
                                  55,
                                  "About Varnel",
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                  0,
                                  false,
                                  false,
                                  0,
                                  kAboutControls,
                                  sizeof kAboutControls / sizeof kAboutControls[0]};

const MenuItemTemplate kMenuItems[] = {
    {0, "&File", 0, MFT_POPUP},
    {1, "&Open...", ID_FILE_OPEN, 0},
    {1, "&Export", 0, MFT_POPUP},
    {2, "&All...", ID_EXPORT_ALL, 0},
    {2, "&Marked...", ID_EXPORT_MARKED, 0},
    {1, nullptr, 0, MFT_SEPARATOR},
    {1, "E&xit", ID_FILE_EXIT, 0},
    {0, "&Edit", 0, MFT_POPUP},
    {1, "Find...", ID_EDIT_FIND, 0},
    {1, "Find &Next\tF3", ID_EDIT_FIND_NEXT, 0},
    {1, "Find &Previous\tShift+F3", ID_EDIT_FIND_PREVIOUS, 0},
    {1, "&Copy\tCtrl+C", ID_EDIT_COPY, 0},
    {0, "&Options", 0, MFT_POPUP},
    {1, "&Minimum Text Length...", ID_OPTIONS_MINLENGTH, 0},
    {1, "&UTF-16 Text", ID_OPTIONS_UTF16, 0},
    {1, "Marked Rows &Only", ID_OPTIONS_MARKED_ONLY, 0},
    {1, "&Regular Expressions", ID_OPTIONS_REGEX, 0},
    {0, "&Help", 0, MFT_POPUP | MFT_RIGHT},
    {1, "About...", ID_HELP_ABOUT, 0},
};

const MenuTemplate kMenu = {IDR_MENU, kMenuItems, sizeof kMenuItems / sizeof kMenuItems[0]};

const StringResource kStrings[] = {
    {IDS_ABOUTBOX, "&About Varnel..."},
};

const VersionResource kVersion = {
    "1.0.0.0",           "1.0.0.0",  "Tarnwick",
    "Tarnwick",          "Tarnwick", "Lists the printable text inside binary files",
    "Copyright (C) 2026"};

const DlgTemplate* const kDialogs[] = {&kScanDialog, &kPromptDialog, &kAboutDialog};
const MenuTemplate* const kMenus[] = {&kMenu};
const IconResource* const kIcons[] = {&g_iconMain, &g_iconSmall};

const ResourceSet kResources = {kDialogs, 3, kMenus, 1, kStrings, 1, kIcons, 2, &kVersion};

} // namespace

const ResourceSet& ProgramResources() {
    return kResources;
}
