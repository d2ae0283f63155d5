// The main window's caption and the ids of its controls. The test driver finds the window and its
// controls by these, so they are part of the program's outside face.
#pragma once

namespace quelix::win32 {

inline constexpr char kCaption[] = "Quelix Remover";
inline constexpr char kWindowClass[] = "QuelixRemoverForm1";

enum ControlId : int {
  kDrive1 = 1001,
  kCmdScan = 1002,
  kCRemove = 1003,
  kLblInf = 1004,
  kLInfected = 1005,
  kList1 = 1006,
  kCLog = 1007,
  kLabel1 = 1008,
  kFirstControl = kDrive1,
  kLastControl = kLabel1,
};

// The window's own entry in its system menu (the menu of its icon and title bar, also Alt+Space):
// "Restore the last removal…". A system command's id keeps its low four bits clear and stays
// below the system's own (0xF000).
inline constexpr unsigned kRestoreLastRemoval = 0x0010;

}  // namespace quelix::win32
