// Resource ids of Tarnwick.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_SCAN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_MENU 129
#define IDD_PROMPT 130
#define IDI_SMALL 131
#define IDC_LIST 1000
#define IDC_PROMPT 1002
#define IDC_VALUE 1003
#define IDM_ABOUTBOX 0x0010
#define ID_FILE_OPEN 32771
#define ID_FILE_EXIT 32772
#define ID_OPTIONS_MINLENGTH 32773
#define ID_EXPORT_ALL 32775
#define ID_EXPORT_MARKED 32776
#define ID_HELP_ABOUT 32777
#define ID_OPTIONS_UTF16 32778
#define ID_EDIT_FIND_NEXT 32779
#define ID_EDIT_FIND_PREVIOUS 32780
#define ID_OPTIONS_MARKED_ONLY 32781
#define ID_OPTIONS_REGEX 32782
#define ID_EDIT_FIND 57636
#define ID_EDIT_COPY 57634

struct ResourceSet;
// Every resource of the program, for the framework to look up by id.
const ResourceSet& ProgramResources();
