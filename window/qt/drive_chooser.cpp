#include "window/qt/drive_chooser.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>

#include "runtime/shown_name.h"

namespace quelix {

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
  const std::string root = start < volumes.size() ? volumes[start].root : std::string();
  choices_.SetVolumes(std::move(volumes));
  Show(root);
  shown_ = Root();
}

std::string DriveChooser::Root() const {
  const int index = currentIndex();
  return index < 0 ? std::string() : choices_.RootAt(static_cast<size_t>(index));
}

void DriveChooser::Show(const std::string& root) {
  const QSignalBlocker quiet(this);
  clear();
  const std::vector<std::string> texts = choices_.Texts();
  for (size_t i = 0; i < texts.size(); ++i) {
    addItem(QString::fromUtf8(texts[i]));
    if (!choices_.IsOtherFolder(i)) {
      setItemData(count() - 1, itemText(count() - 1), Qt::ToolTipRole);
    }
  }
  setCurrentIndex(static_cast<int>(choices_.IndexOf(root)));
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
  choices_.SetVolumes(read_volumes_());
  Show(root);
  QComboBox::showPopup();
}

void DriveChooser::Chosen(int index) {
  if (!choices_.IsOtherFolder(static_cast<size_t>(index))) {
    shown_ = Root();
    setToolTip(currentText());
    return;
  }
  const std::string folder = pick_folder_();
  if (!folder.empty()) choices_.AddFolder(folder);
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
