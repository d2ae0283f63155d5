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

#include "app/last_removal.h"
#include "window/qt/status_line.h"

namespace quelix {
namespace {

constexpr char kCaption[] = "Quelix Remover";
constexpr int kTwipsPerInch = 1440;
constexpr int kClientWidth = 6450;
constexpr int kClientHeight = 3825;
constexpr int kStatusLeft = 1680;
constexpr int kStatusTop = 3240;
// The layout was drawn for an 8-point face; larger default fonts would crowd the captions.
constexpr int kPointSize = 8;

}  // namespace

Form1::Form1(Setup setup) : setup_(std::move(setup)) {
  controller_.emplace(*this, *setup_.fs, setup_.open_registry);
  controller_->SetYieldInterval(setup_.yield_interval);
  setWindowTitle(QString::fromUtf8(kCaption));
  setObjectName(QStringLiteral("Form1"));
  QFont face = font();
  face.setPointSize(kPointSize);
  setFont(face);
  setFixedSize(Px(kClientWidth, true), Px(kClientHeight, false));
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

void Form1::Place(QWidget* control, const char* name, int left, int top, int width,
                  int height) const {
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(Px(left, true), Px(top, false), Px(width, true), Px(height, false));
}

void Form1::BuildControls() {
  Places& places = *setup_.places;
  drive_ = new DriveChooser(
      this, [&places] { return places.Volumes(); }, [this] { return PickFolder(); });
  std::vector<Volume> volumes = places.Volumes();
  const size_t start = places.StartVolume(volumes);
  drive_->Fill(std::move(volumes), start);
  Place(drive_, "Drive1", 240, 120, 1215, 315);
  BuildButtons();
  BuildLists();

  log_switch_ = new QCheckBox(QStringLiteral("&Log Events"), this);
  log_switch_->setChecked(true);
  Place(log_switch_, "cLog", 240, 3240, 1215, 315);

  status_line_ = new QLabel(this);
  status_line_->setTextFormat(Qt::PlainText);
  Place(status_line_, "Label1", kStatusLeft, kStatusTop, 45, 195);
}

void Form1::BuildButtons() {
  scan_ = new QPushButton(QStringLiteral("&Scan for virus"), this);
  Place(scan_, "cmdScan", 3000, 120, 1215, 375);
  connect(scan_, &QPushButton::clicked, this, &Form1::ScanClicked);

  remove_ = new QPushButton(QStringLiteral("&Remove virus"), this);
  Place(remove_, "cRemove", 4440, 120, 1215, 375);
  connect(remove_, &QPushButton::clicked, this, &Form1::RemoveClicked);
}

void Form1::BuildLists() {
  infected_heading_ = new QLabel(QStringLiteral("List of infected files"), this);
  Place(infected_heading_, "lblInf", 240, 600, 1350, 195);
  infected_heading_->adjustSize();

  infected_view_ = new QListView(this);
  infected_view_->setModel(&infected_);
  Place(infected_view_, "lInfected", 240, 840, 5655, 2205);
  infected_view_->hide();

  candidate_view_ = new QListView(this);
  candidate_view_->setModel(&candidates_);
  Place(candidate_view_, "List1", 240, 840, 5655, 2205);

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
  // The tab index column: List1 0, Drive1 1, Label1 2, cLog 3, lInfected 4, cRemove 5, cmdScan 6,
  // lblInf 7. The labels take no focus, so they drop out of the chain.
  QWidget* const order[] = {candidate_view_, drive_, log_switch_, infected_view_, remove_, scan_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void Form1::Load() {
  controller_->KeepOriginalsIn(setup_.places->BackupFolder());
  if (!controller_->OpenLog(setup_.places->LogPlaces()).ok()) {
    SetStatus("No event log could be opened. Events are not logged.");
    Refresh();
  }
  // The keyboard starts on the drive chooser, the first thing to choose.
  drive_->setFocus();
  // The readme is handed over at every start, whether or not it is there; a missing one, or one
  // without a viewer, is not worth a word to the user.
  IgnoreResult(setup_.shell->hyperlink(setup_.places->ReadmePath()), "not worth a word");
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
  // less often, since drawing costs more than anything else the window does in a scan. Input
  // comes first: what a yield draws is never on screen while that yield still takes clicks, so a
  // click made on seeing a command's last state reaches the window after the command.
  QCoreApplication::processEvents();
  const auto now = std::chrono::steady_clock::now();
  if (now - last_refresh_ >= setup_.refresh_interval) {
    Refresh();
    last_refresh_ = now;
  }
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
