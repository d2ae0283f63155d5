#include "window/qt/drive_chooser.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

#include "runtime/shown_name.h"

namespace quelix {
namespace {

const QString kOtherFolder = QStringLiteral("Other folder\u2026");

// A mount path, label or folder comes from whoever named it: shown with its control characters
// and invalid bytes escaped, as every other name.
QString Shown(const std::string& name) {
  return QString::fromUtf8(ShownName(name));
}

}  // namespace

DriveChooser::DriveChooser(QWidget* parent, std::function<std::vector<Volume>()> read_volumes,
                           std::function<std::string()> pick_folder)
    : QComboBox(parent),
      read_volumes_(std::move(read_volumes)),
      pick_folder_(std::move(pick_folder)) {
  // The list opens wide enough for every entry whole.
  view()->setTextElideMode(Qt::ElideNone);
  connect(this, &QComboBox::activated, this, &DriveChooser::Chosen);
}

void DriveChooser::Fill(std::vector<Volume> volumes, size_t start) {
  volumes_ = std::move(volumes);
  Show(start < volumes_.size() ? volumes_[start].root : std::string());
  shown_ = Root();
}

std::string DriveChooser::Root() const {
  const int index = currentIndex();
  if (index < 0) return {};
  const auto i = static_cast<size_t>(index);
  if (i < volumes_.size()) return volumes_[i].root;
  if (i - volumes_.size() < folders_.size()) return folders_[i - volumes_.size()];
  return {};
}

void DriveChooser::Show(const std::string& root) {
  const QSignalBlocker quiet(this);
  clear();
  int shown = 0;
  for (const Volume& volume : volumes_) {
    if (volume.root == root) shown = count();
    addItem(Shown(volume.caption));
    setItemData(count() - 1, Shown(volume.caption), Qt::ToolTipRole);
  }
  for (const std::string& folder : folders_) {
    if (folder == root) shown = count();
    addItem(Shown(folder));
    setItemData(count() - 1, Shown(folder), Qt::ToolTipRole);
  }
  addItem(kOtherFolder);
  setCurrentIndex(shown);
  setToolTip(currentText());
  int widest = 0;
  for (int i = 0; i < count(); ++i) {
    widest = std::max(widest, view()->fontMetrics().horizontalAdvance(itemText(i)));
  }
  // Room besides the text for the item's margins, the frame and a scroll bar.
  view()->setMinimumWidth(widest + 2 * view()->frameWidth() +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
}

void DriveChooser::showPopup() {
  const std::string root = Root();
  volumes_ = read_volumes_();
  Show(root);
  QComboBox::showPopup();
}

void DriveChooser::Chosen(int index) {
  if (index != count() - 1) {
    shown_ = Root();
    setToolTip(currentText());
    return;
  }
  const std::string folder = pick_folder_();
  if (!folder.empty()) {
    std::erase(folders_, folder);
    folders_.push_back(folder);
  }
  Show(folder.empty() ? shown_ : folder);
  shown_ = Root();
}

QString DriveChooser::ShownText() const {
  std::string root = Root();
  if (root.empty()) return currentText();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  const size_t slash = root.find_last_of('/');
  const std::string last =
      slash == std::string::npos || root.size() == 1 ? root : root.substr(slash + 1);
  return QString::fromUtf8(ShownName(last));
}

void DriveChooser::paintEvent(QPaintEvent*) {
  // As the style draws it, but the folder's own name alone: the box is narrow, and a folder is
  // told apart by its name, which a cut path would hide. The whole path is in the tooltip and
  // the open list; a name still too wide loses its middle.
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  const QRect text_box =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  option.currentText = fontMetrics().elidedText(ShownText(), Qt::ElideMiddle, text_box.width());
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace quelix
