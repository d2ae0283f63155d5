// The start-up both windows run once their controls are built: the originals a removal replaces
// are kept in the backup folder, the event log is opened, and the readme is handed to the shell.
#pragma once

#include <functional>

#include "app/controller.h"
#include "app/front_end.h"
#include "platform/places.h"
#include "platform/shell.h"

namespace quelix {

// Where no event log opens, the status line says so. `before_readme` runs once the log is open
// (or said not to be), before the readme's viewer may take the keyboard: the window draws its
// status line and puts the keyboard on its first control.
void StartWindow(CommandController& controller, FrontEnd& front, Places& places, Shell& shell,
                 const std::function<void()>& before_readme);

}  // namespace quelix
