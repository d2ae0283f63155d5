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
  const bool whole = role == Qt::ToolTipRole || role == Qt::AccessibleTextRole;
  if ((!whole && role != Qt::DisplayRole) || !index.isValid() ||
      index.row() >= static_cast<int>(shown_)) {
    return {};
  }
  // Paths are the bytes on disk, which the engine keeps working on; what is shown has its control
  // characters and bytes that are not valid UTF-8 escaped (see ShownName). The view shortens a
  // long path in its middle; its tooltip, and what a screen reader reads, is the whole path.
  const QString shown = QString::fromUtf8(ShownName(paths_.at(static_cast<size_t>(index.row()))));
  return whole ? shown : PathEnds(shown);
}

QString PathEnds(const QString& path) {
  if (path.size() <= 2 * kPathEnd + 1) return path;
  qsizetype left = kPathEnd;
  qsizetype right = kPathEnd;
  // Never half a character that takes two UTF-16 units.
  if (path.at(left - 1).isHighSurrogate()) --left;
  if (path.at(path.size() - right).isLowSurrogate()) --right;
  return path.left(left) + QChar(0x2026) + path.right(right);
}

}  // namespace quelix
