// Compiled as a file of the engine by the layer tests (tests/CMakeLists.txt): the platform's
// interfaces must compile there, and a backend's own header must not.
#include "platform/file_system.h"
#ifdef QUELIX_PROBE_BACKEND
#include "platform/posix/posix_file.h"
#endif

int QuelixLayerProbe() {
  return 0;
}
