// Resource ids of kx305mon: dialogs, their controls, the menu commands,
// bitmaps, icons and the program's window messages.  The numbers are fixed
// (other programs, the help file and the tests know them); the names are what
// the code uses.  Plain #defines, so that windres and C++ both include this
// file, neither needing <windows.h> for it.
//
// A control id means something only inside its dialog: 1071, for example, is
// the month edit of the set-time dialog and the KX-125 check box of the
// additional settings.  Each dialog's controls are listed under it.
#ifndef KX305MON_RESOURCE_H
#define KX305MON_RESOURCE_H

// ---------------------------------------------------------------- dialogs
#define IDD_MAIN                   102  // main window: live readings of inputs 0..4
#define IDD_PORT                   103  // "Port szeregowy"
#define IDD_MEMORY_VIEWER          104  // "Zawartość pamięci rejestrującej"
#define IDD_LOG_INTERVAL           105  // "Interwał rejestracji"
#define IDD_EXPORT_PARAMETERS      106  // "Parametry eksportu"
#define IDD_ABOUT                  107  // "O programie"
#define IDD_RAIN_GAUGE             119  // "Deszczomierz (Wejście nr 0)"
#define IDD_REGISTRATION           121  // "Rejestracja"
#define IDD_READ_SOURCE            122  // "Odczyt pamięci"
#define IDD_SET_TIME               124  // "Ustaw czas"
#define IDD_EXTRA_SETTINGS         125  // "Ustawienia dodatkowe"
#define IDD_RAIN_SOURCE            126  // "Odczyt danych z deszczomierza"
#define IDD_RAIN_REPORT            127  // "Raport opadów"
#define IDD_RAIN_EXPORT_PARAMETERS 128  // "Parametry eksportu" (separator and layout only)
#define IDD_PROMOTION              157  // "Velmor - promocja QMV"

// ---------------------------------------------------------------- menu 101
#define IDR_MAIN_MENU         101
// "&KX-305"
#define IDM_SYNC_CLOCK        40002  // device request 1: converter clock := PC time
#define IDM_SET_TIME          40013  // dialog 124
#define IDM_PORT              40003  // dialog 103
#define IDM_RAIN_GAUGE        40012  // dialog 119; greyed unless input 0 is a rain gauge
#define IDM_RUN_VIZO          40014  // starts VIZO.EXE
#define IDM_UNINSTALL         40004  // removes the settings key; greyed in a second copy
#define IDM_EXIT              40005
// "&Pamieć"
#define IDM_READ_MEMORY       40006  // dialog 122, then the viewer 104
#define IDM_LOG_INTERVAL      40008  // dialog 105
#define IDM_EXPORT_PARAMETERS 40011  // dialog 106
#define IDM_RAIN_REPORT       40017  // dialog 126, then the report 127
// "&Ustawienia"
#define IDM_REGISTRATION      40015  // dialog 121
#define IDM_EXTRA_SETTINGS    40016  // dialog 125
// "Pomo&c"
#define IDM_HELP_CONTENTS     40009
#define IDM_ABOUT             40010  // dialog 107

// ---------------------------------------------------------------- bitmaps and icons
#define IDB_LOGO          108  // maker's mark: main window and about box
#define IDB_STATUS_IMAGES 109  // two 16 x 16 images: 0 warning triangle, 1 green tick
#define IDB_STATUS_MASK   110  // mask of 109, white = transparent
#define IDB_ABOUT_PICTURE 111  // about box: the converter
#define IDB_INSTRUMENT    112  // input panel: an instrument is present
#define IDB_NO_INSTRUMENT 113  // input panel: no instrument
#define IDI_PROGRAM       114  // window icon, 16 x 16 and 32 x 32
#define IDI_FIRST         115  // viewer navigation, 16 x 16
#define IDI_PREVIOUS      116
#define IDI_NEXT          117
#define IDI_LAST          118

// The promotion document of dialog 157 (RTF, shown in control 1075).
#define RT_PROMOTION_DOCUMENT  240
#define IDR_PROMOTION_DOCUMENT 157

// ---------------------------------------------------------------- controls shared by many dialogs
#define IDC_STATIC           (-1)
#define IDC_OK               1001  // "O&K"
#define IDC_CANCEL           1003  // "&Anuluj"
#define IDC_OPTIONS          1004  // "Opcje": export parameters (104, 127)
#define IDC_CLOSE            1029  // "Zamknij" (104, 127)
#define IDC_RECORD_LIST      1037  // list view of entries (104) or report rows (127)
#define IDC_SAVE             1038  // "Zapisz" (104, 127)
#define IDC_COPY             1039  // "Kopiuj" (104, 127)
#define IDC_BROWSE           1052  // "..." file choice (121, 122, 126)
#define IDC_FILE_NAME        1058  // registration file name (121, 122, 126)
#define IDC_USE_CURRENT_FILE 1059  // "Pobierz dane z aktualnie używanego pliku rejestracji" (122, 126)

