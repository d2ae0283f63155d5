#include "engine/engine.h"

#include "engine/signature.h"

namespace quelix {

Engine::Engine(Window& window, FileSystem& fs)
    : window_(window),
      fs_(fs),
      files_(fs),
      signature_(SignatureLine()),
      search_(window, fs),
      scan_(window, files_, signature_) {}

bool Engine::ScanCommand() {
  window_.SetStatus("Searching for the virus. Please wait ...");
  if (!search_.Search()) return false;
  return scan_.ScanCandidates();
}

}  // namespace quelix
