// The export options through the running program: "&Parametry eksportu"
// (40011) opens dialog 106 over the main window; OK without a field keeps
// it open with the message; a changed choice reaches the settings value
// "Flags".
#include "program_fixture.h"

#include "resources/messages.h"
#include "resources/resource.h"

namespace kx305::e2e {
namespace {

using ExportOptions = ProgramTest;

TEST_F(ExportOptions, MenuOpensTheDialogThatRefusesNoFieldAndSavesTheChoice) {
    ASSERT_TRUE(WriteQuickStart(EnvironmentPort("KX305_PORT_FW113"))) << ui::LastError();
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitMainWindow()) << ui::LastError();
    ASSERT_TRUE(Command(IDM_EXPORT_PARAMETERS));
    ui::WindowQuery query;
    query.title = "Parametry eksportu";
    query.processId = program().id();
    const std::optional<HWND> dialog = ui::WaitForWindow(query, kStartWait);
    ASSERT_TRUE(dialog) << ui::LastError();
    EXPECT_EQ(GetWindow(*dialog, GW_OWNER), main());
    auto click = [&](int id) {
        const std::optional<HWND> control = ui::FindControl(*dialog, id);
        return control && ui::Click(*control);
    };
    auto checked = [&](int id) {
        const std::optional<HWND> control = ui::FindControl(*dialog, id);
        return control && ui::Describe(*control).checked == BST_CHECKED;
    };

    // The start value ticks every field: untick them all.
    for (int id = IDC_FIELD_TIME; id <= IDC_FIELD_STATUS; ++id) {
        ASSERT_TRUE(checked(id)) << id;
        ASSERT_TRUE(click(id)) << id;
    }
    ASSERT_TRUE(ui::WaitUntil([&] { return !checked(IDC_FIELD_STATUS); }, Milliseconds(5000)));
    ASSERT_TRUE(click(IDC_OK));
    ASSERT_TRUE(AnswerMessageBox(kx305mon::messages::kTickOneField, IDOK, kStartWait, GuideImage{"zaznacz-pole"}));
    EXPECT_EQ(LastMessageIcon(), std::optional<UINT>(MB_ICONSTOP));
    EXPECT_FALSE(ui::FindWindows(query).empty()) << "the dialog stays open";
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Flags"), std::optional<DWORD>(0x1FF));

    // The serial number ticked, then the CSV layout (which disables the
    // field boxes but keeps what they hold).
    ASSERT_TRUE(click(IDC_FIELD_SERIAL));
    ASSERT_TRUE(ui::WaitUntil([&] { return checked(IDC_FIELD_SERIAL); }, Milliseconds(5000)));
    ASSERT_TRUE(click(IDC_LAYOUT_CSV));
    ASSERT_TRUE(click(IDC_OK));
    ASSERT_TRUE(ui::WaitForNoWindow(query, kStartWait));
    EXPECT_EQ(ui::ReadRegistryDword(kSettingsKey, "Flags"), std::optional<DWORD>(0x025));
    EXPECT_EQ(Close(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace kx305::e2e
