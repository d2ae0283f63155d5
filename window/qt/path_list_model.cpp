#include "window/qt/path_list_model.h"

namespace quelix {

void PathListModel::Clear() {
  beginResetModel();
  paths_.clear();
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
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(shown_)) {
    return {};
  }
  // Paths are the bytes on disk; a name that is not valid UTF-8 still shows, with its odd bytes
  // replaced, while the engine keeps working on the bytes.
  return QString::fromUtf8(paths_[static_cast<size_t>(index.row())]);
}

}  // namespace quelix
