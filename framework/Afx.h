// Basic types and window-message constants shared by the framework and the program.
#pragma once

#include <cstdint>

#include "Types.h"

using LPARAM = std::intptr_t;

// Window messages the program's message maps bind.
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_DROPFILES = 0x0233;

// Standard command ids.
constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;
constexpr UINT ID_HELP = 0xE146;

// System commands.
constexpr UINT SC_CLOSE = 0xF060;

// Size types of WM_SIZE.
constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;

// Message box types: buttons in the low nibble (OK is the only one), icon in the next.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONSTOP = 0x0010;
constexpr UINT MB_ICONEXCLAMATION = 0x0030;
constexpr UINT MB_ICONMASK = 0x00F0;

// Menu item state.
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_STRING = 0x0000;

// List view.
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr int LVCFMT_LEFT = 0;
