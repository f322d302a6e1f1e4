// The program's user-visible message texts, in one place.  Saved as UTF-8;
// the compiler turns the narrow literals into code page 1250 (see
// kx305_options), which is what the message boxes and list views expect.
// Modules return failures; the window code picks the text from here.
#pragma once

namespace kx305mon::messages {

// Caption of every message box of the program.
inline constexpr char kCaption[] = "Konwerter KX-305";

// Registration file (recording and reading).
inline constexpr char kRegistrationFileUnavailable[] = "Wybrany plik rejestracji wyników pomiaru jest niedostępny.";
inline constexpr char kRegistrationFileExists[] =
    "Plik rejestracji pomiarów już istnieje.\r\n"
    "Wybierz Tak aby dopisywać wyniki do poprzednich,\r\n"
    "wybierz Nie aby skasować poprzednią zawartość pliku.";

// Memory viewer and rain report.
inline constexpr char kNoRecords[] = "Brak rekordów do odczytania";
// Caption line of the viewer: record number, record count, then the date.
inline constexpr char kRecordCaption[] = "Rekord %i/%i z dnia ";
inline constexpr char kChooseInterval[] = "Wybierz interwał";
// Entries of the rain report's interval box, in the order of "RainMeter Period".
inline constexpr const char* kRainIntervals[] = {"godziny", "dni", "miesiące"};

// Exports and the clipboard.
inline constexpr char kExportFailed[] = "Wystąpił błąd podczas eksportu danych.";
inline constexpr char kClipboardCopyFailed[] = "Wystąpił błąd podczas kopiowania do schowka.";
inline constexpr char kNoMemory[] = "Brak pamięci na wykonanie tej operacji.";
inline constexpr char kClipboardUnavailable[] = "Schowek jest niedostępny.";
inline constexpr char kTickOneField[] = "Musisz zaznaczyć przynajmniej jedną pozycję!";

// Acquisition: the port test at start-up and in the port dialog.
inline constexpr char kPortInUse[] = "Wybrany port szeregowy jest już zajęty.";
// Closing while downloaded records exist only in the program's memory (%u:
// their number).
inline constexpr char kUnstoredRecordsOnClose[] =
    "Nie udało się zapisać %u rekordów pobranych z konwertera, który już ich nie przechowuje. "
    "Zamknięcie programu spowoduje ich utratę.\r\n"
    "Czy mimo to zakończyć program?";

// Downloads of the converter's logging memory.  Text 1062 while the program
// waits for a running download before it closes; the number of records the
// line lost (printf, unsigned); a loss of unknown size; a log interval too
// short for the memory to be emptied as it fills.
inline constexpr char kFinishingRecording[] = "Kończenie rejestracji pomiarów...";
inline constexpr char kRecordsLost[] = "Liczba rekordów utraconych podczas pobierania pamięci konwertera: %u.";
inline constexpr char kRecordsLostUnknown[] = "Część rekordów pobieranych z pamięci konwertera została utracona.";
inline constexpr char kLogIntervalTooShort[] =
    "Interwał rejestracji konwertera jest zbyt krótki, aby jego pamięć mogła być opróżniana na bieżąco. "
    "Pamięć zapełni się i konwerter przestanie zapisywać pomiary. Wydłuż interwał rejestracji.";

// Start-up, settings and uninstall.
inline constexpr char kWrongPlatform[] = "Do poprawnego działania program wymaga Windows95/98 lub WindowsNT";
inline constexpr char kFatalStartError[] = "Bład krytyczny przy inicjalizacji programu!";
inline constexpr char kDdeStartFailed[] = "Błąd inicjalizacji DDE!";
inline constexpr char kBadCommandLine[] = "Błędny parametr w linii wywołania!";
inline constexpr char kRegisterQuestion[] = "Czy chcesz zarejestrować ten program w systemie Windows?";
inline constexpr char kUninstallDone[] = "Deinstalacja została zakończona pomyślnie!";
inline constexpr char kUninstallFailed[] = "Deinstalacja nie powiodła się!";

// Main window commands: the clock and the charting program.
inline constexpr char kClockSet[] = "Zegar został ustawiony.";
inline constexpr char kClockSetFailed[] = "Próba ustawienia czasu nie powiodła się!";
inline constexpr char kVizoNotFound[] = "Nie można odnaleźć programu Vizo";
inline constexpr char kVizoStartFailed[] = "Błąd przy próbie uruchomienia programu Vizo";

// The save-as dialog that names a registration file.
inline constexpr char kChooseRegistrationTitle[] = "Wybierz plik rejesracji";
// File types as the dialog takes them: name and pattern pairs, each ended by
// a zero, the list by a second zero (the literal adds the last one).
inline constexpr char kRegistrationFileTypes[] = "Plik binarny (*.kxg)\0*.kxg\0Wszystkie pliki (*.*)\0*.*\0";
inline constexpr char kRegistrationExtension[] = "kxg";

// The save-as dialog of an export: the text layout and the CSV layout.
inline constexpr char kChooseTextExportTitle[] = "Wybierz plik tekstowy do zapisu pamięci";
inline constexpr char kTextExportFileTypes[] = "Plik tekstowy (*.txt)\0*.txt\0Wszystkie pliki (*.*)\0*.*\0";
inline constexpr char kTextExportExtension[] = "txt";
inline constexpr char kChooseCsvExportTitle[] = "Wybierz listę CSV do zapisu pamięci";
inline constexpr char kCsvExportFileTypes[] = "Lista CSV (*.csv)\0*.csv\0Wszystkie pliki (*.*)\0*.*\0";
inline constexpr char kCsvExportExtension[] = "csv";
// Names the viewer proposes.
inline constexpr char kMemoryTextFileName[] = "Memory.txt";
inline constexpr char kMemoryCsvFileName[] = "Memory.csv";
// Names the rain report proposes.
inline constexpr char kRainTextFileName[] = "RainMeter.txt";
inline constexpr char kRainCsvFileName[] = "RainMeter.csv";

// Dialog 124, set the clock: the first field that OK refuses.
inline constexpr char kSetDays[] = "Ustaw dni";
inline constexpr char kSetMonths[] = "Ustaw miesiące";
inline constexpr char kSetHours[] = "Ustaw godziny";
inline constexpr char kSetMinutes[] = "Ustaw minuty";
inline constexpr char kSetSeconds[] = "Ustaw sekundy";

// Dialog 105, the converter's logging interval.
inline constexpr char kIntervalNotPositive[] = "Interwał musi być większy od zera!";
inline constexpr char kIntervalWriteFailed[] = "Wystąpił błąd komunikacyjny podczas zapisywania nowego interwału!";

// Dialog 119, the rain gauge.
inline constexpr char kInvalidValue[] = "Podana wartość jest niepoprawna!";

}  // namespace kx305mon::messages
