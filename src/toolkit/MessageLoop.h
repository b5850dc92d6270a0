// Our message loop drives Qt. Waiting for a message processes Qt's events (the native pump), so
// a click, a repaint or a socket notifier is handled while the program sits in any of our loops,
// and a message posted or sent from another thread wakes Qt, including inside Qt's own loops
// (QDialog::exec, QMenu::exec). Use from the user-interface thread only.
#pragma once

#include "platform/Messages.h"

namespace toolkit {

// Plugs Qt's event dispatcher under the calling thread's message queue. Needs a
// QCoreApplication; idempotent; undone when the application object is destroyed.
void InstallNativePump();

// One turn of the application's loop: idle work (action updates) when nothing is waiting, then
// one message taken and dispatched. Returns false, with the message in msg, for WM_QUIT.
bool HandleMessage(platform::MSG &msg);

// The application's loop: GetMessage and DispatchMessage until WM_QUIT; returns its exit code.
int Run();

// Handles what is waiting now, without blocking: Qt's pending events, then every queued message.
// A WM_QUIT met on the way is put back for the enclosing loop and ends the call.
void ProcessMessages();

} // namespace toolkit
