// The export-parameter dialogs: "Parametry eksportu" (106) with the record
// choice, separator, layout and the six descriptive fields, and its reduced
// twin for the rain report (128) with separator and layout only.  What they
// show, when the field boxes are enabled, what OK accepts and stores; the
// dialog procedures only show and collect.
//
// Threads: UI thread.  ExportFlags is read and written under the live-state
// lock; the settings store is called without it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acquisition/app_context.h"
#include "shell/settings_store.h"

namespace kx305mon {

// What the dialog shows: one side of each radio pair and the field boxes.
struct ExportChoice {
    bool allRecords = false;     // "W&szystkie rekordy" (else "Tylko bieżący &rekord")
    bool descriptive = false;    // "&Opisowy" (else "&Lista rozdzielana (CSV)")
    bool listSeparator = false;  // "Separator &listy" (else "&Znak tabulacji")
    uint32_t fields = 0;         // kExportField* bits of the ticked field boxes
};

// The six field check boxes in dialog order, with their ExportFlags bits.
struct ExportFieldBox {
    int controlId;
    uint32_t bit;
};
extern const ExportFieldBox kExportFieldBoxes[6];

// Control id of the chosen side of each radio pair (records, separator,
// layout); 128 uses the last two.
struct ExportRadioIds {
    int records;
    int separator;
    int layout;
};
ExportRadioIds CheckedRadios(const ExportChoice& choice);

// The dialogs' state at opening, from ExportFlags.
ExportChoice ExportChoiceFromFlags(uint32_t flags);

// The enabling rule: the field boxes are enabled exactly while the
// descriptive layout is chosen.
bool ExportFieldsEnabled(const ExportChoice& choice);

// The word dialog 106 stores: bits 0 to 8 from the choice (the field bits
// whether their boxes are enabled or not), nothing else.
uint32_t ExportFlagsOf(const ExportChoice& choice);

// The word dialog 128 stores: layout and separator from the choice, every
// other bit of `flags` kept.
uint32_t RainExportFlagsOf(uint32_t flags, const ExportChoice& choice);

// OK of dialog 106.  Without a ticked field: returns the message to show
// ("Musisz zaznaczyć przynajmniej jedną pozycję!", stop icon) and changes
// nothing; the dialog stays open.  Otherwise stores the word as
// ExportFlags, saves settings group 1 and returns null; the dialog closes
// with 1.
const char* AcceptExportParameters(AppContext& context, SettingsStore& store, const ExportChoice& choice);

// OK of dialog 128: stores RainExportFlagsOf the current flags and saves
// settings group 1.  There is no check.
void AcceptRainExportParameters(AppContext& context, SettingsStore& store, const ExportChoice& choice);

// --- what "Zapisz" and "Kopiuj" tell once their export has run ---

// A message box (exclamation icon): its text, null when there is nothing to
// tell, and whether the dialog owns it.  A failed write is the writers'
// failure, told without owner as the writers tell it everywhere.
struct ExportNotice {
    const char* text = nullptr;
    bool owned = false;
};

// "Kopiuj": a temporary file that could not be created is the copy's own
// failure and ends it; after a failed write the file still holds the
// records (or rows) written before it, and those go to the clipboard.
struct ExportCopyStep {
    ExportNotice notice;
    bool copy = false;
};
ExportCopyStep AfterCopyExport(bool created, bool written);

// "Zapisz": a file that could not be created or written.
ExportNotice AfterSaveExport(bool created, bool written);

}  // namespace kx305mon
