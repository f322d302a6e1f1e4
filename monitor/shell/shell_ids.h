// Resource ids that the shell's portable code needs: dialogs, controls,
// menu commands and bitmaps.  Plain numbers so that portable code and the
// resource compiler can both include the header; these are the names the
// program's resource header uses for the same ids.
#pragma once

// Dialogs.
#define IDD_MAIN 102
#define IDD_PORT 103
#define IDD_MEMORY_VIEWER 104
#define IDD_LOG_INTERVAL 105
#define IDD_EXPORT_OPTIONS 106
#define IDD_RAIN_GAUGE 119
#define IDD_REGISTRATION 121
#define IDD_READ_SOURCE 122
#define IDD_ADDITIONAL_SETTINGS 125
#define IDD_RAIN_REPORT 127
#define IDD_RAIN_EXPORT_OPTIONS 128

// Buttons that every dialog shares.
#define IDC_OK 1001
#define IDC_CANCEL 1003

// Main window (dialog 102): per input i the icon 1005 + i, the name 1010 + i,
// the description 1015 + i and the status 1020 + i; the status field below.
#define IDC_INPUT_ICON0 1005
#define IDC_INPUT_NAME0 1010
#define IDC_INPUT_DESCRIPTION0 1015
#define IDC_INPUT_STATUS0 1020
#define IDC_CONVERTER_STATUS 1025

// Port dialog 103.
#define IDC_PORT_COMBO 1026
#define IDC_PORT_CURRENT 1064

// Memory viewer 104 and rain report 127.
#define IDC_VIEWER_FIRST 1033
#define IDC_VIEWER_PREVIOUS 1034
#define IDC_VIEWER_NEXT 1035
#define IDC_VIEWER_LAST 1036
#define IDC_RECORD_LIST 1037
#define IDC_SAVE 1038
#define IDC_COPY 1039
#define IDC_OPTIONS 1004
#define IDC_CLOSE 1029

// Log interval 105.
#define IDC_INTERVAL_EDIT 1030

// Export options 106 and 128: radio pairs 1040/1041, 1042/1043, 1044/1045,
// then the six field check boxes up to 1051.
#define IDC_EXPORT_FIRST 1040
#define IDC_EXPORT_LAST 1051
#define IDC_EXPORT_LAYOUT_FIRST 1042
#define IDC_EXPORT_SEPARATOR_LAST 1045

// Rain gauge 119.
#define IDC_RAIN_CALIBRATION 1111
#define IDC_RAIN_NAME 1112
#define IDC_RAIN_SERIAL 1113
#define IDC_RAIN_SPIN 1053

// Registration 121 and read source 122.
#define IDC_FILE_BROWSE 1052
#define IDC_FILE_PATH 1058
#define IDC_FILE_IN_USE 1059

// Additional settings 125.
#define IDC_SHOW_AVERAGE 1071
#define IDC_QUICK_START 1072
#define IDC_HIDE_PROMOTION 1131

// Unnumbered static texts of a dialog template.
#define IDC_STATIC_UNNUMBERED (-1)

// Menu commands.
#define IDM_RAIN_GAUGE 40012

// Bitmaps of the input pictures: an instrument is present / absent.
#define IDB_INSTRUMENT_PRESENT 112
#define IDB_INSTRUMENT_ABSENT 113
