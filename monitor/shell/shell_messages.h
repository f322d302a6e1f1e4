// Message texts of the shell (start-up, settings, uninstall), beside the
// other program messages of resources/messages.h and in the same form:
// UTF-8 sources, code page 1250 in the binaries.
#pragma once

namespace kx305mon::messages {

inline constexpr char kBadCommandLine[] = "Błędny parametr w linii wywołania!";
inline constexpr char kRegisterQuestion[] = "Czy chcesz zarejestrować ten program w systemie Windows?";
inline constexpr char kUninstallDone[] = "Deinstalacja została zakończona pomyślnie!";
inline constexpr char kUninstallFailed[] = "Deinstalacja nie powiodła się!";

// The save-as dialog that names a registration file.
inline constexpr char kChooseRegistrationTitle[] = "Wybierz plik rejesracji";
// File types as the dialog takes them: name and pattern pairs, each ended by
// a zero, the list by a second zero (the literal adds the last one).
inline constexpr char kRegistrationFileTypes[] = "Plik binarny (*.kxg)\0*.kxg\0Wszystkie pliki (*.*)\0*.*\0";
inline constexpr char kRegistrationExtension[] = "kxg";

}  // namespace kx305mon::messages
