// The main window's fixed layout in twips (1440 to the inch), and the scale that turns twips into
// pixels at a monitor's DPI. Every pixel the window uses goes through Twips().
#pragma once

#include <windows.h>

#include "window/win32/control_ids.h"

namespace quelix::win32 {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kClientWidthTwips = 6450;
inline constexpr int kClientHeightTwips = 3825;
// The room below a drive chooser's selection field for its dropped-down list.
inline constexpr int kDropListTwips = 2700;
// The status line may grow to this distance from the client area's right edge.
inline constexpr int kRightMarginTwips = 120;

// The pixels `twips` cover at `dpi` dots per inch.
inline int Twips(int twips, UINT dpi) {
  return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

struct ControlSpec {
  ControlId id;
  const char* window_class;
  const char* caption;
  DWORD style;
  DWORD ex_style;
  int left, top, width, height;  // twips
};

inline constexpr DWORD kListStyle =
    WS_CHILD | WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | LBS_NOTIFY;

// The controls in tab order: the order of creation is the order Tab moves the focus in.
inline constexpr ControlSpec kControls[] = {
    {kList1, "LISTBOX", "", kListStyle | WS_VISIBLE, WS_EX_CLIENTEDGE, 240, 840, 5655, 2205},
    {kDrive1, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0,
     240, 120, 1215, 315},
    {kLabel1, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOTIFY, 0, 1680, 3240, 45,
     195},
    {kCLog, "BUTTON", "&Log Events", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 240,
     3240, 1215, 315},
    {kLInfected, "LISTBOX", "", kListStyle, WS_EX_CLIENTEDGE, 240, 840, 5655, 2205},
    {kCRemove, "BUTTON", "&Remove virus", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
     4440, 120, 1215, 375},
    {kCmdScan, "BUTTON", "&Scan for virus", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
     3000, 120, 1215, 375},
    {kLblInf, "STATIC", "List of infected files", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
     240, 600, 1350, 195},
};

// The layout of control `id`.
inline const ControlSpec& Spec(ControlId id) {
  for (const ControlSpec& spec : kControls) {
    if (spec.id == id) return spec;
  }
  return kControls[0];
}

}  // namespace quelix::win32
