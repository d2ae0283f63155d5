// windows.h must come first: commctrl.h relies on its definitions.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "window/win32/list_tips.h"

#include <utility>

namespace quelix::win32 {
namespace {

// The entry of `list` at `point` (client coordinates), or -1.
int EntryAt(HWND list, POINT point) {
  const LRESULT found = SendMessageA(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
  // The high word is set where the point lies below the last entry.
  return HIWORD(found) ? -1 : static_cast<int>(LOWORD(found));
}

// `text`, an entry's, where it is wider than the list, else "".
std::string CutEntry(HWND list, std::string text) {
  RECT client{};
  GetClientRect(list, &client);
  HDC dc = GetDC(list);
  const auto font = reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0));
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, previous);
  ReleaseDC(list, dc);
  // The list draws an entry a few pixels in from its left edge.
  return extent.cx + 4 > client.right ? text : std::string();
}

TTTOOLINFOA Tool(HWND owner, HWND list) {
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = owner;
  tool.uId = reinterpret_cast<UINT_PTR>(list);
  return tool;
}

}  // namespace

void ListTips::Create(HINSTANCE instance, HWND owner, HWND first, HWND second, EntryText text) {
  entry_text_ = std::move(text);
  owner_ = owner;
  // Always: the tip is worth showing whether or not the window is the active one.
  tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                             WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, nullptr);
  Add(owner, first);
  Add(owner, second);
}

void ListTips::Add(HWND owner, HWND list) {
  // A tracking tip, shown and placed by hand: it comes at once beside the entry it completes, and
  // goes with the next entry rather than waiting for the pointer to leave the list.
  TTTOOLINFOA tool = Tool(owner, list);
  tool.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT;
  tool.lpszText = const_cast<char*>("");
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SetWindowSubclass(list, &ListTips::ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK ListTips::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                    DWORD_PTR self) {
  auto* tips = reinterpret_cast<ListTips*>(self);
  switch (message) {
    case WM_MOUSEMOVE:
      tips->Follow(list, {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))});
      break;
    case WM_MOUSELEAVE:
    case WM_MOUSEWHEEL:
    case WM_VSCROLL:
    case WM_SHOWWINDOW:
      tips->Hide();
      break;
    case WM_NCDESTROY:
      tips->Hide();
      RemoveWindowSubclass(list, &ListTips::ListProc, 1);
      break;
  }
  return DefSubclassProc(list, message, wparam, lparam);
}

void ListTips::Follow(HWND list, POINT pointer) {
  const int entry = EntryAt(list, pointer);
  if (list == shown_list_ && entry == shown_entry_) return;
  Hide();
  text_ = entry < 0 ? std::string() : CutEntry(list, entry_text_(list, entry));
  if (text_.empty()) return;
  shown_list_ = list;
  shown_entry_ = entry;
  TTTOOLINFOA tool = Tool(owner_, list);
  tool.lpszText = text_.data();
  SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  RECT box{};
  SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(entry), reinterpret_cast<LPARAM>(&box));
  // Just below the entry: over it, the tip would take the pointer from the list.
  POINT corner{box.left, box.bottom + 1};
  ClientToScreen(list, &corner);
  SendMessageA(tooltip_, TTM_TRACKPOSITION, 0, MAKELPARAM(corner.x, corner.y));
  SendMessageA(tooltip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
  // Told when the pointer leaves the list, so that the tip goes with it.
  TRACKMOUSEEVENT leave{sizeof leave, TME_LEAVE, list, 0};
  TrackMouseEvent(&leave);
}

void ListTips::Hide() {
  if (!shown_list_) return;
  TTTOOLINFOA tool = Tool(owner_, shown_list_);
  SendMessageA(tooltip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
  shown_list_ = nullptr;
  shown_entry_ = -1;
}

}  // namespace quelix::win32
