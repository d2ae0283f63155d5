// Tooltips for the list boxes: an entry wider than its list, which the list cuts off at its right
// edge, shows whole in a tooltip laid over it while the pointer is on it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace quelix::win32 {

class ListTips {
 public:
  // The text entry `index` of `list` shows, "" where there is none.
  using EntryText = std::function<std::string(HWND list, int index)>;

  ListTips() = default;
  ListTips(const ListTips&) = delete;
  ListTips& operator=(const ListTips&) = delete;

  // Creates the tooltip control of `owner` and has it follow the pointer over `first` and
  // `second`, whose entries' texts `text` gives (a list that draws its own entries holds none).
  // The lists must not outlive this object.
  void Create(HINSTANCE instance, HWND owner, HWND first, HWND second, EntryText text);

 private:
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR self);
  void Add(HWND owner, HWND list);
  // The pointer is at `pointer` in `list`: shows the whole text of the entry there where the
  // list cuts it, and nothing elsewhere.
  void Follow(HWND list, POINT pointer);
  void Hide();

  EntryText entry_text_;
  HWND tooltip_ = nullptr;
  HWND owner_ = nullptr;
  HWND shown_list_ = nullptr;
  int shown_entry_ = -1;
  std::string text_;
};

}  // namespace quelix::win32
