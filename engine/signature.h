// The virus's own lines, as the scan and the cleaning recognise them.
#pragma once

#include <string>
#include <string_view>

namespace quelix {

// The script line the virus plants: 225 characters, "document.write " ... "</APPLET></div>" with
// its quotes. A file holds the virus when a field of it equals this line exactly.
std::string SignatureLine();

// The body tag the virus puts in infected pages: 35 characters.
std::string MarkerLine();

// True when `a` and `b` are equal ignoring the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quelix
