// How the main window makes the controls of the layout table (app/form_layout.h), and the scale
// that turns twips into pixels at a monitor's DPI. Every pixel the window uses goes through
// Twips().
#pragma once

#include <windows.h>

#include "app/form_layout.h"
#include "window/win32/control_ids.h"

namespace quelix::win32 {

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
  FormControl control;  // its name, caption and place in the layout table
  const char* window_class;
  DWORD style;
  DWORD ex_style;
};

inline constexpr DWORD kListStyle =
    WS_CHILD | WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | LBS_NOTIFY;
// The candidate list keeps no text of its own: it may grow to hundreds of thousands of entries,
// whose paths the window already holds compactly. It knows only their number and has the window
// draw each entry it shows.
inline constexpr DWORD kNoDataListStyle = WS_CHILD | WS_TABSTOP | WS_VSCROLL |
                                          LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | LBS_OWNERDRAWFIXED |
                                          LBS_NODATA;

// The controls in the layout table's order, which is the tab order: the order of creation is the
// order Tab moves the focus in.
inline constexpr ControlSpec kControls[] = {
    {kList1, FormControl::kList1, "LISTBOX", kNoDataListStyle | WS_VISIBLE, WS_EX_CLIENTEDGE},
    {kDrive1, FormControl::kDrive1, "COMBOBOX",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0},
    {kLabel1, FormControl::kLabel1, "STATIC", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOTIFY, 0},
    {kCLog, FormControl::kCLog, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {kLInfected, FormControl::kLInfected, "LISTBOX", kListStyle, WS_EX_CLIENTEDGE},
    {kCRemove, FormControl::kCRemove, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     0},
    {kCmdScan, FormControl::kCmdScan, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     0},
    {kLblInf, FormControl::kLblInf, "STATIC", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0},
};

}  // namespace quelix::win32
