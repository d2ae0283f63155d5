// The live Windows registry as a Registry, with the root keys of its two stores given by the
// caller.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>

#include "platform/registry.h"

namespace quelix {

// A registry whose machine-wide store is the key `machine` and whose user store is the key `user`
// (the program passes HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER; tests pass keys of their own).
// The stores are named `machine_name` and `user_name` in reports. The caller keeps the two keys
// open while the registry is in use.
std::unique_ptr<Registry> CreateLiveRegistry(HKEY machine, HKEY user,
                                             std::string machine_name = "HKEY_LOCAL_MACHINE",
                                             std::string user_name = "HKEY_CURRENT_USER");

}  // namespace quelix
