// "Restore the last removal…", which both windows offer beside their controls: the restore that
// `quelix restore` runs on the latest removal kept in the backup store, asked first, its outcome
// in a message box. It writes nothing to the event log, as `quelix restore` does not.
#pragma once

#include <string>

#include "app/controller.h"
#include "app/front_end.h"
#include "engine/backups.h"
#include "engine/restore.h"
#include "platform/file_system.h"

namespace quelix {

// Asks `front` whether to put back the originals of the latest removal kept in `folder` and, on
// Yes, restores it as `quelix restore` does and shows the outcome. Shows why where there is
// nothing to restore. Does nothing while `controller` runs a command. Returns true when the
// restore ran.
bool RestoreLastRemoval(const CommandController& controller, FrontEnd& front, FileSystem& fs,
                        const std::string& folder, const RegistryOpener& open_registry);

// The question asked first; `summary` is null where the run could not be described.
std::string RestoreQuestion(const RunSummary* summary);
// The message box after the restore: information where everything is its original again, else a
// warning naming what was left alone and why.
Message RestoreMessage(const RestoreReport& report);

}  // namespace quelix
