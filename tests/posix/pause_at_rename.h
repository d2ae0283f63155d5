// Stops the program at the very moment it renames a file, so that a test can act there as another
// program could: between the program's last look at a file and the rename that replaces it.
#pragma once

#include <functional>
#include <string>

namespace quelix {

// Runs `work` on a thread of its own. Every rename that thread makes onto a name ending in
// `name` waits until `at_rename` has run on another thread (once, at the first such rename); then
// the rename goes on as asked. Fails the test where the system cannot stop a thread's renames
// (it takes a kernel with seccomp user notification, 5.5 or later).
void PauseAtRename(const std::string& name, const std::function<void()>& work,
                   const std::function<void()>& at_rename);

}  // namespace quelix
