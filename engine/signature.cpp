#include "engine/signature.h"

#include <array>

namespace quelix {
namespace {
constexpr char Q = '"';
}

std::string SignatureLine() {
  const std::string joint = std::string{Q} + "&" + Q;
  const std::array<std::string, 12> pieces = {
      "document.write ",
      std::string{Q},
      "<div style='position:absolute; left:0px; top:0px; width:0px; height:0px; z-index:28; "
      "visibility: hidden'><",
      joint,
      "APPLET NAME=KJ",
      joint,
      "_guest HEIGHT=0 WIDTH=0 code=com.ms.",
      joint,
      "activeX.Active",
      joint,
      "XComponent></APPLET></div>",
      std::string{Q},
  };
  std::string line;
  for (const std::string& piece : pieces) line += piece;
  return line;
}

std::string MarkerLine() {
  return std::string("<BODY onload=") + Q + "vbscript:KJ_start()" + Q + ">";
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace quelix
