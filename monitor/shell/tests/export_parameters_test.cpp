// The export-parameter dialogs' logic (106 and the rain report's 128): the
// state shown from the flags, the enabling rule of the field boxes, OK's
// check and the word stored, saved as settings group 1.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "recording/export.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/export_parameters.h"
#include "shell_fixture.h"

namespace kx305mon::testing {
namespace {

using ExportParameters = ShellTest;

uint32_t Flags(AppContext& context) {
    MutexLock guard(context.plumbing.lock);
    return context.exportFlags;
}

void SetFlags(AppContext& context, uint32_t flags) {
    MutexLock guard(context.plumbing.lock);
    context.exportFlags = flags;
}

TEST(ExportChoice, OpeningShowsTheFlagsAndEnablesFieldsOnlyForTheDescriptiveLayout) {
    struct Case {
        uint32_t flags;
        ExportRadioIds radios;
        uint32_t fields;
        bool fieldsEnabled;
    };
    const Case cases[] = {
        {0x1FF, {IDC_ALL_RECORDS, IDC_SEPARATOR_LIST, IDC_LAYOUT_DESCRIPTIVE}, 0x1F8, true},
        {0x000, {IDC_CURRENT_RECORD, IDC_SEPARATOR_TAB, IDC_LAYOUT_CSV}, 0, false},
        {0x001, {IDC_ALL_RECORDS, IDC_SEPARATOR_TAB, IDC_LAYOUT_CSV}, 0, false},
        {0x002 | kExportFieldTime, {IDC_CURRENT_RECORD, IDC_SEPARATOR_TAB, IDC_LAYOUT_DESCRIPTIVE}, 0x008, true},
        {0x004 | kExportFieldStatus, {IDC_CURRENT_RECORD, IDC_SEPARATOR_LIST, IDC_LAYOUT_CSV}, 0x100, false},
        // Bits the dialogs do not show are not shown as anything.
        {0xFE00 | kExportFieldSerial, {IDC_CURRENT_RECORD, IDC_SEPARATOR_TAB, IDC_LAYOUT_CSV}, 0x020, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        const ExportChoice choice = ExportChoiceFromFlags(c.flags);
        const ExportRadioIds radios = CheckedRadios(choice);
        EXPECT_EQ(radios.records, c.radios.records);
        EXPECT_EQ(radios.separator, c.radios.separator);
        EXPECT_EQ(radios.layout, c.radios.layout);
        EXPECT_EQ(choice.fields, c.fields);
        EXPECT_EQ(ExportFieldsEnabled(choice), c.fieldsEnabled);
    }
}

TEST(ExportChoice, FieldBoxesAreTheSixControlsInBitOrder) {
    std::set<int> controls;
    uint32_t bits = 0;
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(kExportFieldBoxes[i].controlId, IDC_FIELD_TIME + static_cast<int>(i)) << i;
        EXPECT_EQ(kExportFieldBoxes[i].bit, kExportFieldTime << i) << i;
        controls.insert(kExportFieldBoxes[i].controlId);
        bits |= kExportFieldBoxes[i].bit;
    }
    EXPECT_EQ(controls.size(), 6u);
    EXPECT_EQ(bits, kExportFields);
}

TEST(ExportChoice, EveryWordOfNineBitsComesBackUnchangedFromTheDialog) {
    for (uint32_t flags = 0; flags <= 0x1FF; ++flags) {
        EXPECT_EQ(ExportFlagsOf(ExportChoiceFromFlags(flags)), flags) << flags;
    }
}

TEST_F(ExportParameters, OkOfTheFullDialogChecksTheFieldsAndStoresTheWord) {
    struct Case {
        const char* name;
        uint32_t before;
        ExportChoice choice;
        bool accepted;
        uint32_t stored;  // when accepted
    };
    const Case cases[] = {
        {"no field ticked", 0x1FF, {true, true, true, 0}, false, 0},
        {"no field in the CSV layout either", 0x1FF, {false, false, false, 0}, false, 0},
        {"every field", 0x000, {true, true, true, kExportFields}, true, 0x1FF},
        {"one field", 0x1FF, {false, true, false, kExportFieldValue}, true, 0x082},
        // The boxes count even while disabled (CSV layout).
        {"fields kept under CSV", 0x1FF, {true, false, true, kExportFieldTime | kExportFieldStatus}, true, 0x10D},
        // The word is built anew: what lay above bit 8 is gone.
        {"unknown bits dropped", 0xFFFFFFFF, {false, false, false, kExportFieldName}, true, 0x010},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store = MemorySettingsStore();
        SetFlags(context, c.before);
        const char* message = AcceptExportParameters(context, store, c.choice);
        if (!c.accepted) {
            ASSERT_NE(message, nullptr);
            EXPECT_STREQ(message, messages::kTickOneField);
            EXPECT_EQ(Flags(context), c.before);
            EXPECT_EQ(store.ValueCount(), 0u);
            continue;
        }
        EXPECT_EQ(message, nullptr);
        EXPECT_EQ(Flags(context), c.stored);
        // Group 1 alone, with the value written by every save.
        EXPECT_EQ(StoredNames(), (std::set<std::string>{"Flags", "RainMeter Period"}));
        EXPECT_EQ(StoredNumber("Flags"), c.stored);
    }
}

TEST_F(ExportParameters, OkOfTheRainDialogChangesLayoutAndSeparatorOnly) {
    struct Case {
        uint32_t before;
        bool descriptive;
        bool listSeparator;
        uint32_t stored;
    };
    const Case cases[] = {
        {0x1FF, false, false, 0x1F9},
        {0x000, true, true, 0x006},
        {0x001, true, false, 0x003},
        {0x1F8, false, true, 0x1FC},
        // No field check: a word without fields is stored as it is.
        {0xABCD0001, false, true, 0xABCD0005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        store = MemorySettingsStore();
        SetFlags(context, c.before);
        ExportChoice choice = ExportChoiceFromFlags(c.before);
        choice.descriptive = c.descriptive;
        choice.listSeparator = c.listSeparator;
        choice.fields = 0;
        choice.allRecords = !choice.allRecords;  // not shown in 128: must not matter
        AcceptRainExportParameters(context, store, choice);
        EXPECT_EQ(Flags(context), c.stored);
        EXPECT_EQ(StoredNames(), (std::set<std::string>{"Flags", "RainMeter Period"}));
        EXPECT_EQ(StoredNumber("Flags"), c.stored);
    }
}

TEST_F(ExportParameters, ChoiceStaysInForceWhenTheKeyCannotBeWritten) {
    store.failWriting = true;
    EXPECT_EQ(AcceptExportParameters(context, store, {false, false, true, kExportFieldTime}), nullptr);
    EXPECT_EQ(Flags(context), 0x00Cu);
    AcceptRainExportParameters(context, store, {false, true, false, 0});
    EXPECT_EQ(Flags(context), 0x00Au);
    EXPECT_EQ(store.ValueCount(), 0u);
}

// A failed write is the writers' "Wystąpił błąd podczas eksportu danych."
// without owner, and the copy still hands over what was written; only a
// temporary file that cannot be created is the copy's own failure.
TEST(ExportOutcome, CopyAndSaveTellTheWritersFailureWithoutOwner) {
    const std::string exportFailed = messages::kExportFailed;
    const std::string copyFailed = messages::kClipboardCopyFailed;
    struct Case {
        bool created;
        bool written;
        std::string copyText;  // "" = nothing told
        bool copyOwned;
        bool copied;
        std::string saveText;
        bool saveOwned;
    };
    const Case cases[] = {
        {true, true, "", false, true, "", false},
        {true, false, exportFailed, false, true, exportFailed, false},
        {false, false, copyFailed, true, false, exportFailed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.created ? "created" : "not created") + (c.written ? ", written" : ", not written"));
        const ExportCopyStep copy = AfterCopyExport(c.created, c.written);
        EXPECT_EQ(copy.notice.text ? copy.notice.text : "", c.copyText);
        EXPECT_EQ(copy.notice.owned, c.copyOwned);
        EXPECT_EQ(copy.copy, c.copied);
        const ExportNotice save = AfterSaveExport(c.created, c.written);
        EXPECT_EQ(save.text ? save.text : "", c.saveText);
        EXPECT_EQ(save.owned, c.saveOwned);
    }
}

}  // namespace
}  // namespace kx305mon::testing
