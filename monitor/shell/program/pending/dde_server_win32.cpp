// Placeholder until the DDE server is built: starts without serving.
#include "dde/dde_server.h"

namespace kx305mon {

bool DdeServerStart(AppContext&) { return true; }
void DdeServerStop() {}
void DdeInputRegister(int) {}
void DdeInputUnregister(int) {}
void DdeInputAdvise(int) {}

}  // namespace kx305mon
