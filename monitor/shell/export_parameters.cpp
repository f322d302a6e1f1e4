#include "shell/export_parameters.h"

#include <mutex>

#include "recording/export.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/settings.h"

namespace kx305mon {

const ExportFieldBox kExportFieldBoxes[6] = {
    {IDC_FIELD_TIME, kExportFieldTime},     {IDC_FIELD_INSTRUMENT, kExportFieldName},
    {IDC_FIELD_SERIAL, kExportFieldSerial}, {IDC_FIELD_QUANTITY, kExportFieldQuantity},
    {IDC_FIELD_RESULT, kExportFieldValue},  {IDC_FIELD_STATUS, kExportFieldStatus},
};

namespace {

uint32_t LayoutAndSeparatorBits(const ExportChoice& choice) {
    return (choice.descriptive ? kExportDescriptive : 0u) | (choice.listSeparator ? kExportListSeparator : 0u);
}

void StoreAndSave(AppContext& context, SettingsStore& store, uint32_t flags) {
    {
        MutexLock guard(context.plumbing.lock);
        context.exportFlags = flags;
    }
    SaveSettings(context, store, kSettingsFlags);
}

}  // namespace

ExportRadioIds CheckedRadios(const ExportChoice& choice) {
    return {choice.allRecords ? IDC_ALL_RECORDS : IDC_CURRENT_RECORD,
            choice.listSeparator ? IDC_SEPARATOR_LIST : IDC_SEPARATOR_TAB,
            choice.descriptive ? IDC_LAYOUT_DESCRIPTIVE : IDC_LAYOUT_CSV};
}

ExportChoice ExportChoiceFromFlags(uint32_t flags) {
    ExportChoice choice;
    choice.allRecords = (flags & kExportAllRecords) != 0;
    choice.descriptive = (flags & kExportDescriptive) != 0;
    choice.listSeparator = (flags & kExportListSeparator) != 0;
    choice.fields = flags & kExportFields;
    return choice;
}

bool ExportFieldsEnabled(const ExportChoice& choice) { return choice.descriptive; }

uint32_t ExportFlagsOf(const ExportChoice& choice) {
    return (choice.fields & kExportFields) | (choice.allRecords ? kExportAllRecords : 0u) |
           LayoutAndSeparatorBits(choice);
}

uint32_t RainExportFlagsOf(uint32_t flags, const ExportChoice& choice) {
    return (flags & ~(kExportDescriptive | kExportListSeparator)) | LayoutAndSeparatorBits(choice);
}

const char* AcceptExportParameters(AppContext& context, SettingsStore& store, const ExportChoice& choice) {
    if ((choice.fields & kExportFields) == 0) return messages::kTickOneField;
    StoreAndSave(context, store, ExportFlagsOf(choice));
    return nullptr;
}

void AcceptRainExportParameters(AppContext& context, SettingsStore& store, const ExportChoice& choice) {
    uint32_t flags;
    {
        MutexLock guard(context.plumbing.lock);
        flags = context.exportFlags;
    }
    StoreAndSave(context, store, RainExportFlagsOf(flags, choice));
}

ExportCopyStep AfterCopyExport(bool created, bool written) {
    if (!created) return {{messages::kClipboardCopyFailed, true}, false};
    if (!written) return {{messages::kExportFailed, false}, true};
    return {{}, true};
}

ExportNotice AfterSaveExport(bool created, bool written) {
    if (!created) return {messages::kExportFailed, true};
    if (!written) return {messages::kExportFailed, false};
    return {};
}

}  // namespace kx305mon