// ---------------------------------------------------------------- 102 main window
// Input i (0..4) has the picture 1005 + i, the name 1010 + i, the
// description 1015 + i and the status 1020 + i.
#define IDC_INPUT_PICTURE_0     1005  // 1005..1009, click = reset that input's rain counter
#define IDC_INPUT_NAME_0        1010  // 1010..1014
#define IDC_INPUT_DESCRIPTION_0 1015  // 1015..1019
#define IDC_INPUT_STATUS_0      1020  // 1020..1024
#define IDC_INPUT_COUNT         5
#define IDC_CONVERTER_STATUS    1025  // firmware, serial number and converter clock
#define IDC_DOWNLOAD_PROGRESS   1061  // progress bar of the logging-memory download
#define IDC_RECORDING_TEXT      1062  // "Trwa rejestracja pomiarów...", shown during a download

// ---------------------------------------------------------------- 103 port
#define IDC_PORT_COMBO   1026  // present COM ports, sorted as text
#define IDC_CURRENT_PORT 1064  // read-only, "COMn" or empty

// ---------------------------------------------------------------- 104 memory viewer
#define IDC_RECORD_CAPTION  1028  // "Rekord i/n z dnia ..." or "Brak rekordów do odczytania"
#define IDC_FIRST_RECORD    1033
#define IDC_PREVIOUS_RECORD 1034
#define IDC_NEXT_RECORD     1035
#define IDC_LAST_RECORD     1036

// ---------------------------------------------------------------- 105 log interval
#define IDC_INTERVAL 1030  // seconds, filled in by the polling worker

// ---------------------------------------------------------------- 106 and 128 export parameters
#define IDC_CURRENT_RECORD     1040  // "Tylko bieżący &rekord"    bit 0 clear
#define IDC_ALL_RECORDS        1041  // "W&szystkie rekordy"       bit 0 set
#define IDC_LAYOUT_CSV         1042  // "&Lista rozdzielana (CSV)" bit 1 clear
#define IDC_LAYOUT_DESCRIPTIVE 1043  // "&Opisowy"                 bit 1 set
#define IDC_SEPARATOR_TAB      1044  // "&Znak tabulacji"          bit 2 clear
#define IDC_SEPARATOR_LIST     1045  // "Separator &listy"         bit 2 set
#define IDC_FIELD_TIME         1046  // bits 3..8: the descriptive fields
#define IDC_FIELD_INSTRUMENT   1047
#define IDC_FIELD_SERIAL       1048
#define IDC_FIELD_QUANTITY     1049
#define IDC_FIELD_RESULT       1050
#define IDC_FIELD_STATUS       1051

// ---------------------------------------------------------------- 119 rain gauge
#define IDC_CALIBRATION       1111  // mm per impulse, three decimals
#define IDC_CALIBRATION_SPIN  1053  // up-down of 1111, 1..1000 thousandths
#define IDC_RAIN_GAUGE_NAME   1112
#define IDC_RAIN_GAUGE_SERIAL 1113

// ---------------------------------------------------------------- 124 set time
#define IDC_DAY    1070
#define IDC_MONTH  1071
#define IDC_SECOND 1072
#define IDC_MINUTE 1073
#define IDC_HOUR   1074

// ---------------------------------------------------------------- 125 additional settings
#define IDC_SHOW_KX125_AVERAGE 1071  // KX125AV
#define IDC_QUICK_START        1072  // QUICK_START
#define IDC_HIDE_PROMOTION     1131  // ticked = SHOW_QMV 0

// ---------------------------------------------------------------- 126 rain report source
#define IDC_REPORT_INTERVAL 1072  // "godziny", "dni", "miesiące"

// ---------------------------------------------------------------- 157 promotion
#define IDC_PROMOTION_CLOSE 1     // "Zamknij"
#define IDC_PROMOTION_VIEW  1075  // the promotion document of resource 240/157
#define IDC_PROMOTION_FILE  1054  // rich edit filled from d:\qmv.rtf
#define IDC_PROMOTION_LINK  1130  // "Kliknij, aby uzyskać więcej informacji w internecie"

// ---------------------------------------------------------------- window messages (WM_USER + n)
// All posted, never sent across threads.
#define WMU_PROGRESS        1025  // to the main window; wParam download progress 0..100, 0 at the end
#define WMU_PERIOD_SET      1027  // to dialog 105; wParam 1 written, 0 failed
#define WMU_TIME_SET        1028  // to the main window; wParam 0 failed, other set
#define WMU_START           1029  // main window to itself: start the acquisition
#define WMU_NEW_DATA        1030  // to the main window after every polling cycle
#define WMU_INPUT_CHANGED   1031  // to the main window; wParam input 0..4, 5 = connection lost
#define WMU_PROMO           1032  // main window to itself, once: promotion, then WMU_START
#define WMU_PERIOD_READ     1033  // to dialog 105; wParam the converter's log interval in seconds
#define WMU_DISPLAY         1034  // to the main window: a new display snapshot waits in its mailbox
#define WMU_RECORDING_TEXT  1035  // to the main window; wParam 1 show, 0 hide text 1062
#define WMU_RAIN_GAUGE_MENU 1036  // to the main window; wParam 1 enable, 0 grey menu item 40012
#define WMU_NOTICE          1037  // to the main window; wParam a Notice, lParam its number: show its box

#endif  // KX305MON_RESOURCE_H
