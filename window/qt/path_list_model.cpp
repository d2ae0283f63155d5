#include "window/qt/path_list_model.h"

#include "runtime/shown_name.h"

namespace quelix {

void PathListModel::Clear() {
  beginResetModel();
  paths_.Clear();
  shown_ = 0;
  endResetModel();
}

void PathListModel::Flush() {
  if (shown_ == paths_.size()) return;
  beginInsertRows(QModelIndex(), static_cast<int>(shown_), static_cast<int>(paths_.size() - 1));
  shown_ = paths_.size();
  endInsertRows();
}

int PathListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_);
}

QVariant PathListModel::data(const QModelIndex& index, int role) const {
  const bool text = role == Qt::DisplayRole || role == Qt::ToolTipRole;
  if (!text || !index.isValid() || index.row() >= static_cast<int>(shown_)) return {};
  // Paths are the bytes on disk, which the engine keeps working on; what is shown has its control
  // characters and bytes that are not valid UTF-8 escaped (see ShownName). The view shortens a
  // long path in its middle; its tooltip shows it whole.
  return QString::fromUtf8(ShownName(paths_.at(static_cast<size_t>(index.row()))));
}

}  // namespace quelix
