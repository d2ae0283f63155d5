// The status line's text as shown: a "\r\n" becomes a line break, and a line wider than the room
// beside the label is shortened in its middle, the whole text then going to the tooltip.
#pragma once

#include <QFontMetrics>
#include <QString>

namespace quelix {

struct StatusDisplay {
  QString shown;    // the lines to draw, joined by "\n"
  QString tooltip;  // the whole text when a line was shortened, else empty
};

// `text` as the status line shows it within `width` pixels in the font of `metrics`.
StatusDisplay ShapeStatus(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace quelix
