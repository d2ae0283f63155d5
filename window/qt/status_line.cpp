#include "window/qt/status_line.h"

#include <QStringList>

namespace quelix {

StatusDisplay ShapeStatus(const QString& text, const QFontMetrics& metrics, int width) {
  QString whole = text;
  whole.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QStringList lines = whole.split(QLatin1Char('\n'));
  bool shortened = false;
  for (QString& line : lines) {
    if (metrics.horizontalAdvance(line) <= width) continue;
    // A path keeps its start (the volume and top folders) and its end (the file): the middle is
    // what the user can spare.
    line = metrics.elidedText(line, Qt::ElideMiddle, width);
    shortened = true;
  }
  return {lines.join(QLatin1Char('\n')), shortened ? whole : QString()};
}

}  // namespace quelix
