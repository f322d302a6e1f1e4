// The program's DDE server: a service per instrument on inputs 0..4, a
// topic per quantity and serial number, items "Wynik", "Pomiar" and
// "Status".  The main window drives it on its UI thread (the DDE instance
// lives there, and so do its callbacks).  Windows build only.
#pragma once

#include "acquisition/app_context.h"

namespace kx305mon {

// Starts the server over the context's input readings.  False when a server
// runs already or the DDE library refuses.
bool DdeServerStart(AppContext& context);
// Frees the item names and ends the instance; nothing without a server.
void DdeServerStop();
// Builds input `input`'s names from its current reading and registers its
// service; inputs 5 and above are ignored.
void DdeInputRegister(int input);
// Frees the input's names and unregisters its service; nothing for an
// input that is not registered.
void DdeInputUnregister(int input);
// Tells the DDE library that every item of every topic of the input changed.
void DdeInputAdvise(int input);

// Which links one advise of the DDE library wakes: Windows' wakes the links
// of its topic and item, Wine's those of its item on any topic.  The server
// detects Wine; a test forces Windows' grouping under Wine.
enum class DdeAdviseRule { Detect, TopicAndItem, ItemOnly };
void DdeSetAdviseRule(DdeAdviseRule rule);
// The advise requests the library has made of the server so far.
unsigned long DdeAdviseRequestCount();

}  // namespace kx305mon
