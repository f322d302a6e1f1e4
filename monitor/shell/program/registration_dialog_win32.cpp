// "Rejestracja" (121): the registration file recorded into.  What OK does
// is registration.h's.
#include <windows.h>

#include "program_win32.h"
#include "resources/messages.h"
#include "resources/resource.h"
#include "shell/program/dialogs.h"
#include "shell/program/file_name_controls_win32.h"
#include "shell/registration.h"
#include "shell/settings_store.h"

namespace kx305mon {

namespace {

ExistingFileChoice AskAboutExistingFile(HWND owner) {
    switch (ShowMessage(owner, messages::kRegistrationFileExists, MB_ICONQUESTION, MB_YESNOCANCEL)) {
    case IDYES:
        return ExistingFileChoice::Append;
    case IDNO:
        return ExistingFileChoice::Erase;
    default:
        return ExistingFileChoice::Cancel;
    }
}

class RegistrationDialog final : public FileNamingDialog {
public:
    RegistrationDialog(AppContext& context, SettingsStore& settings)
        : FileNamingDialog(context, context.registrationPath), settings_(settings) {}

private:
    void Open(HWND dialog) override { ShowStoredPath(dialog); }

    void Accept(HWND dialog) override {
        const RecordingOpen opened = ConfirmRegistrationFile(
            Context(), FileNameText(dialog), [dialog] { return AskAboutExistingFile(dialog); }, settings_);
        if (opened == RecordingOpen::Opened) {
            EndDialog(dialog, 1);
        } else if (opened == RecordingOpen::Unavailable) {
            ShowUnavailableFile(dialog);
        }
    }

    SettingsStore& settings_;
};

}  // namespace

INT_PTR RunRegistrationDialog(HWND owner, AppContext& context, SettingsStore& settings) {
    return RunDialog<RegistrationDialog>(owner, IDD_REGISTRATION, context, settings);
}

}  // namespace kx305mon
