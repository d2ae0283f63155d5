// windows.h must come first: shellapi.h relies on its definitions.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "platform/shell.h"

namespace quelix {
namespace {

class Win32Shell : public Shell {
 public:
  Status hyperlink(const std::string& sURL) override {
    // The result is deliberately not examined: a missing readme or one without an associated
    // viewer is no reason to bother the user. No owner window is given; the viewer opens on its
    // own, which is what the owner handle would have achieved for a document.
    ShellExecuteA(nullptr, "open", sURL.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<Shell> CreateNativeShell() {
  return std::make_unique<Win32Shell>();
}

}  // namespace quelix
