#include "app/window_start.h"

namespace quelix {

void StartWindow(CommandController& controller, FrontEnd& front, Places& places, Shell& shell,
                 const std::function<void()>& before_readme) {
  controller.KeepOriginalsIn(places.BackupFolder());
  // The program works without its log; it says so once.
  if (!controller.OpenLog(places.LogPlaces()).ok()) {
    front.SetStatus("No event log could be opened. Events are not logged.");
  }
  before_readme();
  // The readme is handed over at every start, whether or not it is there; a missing one, or one
  // without a viewer, is not worth a word to the user.
  IgnoreResult(shell.hyperlink(places.ReadmePath()), "not worth a word");
}

}  // namespace quelix
