// Form1's drive chooser: the drives, the folders the user chose besides, and "Other folder…" last,
// which asks for any folder to search (a web root, say) with the system's folder dialog.
// windows.h must come first: commctrl.h and shlobj.h rely on its definitions.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
// clang-format on

#include <cstring>

#include "window/win32/form1.h"

namespace quelix::win32 {
namespace {

// The text of `wide` in the program's code page, UTF-8 (see app.manifest).
std::string Narrow(const wchar_t* wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
  text.pop_back();
  return text;
}

}  // namespace

void Form1::FillChooser(const std::string& root) {
  HWND drive1 = Control(kDrive1);
  SendMessageA(drive1, CB_RESETCONTENT, 0, 0);
  const std::vector<std::string> texts = choices_.Texts();
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    SendMessageA(drive1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i].c_str()));
  }
  // "Other folder…" in the W call: its ellipsis does not depend on the process code page.
  SendMessageW(drive1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Other folder\u2026"));
  SendMessageA(drive1, CB_SETCURSEL, choices_.IndexOf(root), 0);
  shown_root_ = SearchRoot();
  ShowChooserTip();
}

void Form1::ChooserChanged() {
  HWND drive1 = Control(kDrive1);
  const LRESULT index = SendMessageA(drive1, CB_GETCURSEL, 0, 0);
  if (index < 0 || !choices_.IsOtherFolder(static_cast<size_t>(index))) {
    shown_root_ = SearchRoot();
    ShowChooserTip();
    return;
  }
  const std::string folder = PickFolder();
  if (!folder.empty()) choices_.AddFolder(folder);
  FillChooser(folder.empty() ? shown_root_ : folder);
}

std::string Form1::PickFolder() {
  BROWSEINFOW browse{};
  browse.hwndOwner = hwnd_;
  browse.lpszTitle = L"Folder to search";
  browse.ulFlags = BIF_RETURNONLYFSDIRS;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
  if (!chosen) return {};
  // Long enough for any path the dialog can give.
  std::wstring path(32768, L'\0');
  const bool named = SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()),
                                           GPFIDL_DEFAULT) != FALSE;
  ILFree(chosen);
  return named ? Narrow(path.c_str()) : std::string();
}

void Form1::ShowChooserTip() {
  // The closed box is narrow: the tip holds the whole caption or path of what it shows.
  HWND drive1 = Control(kDrive1);
  const LRESULT index = SendMessageA(drive1, CB_GETCURSEL, 0, 0);
  const LRESULT length = SendMessageA(drive1, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  chooser_tip_text_.assign(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) {
    SendMessageA(drive1, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(chooser_tip_text_.data()));
  }
  chooser_tip_text_.resize(std::strlen(chooser_tip_text_.c_str()));
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(drive1);
  tool.lpszText = chooser_tip_text_.data();
  SendMessageA(chooser_tip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

std::string Form1::SearchRoot() const {
  const LRESULT index = SendMessageA(Control(kDrive1), CB_GETCURSEL, 0, 0);
  if (index < 0) return {};
  return choices_.RootAt(static_cast<size_t>(index));
}

}  // namespace quelix::win32
