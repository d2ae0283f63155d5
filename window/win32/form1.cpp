#include "window/win32/form1.h"

#include <commctrl.h>

#include "app/last_removal.h"
#include "app/window_start.h"
#include "window/win32/desktop.h"
#include "window/win32/layout.h"

namespace quelix::win32 {
namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFormExStyle = 0;
constexpr int kIconId = 1;

bool RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXA form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = procedure;
  form.hInstance = instance;
  form.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
  form.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
  form.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form.lpszClassName = kWindowClass;
  return RegisterClassExA(&form) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

Form1::Form1(HINSTANCE instance)
    : instance_(instance),
      fs_(CreateNativeFileSystem()),
      shell_(CreateNativeShell()),
      places_(CreateNativePlaces()),
      controller_(std::make_unique<CommandController>(*this, *fs_, CreateNativeRegistry)) {}

Form1::~Form1() {
  controller_.reset();
  if (hwnd_) DestroyWindow(hwnd_);
  if (font_) DeleteObject(font_);
}

bool Form1::Create(int show) {
  if (!RegisterFormClass(instance_, &Form1::WindowProc)) return false;
  // Created without a size, then sized for the DPI of the monitor it landed on.
  hwnd_ = CreateWindowExA(kFormExStyle, kWindowClass, kCaption, kFormStyle, CW_USEDEFAULT,
                          CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance_, this);
  if (!hwnd_) return false;
  dpi_ = WindowDpi(hwnd_);
  RECT client{0, 0, Twips(kFormWidthTwips, dpi_), Twips(kFormHeightTwips, dpi_)};
  ClientToWindowRect(&client, kFormStyle, kFormExStyle, dpi_);
  SetWindowPos(hwnd_, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
  AddRestoreToSystemMenu();
  Layout();
  Load();
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  return true;
}

void Form1::CreateControls() {
  for (const ControlSpec& spec : kControls) {
    controls_[spec.id - kFirstControl] = CreateWindowExA(
        spec.ex_style, spec.window_class, PlaceOf(spec.control).caption, spec.style, 0, 0, 0, 0,
        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance_, nullptr);
  }
  list1_ = Control(kList1);
  infected_list_.hwnd = Control(kLInfected);
  list_tips_.Create(instance_, hwnd_, list1_, infected_list_.hwnd,
                    [this](HWND list, int index) { return EntryText(list, index); });
  SendMessageA(Control(kCLog), BM_SETCHECK, BST_CHECKED, 0);

  tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                             nullptr, instance_, nullptr);
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(Control(kLabel1));
  tool.lpszText = const_cast<char*>("");
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tooltip_, TTM_ACTIVATE, FALSE, 0);

  // The chooser's tip has a control of its own: the status line's is switched off and on.
  chooser_tip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                                 nullptr, instance_, nullptr);
  tool.uId = reinterpret_cast<UINT_PTR>(Control(kDrive1));
  SendMessageA(chooser_tip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  std::vector<Volume> volumes = places_->Volumes();
  const size_t start = places_->StartVolume(volumes);
  const std::string root = start < volumes.size() ? volumes[start].root : std::string();
  choices_.SetVolumes(std::move(volumes));
  FillChooser(root);
}

void Form1::AddRestoreToSystemMenu() {
  // The window has no menu bar and its layout is fixed: the system menu is where a window keeps
  // what it offers besides its controls.
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (!menu) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kRestoreLastRemoval, L"Restore the last removal\u2026");
}

void Form1::Layout() {
  HFONT old_font = font_;
  font_ = CreateDialogFont(dpi_);
  for (const ControlSpec& spec : kControls) {
    HWND control = Control(spec.id);
    const ControlPlace& place = PlaceOf(spec.control);
    int height = place.height + (spec.id == kDrive1 ? kDropListTwips : 0);
    SetWindowPos(control, nullptr, Twips(place.left, dpi_), Twips(place.top, dpi_),
                 Twips(place.width, dpi_), Twips(height, dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  if (old_font) DeleteObject(old_font);
  // The heading sizes itself to its caption, the status line to its text.
  HWND heading = Control(kLblInf);
  HDC dc = GetDC(heading);
  HGDIOBJ previous = SelectObject(dc, font_);
  SIZE extent{};
  const char* caption = PlaceOf(FormControl::kLblInf).caption;
  GetTextExtentPoint32A(dc, caption, lstrlenA(caption), &extent);
  // The list that draws its own entries keeps them as high as the other list's: a line of text.
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SendMessageA(list1_, LB_SETITEMHEIGHT, 0, metrics.tmHeight);
  SelectObject(dc, previous);
  ReleaseDC(heading, dc);
  SetWindowPos(heading, nullptr, 0, 0, extent.cx, extent.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, Twips(kFormWidthTwips, dpi_));
  status_pending_ = true;
  ApplyStatus();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Form1::OnDpiChanged(UINT dpi, const RECT& suggested) {
  dpi_ = dpi;
  RECT client{0, 0, Twips(kFormWidthTwips, dpi_), Twips(kFormHeightTwips, dpi_)};
  ClientToWindowRect(&client, kFormStyle, kFormExStyle, dpi_);
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, client.right - client.left,
               client.bottom - client.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
}

LRESULT CALLBACK Form1::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    auto* form = static_cast<Form1*>(create->lpCreateParams);
    form->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcA(hwnd, message, wparam, lparam);
  return form->HandleMessage(message, wparam, lparam);
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == kCmdScan) {
        AfterCommand(controller_->Scan());
      }
      if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == kCRemove) {
        AfterCommand(controller_->Remove());
      }
      // In the open list the arrow keys move the choice through "Other folder…": it counts once
      // the list closes on it.
      if (LOWORD(wparam) == kDrive1 &&
          (HIWORD(wparam) == CBN_CLOSEUP ||
           (HIWORD(wparam) == CBN_SELCHANGE &&
            !SendMessageA(Control(kDrive1), CB_GETDROPPEDSTATE, 0, 0)))) {
        ChooserChanged();
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) != kRestoreLastRemoval) break;
      RestoreLastRemoval(*controller_, *this, *fs_, places_->BackupFolder(), CreateNativeRegistry);
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item.CtlID == kList1) DrawCandidate(item);
      if (item.CtlID == kLabel1) DrawStatus(item);
      if (item.CtlID != kList1 && item.CtlID != kLabel1) break;
      return TRUE;
    }
    case WM_SETCURSOR:
      if (!busy_pointer_) break;
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
      return TRUE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ENDSESSION:
      if (wparam) controller_->RequestClose();
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

void Form1::Load() {
  StartWindow(*controller_, *this, *places_, *shell_, [this] {
    ApplyStatus();
    // The keyboard starts on the drive chooser, the first thing to choose; a plain key press
    // must not toggle Log Events.
    SetFocus(Control(kDrive1));
  });
}

void Form1::OnClose() {
  // A running command stops by the controller's rule and then ends the program.
  if (controller_->RequestClose()) Unload();
}

void Form1::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (hwnd_) DestroyWindow(hwnd_);
}

void Form1::AfterCommand(CommandResult result) {
  if (busy_pointer_) SetBusyPointer(false);
  if (result == CommandResult::kStopped) {
    Unload();
    return;
  }
  // The final state is painted only now, after the command's last yield: a click made on seeing
  // it is not taken for one made while the command ran.
  FlushScreen();
}

}  // namespace quelix::win32
