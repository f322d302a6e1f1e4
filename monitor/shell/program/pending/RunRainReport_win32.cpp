// Placeholder until the dialog is built: shows nothing, returns 0 (Cancel).
#include "../dialogs.h"

namespace kx305mon {

INT_PTR RunRainReport(HWND, AppContext&) { return 0; }

}  // namespace kx305mon
