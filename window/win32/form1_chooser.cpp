// Form1's drive chooser: the drives, the folders the user chose besides, and "Other folder…" last,
// which asks for any folder to search (a web root, say) with the system's file dialog.
// windows.h must come first: commctrl.h and shlobj.h rely on its definitions.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shobjidl.h>
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

std::wstring Widen(const std::string& text) {
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (chars <= 1) return {};
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), chars);
  wide.pop_back();
  return wide;
}

// Asks for a folder with the system's file dialog in its folder mode, opened on `start` (the
// folder shown): it lists that one folder, where a tree of every drive takes long to come up, and
// its name box takes a path typed or pasted whole. "" where the user cancelled.
std::string AskForFolder(IFileOpenDialog& dialog, std::string start, HWND owner) {
  FILEOPENDIALOGOPTIONS options = 0;
  if (FAILED(dialog.GetOptions(&options))) return {};
  dialog.SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog.SetTitle(L"Folder to search");
  if (!start.empty() && start.back() == ':') start += '\\';
  IShellItem* folder = nullptr;
  if (!start.empty() && SUCCEEDED(SHCreateItemFromParsingName(Widen(start).c_str(), nullptr,
                                                              IID_PPV_ARGS(&folder)))) {
    dialog.SetFolder(folder);
    folder->Release();
  }
  IShellItem* chosen = nullptr;
  if (FAILED(dialog.Show(owner)) || FAILED(dialog.GetResult(&chosen))) return {};
  PWSTR path = nullptr;
  std::string text;
  if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
    text = Narrow(path);
    CoTaskMemFree(path);
  }
  chosen->Release();
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
  // The dialog is a COM object of the thread that shows it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::string folder;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_PPV_ARGS(&dialog)))) {
    folder = AskForFolder(*dialog, shown_root_, hwnd_);
    dialog->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return folder;
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
