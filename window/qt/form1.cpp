#include "window/qt/form1.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "app/last_removal.h"
#include "app/window_start.h"
#include "window/qt/status_line.h"

namespace quelix {
namespace {

constexpr char kCaption[] = "Quelix Remover";
// The layout was drawn for an 8-point face; larger default fonts would crowd the captions.
constexpr int kPointSize = 8;
constexpr std::chrono::steady_clock::duration kLongestRefreshWait = std::chrono::seconds(1);

}  // namespace

Form1::Form1(Setup setup) : setup_(std::move(setup)) {
  controller_.emplace(*this, *setup_.fs, setup_.open_registry);
  controller_->SetYieldInterval(setup_.yield_interval);
  setWindowTitle(QString::fromUtf8(kCaption));
  setObjectName(QStringLiteral("Form1"));
  QFont face = font();
  face.setPointSize(kPointSize);
  setFont(face);
  setFixedSize(Px(kFormWidthTwips, true), Px(kFormHeightTwips, false));
  BuildControls();
  BuildRestoreAction();
  SetTabOrder();
}

Form1::~Form1() {
  if (busy_) QApplication::restoreOverrideCursor();
}

int Form1::Px(int twips, bool horizontal) const {
  const int dpi = horizontal ? logicalDpiX() : logicalDpiY();
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

void Form1::Place(QWidget* control, FormControl which) const {
  const ControlPlace& place = PlaceOf(which);
  control->setObjectName(QString::fromLatin1(place.name));
  control->setGeometry(Px(place.left, true), Px(place.top, false), Px(place.width, true),
                       Px(place.height, false));
}

QString Form1::Caption(FormControl which) {
  return QString::fromUtf8(PlaceOf(which).caption);
}

void Form1::BuildControls() {
  Places& places = *setup_.places;
  drive_ = new DriveChooser(
      this, [&places] { return places.Volumes(); }, [this] { return PickFolder(); });
  std::vector<Volume> volumes = places.Volumes();
  const size_t start = places.StartVolume(volumes);
  drive_->Fill(std::move(volumes), start);
  Place(drive_, FormControl::kDrive1);
  BuildButtons();
  BuildLists();

  log_switch_ = new QCheckBox(Caption(FormControl::kCLog), this);
  log_switch_->setChecked(true);
  Place(log_switch_, FormControl::kCLog);

  status_line_ = new QLabel(this);
  status_line_->setTextFormat(Qt::PlainText);
  Place(status_line_, FormControl::kLabel1);
}

void Form1::BuildButtons() {
  scan_ = new QPushButton(Caption(FormControl::kCmdScan), this);
  Place(scan_, FormControl::kCmdScan);
  connect(scan_, &QPushButton::clicked, this, &Form1::ScanClicked);

  remove_ = new QPushButton(Caption(FormControl::kCRemove), this);
  Place(remove_, FormControl::kCRemove);
  connect(remove_, &QPushButton::clicked, this, &Form1::RemoveClicked);
}

void Form1::BuildLists() {
  infected_heading_ = new QLabel(Caption(FormControl::kLblInf), this);
  Place(infected_heading_, FormControl::kLblInf);
  infected_heading_->adjustSize();

  infected_view_ = new QListView(this);
  infected_view_->setModel(&infected_);
  Place(infected_view_, FormControl::kLInfected);
  infected_view_->hide();

  candidate_view_ = new QListView(this);
  candidate_view_->setModel(&candidates_);
  Place(candidate_view_, FormControl::kList1);

  for (QListView* view : {infected_view_, candidate_view_}) {
    // Every row has the same height, so the view never measures 100 000 rows one by one.
    view->setUniformItemSizes(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setTextElideMode(Qt::ElideMiddle);
  }
}

void Form1::BuildRestoreAction() {
  auto* restore = new QAction(QStringLiteral("Restore the last removal\u2026"), this);
  restore->setObjectName(QStringLiteral("restoreLastRemoval"));
  restore->setShortcut(QKeySequence::Undo);
  connect(restore, &QAction::triggered, this, &Form1::RestoreClicked);
  addAction(restore);
  // The controls do not use the right button, so a right click anywhere in the window, the menu
  // key and Shift+F10 all open this menu.
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void Form1::SetTabOrder() {
  // The labels take no focus, so they drop out of the chain.
  QWidget* previous = nullptr;
  for (const ControlPlace& place : kFormControls) {
    auto* control = findChild<QWidget*>(QString::fromLatin1(place.name));
    if (control == nullptr || control->focusPolicy() == Qt::NoFocus) continue;
    if (previous) setTabOrder(previous, control);
    previous = control;
  }
}

void Form1::Load() {
  StartWindow(*controller_, *this, *setup_.places, *setup_.shell, [this] {
    Refresh();
    // The keyboard starts on the drive chooser, the first thing to choose.
    drive_->setFocus();
  });
}

void Form1::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  SetBusyPointer(false);
  if (setup_.on_unload) {
    setup_.on_unload();
  } else {
    QCoreApplication::quit();
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  event->accept();
  // A running command stops by the controller's rule and then ends the program.
  if (controller_->RequestClose()) Unload();
}

void Form1::ScanClicked() {
  AfterCommand(controller_->Scan());
}

void Form1::RemoveClicked() {
  AfterCommand(controller_->Remove());
}

void Form1::RestoreClicked() {
  RestoreLastRemoval(*controller_, *this, *setup_.fs, setup_.places->BackupFolder(),
                     setup_.open_registry);
}

void Form1::AfterCommand(CommandResult result) {
  if (result == CommandResult::kStopped) {
    Unload();
    return;
  }
  Refresh();
}

void Form1::Refresh() {
  candidates_.Flush();
  infected_.Flush();
  ShowStatus();
}

void Form1::ShowStatus() {
  if (!status_dirty_) return;
  status_dirty_ = false;
  const int room = width() - status_line_->x();
  const StatusDisplay display =
      ShapeStatus(QString::fromUtf8(status_), status_line_->fontMetrics(), room);
  status_line_->setText(display.shown);
  status_line_->setToolTip(display.tooltip);
  status_line_->adjustSize();
}

void Form1::ProcessEvents() {
  // Input is taken at every yield the controller lets through; what changed on screen is drawn
  // less often. The status line, which shows that a scan moves on, costs little to draw; new list
  // entries cost a layout of the whole list, more than anything else the window does in a scan,
  // so the lists grow only now and then. Input comes first: what a yield draws is never on screen
  // while that yield still takes clicks, so a click made on seeing a command's last state reaches
  // the window after the command.
  const auto start = std::chrono::steady_clock::now();
  QCoreApplication::processEvents();
  const auto now = std::chrono::steady_clock::now();
  if (now - last_refresh_ >= RefreshWait()) {
    Refresh();
    last_refresh_ = last_status_ = now;
    last_cycle_cost_ = cycle_cost_;
    cycle_cost_ = {};
  } else if (now - last_status_ >= setup_.status_interval) {
    ShowStatus();
    last_status_ = now;
  }
  cycle_cost_ += std::chrono::steady_clock::now() - start;
}

std::chrono::steady_clock::duration Form1::RefreshWait() const {
  // Adding entries costs more the longer the lists grow (a view lays all its rows out again when
  // rows are added): the lists are brought up to date no more often than keeps the yields' share
  // of a command's time small (under 1 % by default), yet at least once a second. A view draws
  // the rows it was told of at the turns after the refresh: what those cost so far counts too,
  // or the refresh after a costly one would be timed by the cheap one before it.
  const std::chrono::steady_clock::duration least = setup_.refresh_interval;
  const auto by_cost = std::max(last_cycle_cost_, cycle_cost_) * setup_.refresh_cost_factor;
  return std::clamp(by_cost, least, std::max(least, kLongestRefreshWait));
}

void Form1::ClearCandidates() {
  candidates_.Clear();
}

void Form1::AppendCandidate(const std::string& path) {
  candidates_.Append(path);
}

void Form1::HideCandidates() {
  candidate_view_->hide();
}

void Form1::ClearInfected() {
  infected_.Clear();
}

void Form1::AppendInfected(const std::string& path) {
  infected_.Append(path);
}

void Form1::ShowInfected() {
  infected_view_->show();
}

void Form1::SetStatus(const std::string& text) {
  // Drawn at the next yield that processes events: the search sets the status line for every
  // match, far more often than anyone can read it.
  status_ = text;
  status_dirty_ = true;
}

bool Form1::LogSwitch() const {
  return log_switch_->isChecked();
}

std::string Form1::SearchRoot() const {
  return drive_->Root();
}

std::string Form1::PickFolder() {
  if (setup_.folder_dialog) return setup_.folder_dialog();
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Folder to search"), QString(),
      QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  return QFile::encodeName(folder).toStdString();
}

void Form1::SetBusyPointer(bool busy) {
  if (busy == busy_ || (busy && unloaded_)) return;
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void Form1::ShowMessage(const std::string& text, MessageIcon icon) {
  Refresh();
  if (setup_.message_box) {
    setup_.message_box(text, icon);
    return;
  }
  QMessageBox box(icon == MessageIcon::kWarning ? QMessageBox::Warning : QMessageBox::Information,
                  QString::fromUtf8(kCaption), QString::fromUtf8(text), QMessageBox::Ok, this);
  box.exec();
}

bool Form1::Ask(const std::string& question) {
  Refresh();
  if (setup_.question_box) return setup_.question_box(question);
  return QMessageBox::question(this, QString::fromUtf8(kCaption), QString::fromUtf8(question),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace quelix
