// The paths behind a list box, kept compactly (PathList). Appends only grow the list; the view
// learns of them in one batch at the next Flush(), so a command that appends 100 000 paths costs a
// few repaints, not one each.
#pragma once

#include <QAbstractListModel>
#include <string>

#include "runtime/path_list.h"

namespace quelix {

// The characters kept at each end of a long path in its list row.
constexpr qsizetype kPathEnd = 256;

// `path` itself, or, where it is longer than two ends of kPathEnd characters, those ends with an
// ellipsis between them. The view shortens a row in its middle to the view's width, laying the
// whole text out each time it draws the row: a path of thousands of characters made every drawing
// of the list slow, while no width shows more of it than its ends.
QString PathEnds(const QString& path);

class PathListModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  // Every path appended, flushed or not.
  size_t size() const { return paths_.size(); }
  std::string at(size_t index) const { return paths_.at(index); }

  void Append(const std::string& path) { paths_.Append(path); }
  // Empties the list and tells the view at once.
  void Clear();
  // Tells the view about the paths appended since the last flush.
  void Flush();

  // The rows the view knows about: the paths up to the last flush.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // The path at `index` as people are shown it (ShownName), decoded as UTF-8: whole for
  // Qt::ToolTipRole and Qt::AccessibleTextRole, its ends (PathEnds) for Qt::DisplayRole; an empty
  // QVariant for other roles.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  PathList paths_;
  size_t shown_ = 0;
};

}  // namespace quelix
