// The help-id tables of the dialogs: the id rule, the shared ids of OK and
// Cancel and of the rain report's export options, and the requests dialog
// 125 ignores.
#include <gtest/gtest.h>

#include <set>

#include "shell/help.h"
#include "resources/resource.h"

namespace kx305mon {
namespace {

struct Row {
    uint32_t control;
    uint32_t help;
};

std::vector<Row> Rows(const uint32_t* table) {
    std::vector<Row> rows;
    for (; table[0] != 0 || table[1] != 0; table += 2) rows.push_back({table[0], table[1]});
    return rows;
}

TEST(HelpIds, EveryDialogTableFollowsTheIdRule) {
    EXPECT_EQ(HelpContextId(IDD_REGISTRATION, IDC_OK), 0x807903E9u);
    EXPECT_EQ(HelpContextId(IDD_REGISTRATION, IDC_CANCEL), 0x807903EBu);
    EXPECT_EQ(HelpContextId(IDD_PORT, IDC_PORT_COMBO), 0x80670402u);

    struct Case {
        int dialog;
        std::set<uint32_t> controls;
        bool buttons;  // OK and Cancel
        int idsOf;     // dialog whose ids the controls carry
    };
    const Case cases[] = {
        {IDD_PORT, {1026}, true, IDD_PORT},
        {IDD_MEMORY_VIEWER, {1033, 1034, 1035, 1036, 1037, 1038, 1039, 1004, 1029}, false, IDD_MEMORY_VIEWER},
        {IDD_LOG_INTERVAL, {1030}, true, IDD_LOG_INTERVAL},
        {IDD_EXPORT_PARAMETERS,
         {1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047, 1048, 1049, 1050, 1051},
         true,
         IDD_EXPORT_PARAMETERS},
        {IDD_RAIN_EXPORT_PARAMETERS, {1040, 1041, 1042, 1043, 1044, 1045}, true, IDD_EXPORT_PARAMETERS},
        {IDD_RAIN_GAUGE, {1111, 1112, 1113, 1053}, true, IDD_RAIN_GAUGE},
        {IDD_REGISTRATION, {}, true, IDD_REGISTRATION},
        {IDD_READ_SOURCE, {}, true, IDD_READ_SOURCE},
        {IDD_EXTRA_SETTINGS, {1071, 1072, 1131}, true, IDD_EXTRA_SETTINGS},
        {IDD_RAIN_REPORT, {1037, 1038, 1039, 1004, 1029}, false, IDD_RAIN_REPORT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialog);
        const uint32_t* table = HelpIdTable(c.dialog);
        ASSERT_NE(table, nullptr);
        std::set<uint32_t> controls;
        int buttons = 0;
        for (const Row& row : Rows(table)) {
            if (row.control == IDC_OK || row.control == IDC_CANCEL) {
                ++buttons;
                EXPECT_EQ(row.help, HelpContextId(IDD_REGISTRATION, static_cast<int>(row.control)));
                continue;
            }
            EXPECT_TRUE(controls.insert(row.control).second) << "twice: " << row.control;
            EXPECT_EQ(row.help, HelpContextId(c.idsOf, static_cast<int>(row.control))) << row.control;
        }
        EXPECT_EQ(controls, c.controls);
        EXPECT_EQ(buttons, c.buttons ? 2 : 0);
    }
    for (int dialog : {IDD_MAIN, 107, 124, 157}) EXPECT_EQ(HelpIdTable(dialog), nullptr) << dialog;
}

TEST(HelpIds, AdditionalSettingsIgnoreUnnumberedStatics) {
    EXPECT_FALSE(WantsContextHelp(IDD_EXTRA_SETTINGS, IDC_STATIC));
    EXPECT_FALSE(WantsContextHelp(IDD_EXTRA_SETTINGS, 0xFFFF));
    EXPECT_TRUE(WantsContextHelp(IDD_EXTRA_SETTINGS, IDC_QUICK_START));
    EXPECT_TRUE(WantsContextHelp(IDD_PORT, IDC_STATIC));
    // A control without a row still goes to the viewer.
    EXPECT_TRUE(WantsContextHelp(IDD_PORT, IDC_CURRENT_PORT));
}

}  // namespace
}  // namespace kx305mon
