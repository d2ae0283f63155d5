// Form1's side of the engine's Window: the lists, the status line, the log switch and sink, the
// drive, the pointer, the yield point and the message box.
// windows.h must come first: commctrl.h relies on its definitions.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>

#include "runtime/shown_name.h"
#include "window/win32/form1.h"
#include "window/win32/layout.h"

namespace quelix::win32 {
namespace {

// Events processed per yield at most, so that a flood of them cannot stall the command.
constexpr int kMaxEventsPerYield = 64;
constexpr char kLineBreak[] = "\r\n";

// The text's lines, split at its line breaks.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(kLineBreak, start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// How a status line is laid out: a path on one line, shortened in its middle where it is too
// wide so that its drive and file name stay; other text wrapped at blanks.
UINT LayoutFor(const std::string& line) {
  constexpr UINT kCommon = DT_LEFT | DT_TOP | DT_NOPREFIX;
  if (line.find('\\') != std::string::npos) return kCommon | DT_SINGLELINE | DT_PATH_ELLIPSIS;
  return kCommon | DT_WORDBREAK | DT_END_ELLIPSIS;
}

}  // namespace

void Form1::Append(BatchedList& list, const std::string& path) {
  if (!list.frozen) {
    SendMessageA(list.hwnd, WM_SETREDRAW, FALSE, 0);
    list.frozen = true;
  }
  size_t count = static_cast<size_t>(SendMessageA(list.hwnd, LB_GETCOUNT, 0, 0));
  if (count >= list.reserved) {
    // Room for as many again, so that a long list grows in a few large steps.
    size_t more = std::max<size_t>(count, 256);
    SendMessageA(list.hwnd, LB_INITSTORAGE, more, more * (path.size() + 1));
    list.reserved = count + more;
  }
  // The list shows the name escaped; the engine works on the real path kept beside it.
  const std::string shown = ShownName(path);
  SendMessageA(list.hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
}

void Form1::Thaw(BatchedList& list) {
  if (!list.frozen) return;
  list.frozen = false;
  SendMessageA(list.hwnd, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list.hwnd, nullptr, TRUE);
}

void Form1::ClearCandidates() {
  candidates_.Clear();
  SendMessageA(list1_, LB_RESETCONTENT, 0, 0);
  candidate_count_behind_ = false;
}

void Form1::AppendCandidate(const std::string& path) {
  // The list learns the new number at the next yield; it draws entries from candidates_.
  candidates_.Append(path);
  candidate_count_behind_ = true;
}

void Form1::ShowCandidateCount() {
  if (!candidate_count_behind_) return;
  candidate_count_behind_ = false;
  SendMessageA(list1_, LB_SETCOUNT, candidates_.size(), 0);
}

void Form1::HideCandidates() {
  ShowCandidateCount();
  ShowWindow(list1_, SW_HIDE);
}

std::string Form1::EntryText(HWND list, int index) const {
  const auto entry = static_cast<size_t>(index);
  if (list == list1_ && index >= 0 && entry < candidates_.size()) {
    return ShownName(candidates_.at(entry));
  }
  if (list == infected_list_.hwnd && index >= 0 && entry < infected_.size()) {
    return ShownName(infected_[entry]);
  }
  return {};
}

void Form1::DrawCandidate(const DRAWITEMSTRUCT& item) {
  // An empty list with the focus asks for its focus rectangle alone (no entry).
  const std::string text = EntryText(list1_, static_cast<int>(item.itemID));
  if (item.itemID != static_cast<UINT>(-1)) {
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    SetBkColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    // As a list box that keeps its text draws it: a little in from the left, cut at the right.
    ExtTextOutA(item.hDC, item.rcItem.left + 1, item.rcItem.top, ETO_OPAQUE | ETO_CLIPPED,
                &item.rcItem, text.c_str(), static_cast<UINT>(text.size()), nullptr);
  }
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(item.hDC, &item.rcItem);
}

void Form1::ClearInfected() {
  infected_.clear();
  SendMessageA(infected_list_.hwnd, LB_RESETCONTENT, 0, 0);
  infected_list_.reserved = 0;
}

void Form1::AppendInfected(const std::string& path) {
  infected_.push_back(path);
  Append(infected_list_, path);
}

void Form1::ShowInfected() {
  Thaw(infected_list_);
  ShowWindow(infected_list_.hwnd, SW_SHOW);
}

void Form1::SetStatus(const std::string& text) {
  // Shown at the next yield: the search sets it once per directory entry, far more often than a
  // screen can show.
  status_ = text;
  status_pending_ = true;
}

bool Form1::LogSwitch() const {
  return SendMessageA(Control(kCLog), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form1::SetBusyPointer(bool busy) {
  busy_pointer_ = busy;
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(busy ? 32514 : 32512)));  // IDC_WAIT, IDC_ARROW
}

void Form1::ProcessEvents() {
  // Input first: what a yield paints is never on screen while that yield still takes clicks, so a
  // click made on seeing a command's last state reaches the window after the command.
  PumpEvents();
  FlushScreen();
}

void Form1::ShowMessage(const std::string& text, MessageIcon icon) {
  FlushScreen();
  const UINT kind = icon == MessageIcon::kWarning ? MB_ICONWARNING : MB_ICONINFORMATION;
  MessageBoxA(hwnd_, text.c_str(), kCaption, kind | MB_OK);
}

bool Form1::Ask(const std::string& question) {
  FlushScreen();
  return MessageBoxA(hwnd_, question.c_str(), kCaption, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void Form1::FlushScreen() {
  ShowCandidateCount();
  Thaw(infected_list_);
  ApplyStatus();
}

void Form1::PumpEvents() {
  MSG message;
  for (int i = 0; i < kMaxEventsPerYield && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) {
      // Ended from outside: the command stops as it would for a close request.
      controller_->RequestClose();
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (hwnd_ && IsDialogMessageA(hwnd_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int Form1::StatusMaxWidth() const {
  return Twips(kFormWidthTwips - kRightMarginTwips - PlaceOf(FormControl::kLabel1).left, dpi_);
}

void Form1::ApplyStatus() {
  if (!status_pending_ || !hwnd_) return;
  status_pending_ = false;
  HWND label = Control(kLabel1);
  HDC dc = GetDC(label);
  HGDIOBJ previous = SelectObject(dc, font_);
  const int max_width = StatusMaxWidth();
  int width = 0;
  int top = 0;
  status_lines_.clear();
  status_shortened_ = false;
  for (std::string& line : Lines(status_)) {
    RECT box{0, top, max_width, top};
    UINT format = LayoutFor(line);
    DrawTextA(dc, line.c_str(), static_cast<int>(line.size()), &box, format | DT_CALCRECT);
    if (box.right > max_width) {
      status_shortened_ = true;
      box.right = max_width;
    }
    width = std::max(width, static_cast<int>(box.right));
    top = box.bottom;
    status_lines_.push_back({std::move(line), box, format});
  }
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  SetWindowTextA(label, status_.c_str());
  const ControlPlace& place = PlaceOf(FormControl::kLabel1);
  SetWindowPos(label, nullptr, 0, 0, std::max(width, Twips(place.width, dpi_)),
               std::max(top, Twips(place.height, dpi_)),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(label, nullptr, TRUE);

  TTTOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(label);
  tool.lpszText = const_cast<char*>(status_shortened_ ? status_.c_str() : "");
  SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tooltip_, TTM_ACTIVATE, status_shortened_, 0);
}

void Form1::DrawStatus(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  HGDIOBJ previous = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  for (const StatusLine& line : status_lines_) {
    RECT box = line.box;
    DrawTextA(dc, line.text.c_str(), static_cast<int>(line.text.size()), &box, line.format);
  }
  SelectObject(dc, previous);
}

}  // namespace quelix::win32
