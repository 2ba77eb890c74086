// Resources as data: dialog templates, menus, strings and icons, looked up by id.
#pragma once

#include "Afx.h"

// Window and control styles the templates use.
constexpr UINT WS_POPUP = 0x80000000u;
constexpr UINT WS_CHILD = 0x40000000u;
constexpr UINT WS_VISIBLE = 0x10000000u;
constexpr UINT WS_CAPTION = 0x00C00000u;
constexpr UINT WS_BORDER = 0x00800000u;
constexpr UINT WS_SYSMENU = 0x00080000u;
constexpr UINT WS_THICKFRAME = 0x00040000u;
constexpr UINT WS_GROUP = 0x00020000u;
constexpr UINT WS_TABSTOP = 0x00010000u;
constexpr UINT DS_MODALFRAME = 0x80u;
constexpr UINT DS_3DLOOK = 0x4u;
constexpr UINT WS_EX_ACCEPTFILES = 0x10u;
constexpr UINT WS_EX_APPWINDOW = 0x40000u;
constexpr UINT BS_DEFPUSHBUTTON = 0x1u;
constexpr UINT SS_LEFT = 0x0u;
constexpr UINT SS_NOPREFIX = 0x80u;
constexpr UINT ES_AUTOHSCROLL = 0x80u;
constexpr UINT LVS_REPORT = 0x1u;

enum class ControlKind { PushButton, Static, Icon, Edit, ListView };

struct DlgControl {
    int id; // -1: no id
    ControlKind kind;
    const char* text; // for an icon: unused; see iconId
    int x, y, cx, cy; // dialog units
    UINT style;
    int iconId;
};

struct DlgTemplate {
    int id;
    int x, y, cx, cy; // dialog units
    const char* caption;
    UINT style;
    UINT exStyle; // window styles that are not in style
    bool minimizeBox, maximizeBox;
    int menuId; // 0: none
    const DlgControl* controls;
    int nControls;
};

// A menu as a flat list: each item names its depth; a popup's items follow it one level deeper.
constexpr UINT MFT_POPUP = 0x1u;
constexpr UINT MFT_SEPARATOR = 0x2u;
constexpr UINT MFT_RIGHT = 0x4u; // placed at the right end of the menu bar

struct MenuItemTemplate {
    int depth;
    const char* text;
    UINT id;
    UINT flags;
};

struct MenuTemplate {
    int id;
    const MenuItemTemplate* items;
    int nItems;
};

struct StringResource {
    int id;
    const char* text;
};

// An icon in the XPM text format, in one or two sizes.
struct IconResource {
    int id;
    const char* const* xpmLarge; // may be null
    const char* const* xpmSmall; // may be null
};

struct VersionResource {
    const char* fileVersion;
    const char* productVersion;
    const char* productName;
    const char* internalName;
    const char* companyName;
    const char* fileDescription;
    const char* legalCopyright;
};

struct ResourceSet {
    const DlgTemplate* const* dialogs;
    int nDialogs;
    const MenuTemplate* const* menus;
    int nMenus;
    const StringResource* strings;
    int nStrings;
    const IconResource* const* icons;
    int nIcons;
    // Kept: the version the program's resources carry; nothing on this platform reads it.
    const VersionResource* version;
};

using HICON = const IconResource*;

// The resources the application object holds; without one there are none.
void AfxSetResources(const ResourceSet* resources);
const DlgTemplate* AfxFindDialogTemplate(int id);
const MenuTemplate* AfxFindMenuTemplate(int id);
const char* AfxLoadString(int id); // "" when there is none
HICON AfxFindIcon(int id);
