// The drive chooser on Linux: the volumes, the folders the user chose besides, and "Other
// folder…" last. The list is read afresh each time it opens (a volume may have been mounted
// since); it opens as wide as its longest entry, and the closed box shows the chosen folder's own
// name (the last part of its path), the whole path in the tooltip.
#pragma once

#include <QComboBox>
#include <functional>
#include <string>
#include <vector>

#include "app/drive_choices.h"
#include "platform/places.h"

namespace quelix {

class DriveChooser : public QComboBox {
 public:
  // `read_volumes` gives the volumes now mounted; `pick_folder` asks the user for a folder and
  // gives its path, or "" when the user changed their mind.
  DriveChooser(QWidget* parent, std::function<std::vector<Volume>()> read_volumes,
               std::function<std::string()> pick_folder);

  // Fills the list with `volumes` and shows the one at `start`.
  void Fill(std::vector<Volume> volumes, size_t start);
  // The search root of the entry shown; "" for none.
  std::string Root() const;
  // What the closed box shows: the last part of the root ("www" for /srv/www, "/" for /), or the
  // entry's text where there is no root.
  QString ShownText() const;

  void showPopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Puts the entries in the list, showing the one whose root is `root` (else the first).
  void Show(const std::string& root);
  void Chosen(int index);

  std::function<std::vector<Volume>()> read_volumes_;
  std::function<std::string()> pick_folder_;
  DriveChoices choices_;
  std::string shown_;  // the root shown before "Other folder…" was picked
};

}  // namespace quelix
