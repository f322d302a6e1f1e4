// Message texts of the shell (start-up, settings, uninstall), beside the
// other program messages of resources/messages.h and in the same form:
// UTF-8 sources, code page 1250 in the binaries.
#pragma once

namespace kx305mon::messages {

inline constexpr char kBadCommandLine[] = "Błędny parametr w linii wywołania!";
inline constexpr char kRegisterQuestion[] = "Czy chcesz zarejestrować ten program w systemie Windows?";
inline constexpr char kUninstallDone[] = "Deinstalacja została zakończona pomyślnie!";
inline constexpr char kUninstallFailed[] = "Deinstalacja nie powiodła się!";

}  // namespace kx305mon::messages
