// The main window's fixed layout, the one both windows draw: each control's name, caption and
// place in twips (1440 to the inch), in tab order. A window turns twips into pixels at its
// screen's resolution.
#pragma once

#include <cstddef>
#include <iterator>

namespace quelix {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kFormWidthTwips = 6450;
inline constexpr int kFormHeightTwips = 3825;

enum class FormControl { kList1, kDrive1, kLabel1, kCLog, kLInfected, kCRemove, kCmdScan, kLblInf };

struct ControlPlace {
  FormControl control;
  const char* name;     // the control's name, by which tests find it
  const char* caption;  // "" for a control without one
  int left, top, width, height;
};

// In tab order. The two lists share one rectangle: one of them is shown at a time.
inline constexpr ControlPlace kFormControls[] = {
    {FormControl::kList1, "List1", "", 240, 840, 5655, 2205},
    {FormControl::kDrive1, "Drive1", "", 240, 120, 1215, 315},
    {FormControl::kLabel1, "Label1", "", 1680, 3240, 45, 195},
    {FormControl::kCLog, "cLog", "&Log Events", 240, 3240, 1215, 315},
    {FormControl::kLInfected, "lInfected", "", 240, 840, 5655, 2205},
    {FormControl::kCRemove, "cRemove", "&Remove virus", 4440, 120, 1215, 375},
    {FormControl::kCmdScan, "cmdScan", "&Scan for virus", 3000, 120, 1215, 375},
    {FormControl::kLblInf, "lblInf", "List of infected files", 240, 600, 1350, 195},
};

// The place of `control`.
constexpr const ControlPlace& PlaceOf(FormControl control) {
  return kFormControls[static_cast<int>(control)];
}

// PlaceOf finds a control at its own position.
constexpr bool ListedInOrder() {
  for (size_t i = 0; i < std::size(kFormControls); ++i) {
    if (static_cast<size_t>(kFormControls[i].control) != i) return false;
  }
  return std::size(kFormControls) == static_cast<size_t>(FormControl::kLblInf) + 1;
}
static_assert(ListedInOrder(), "kFormControls lists the controls in the order of FormControl");

}  // namespace quelix
