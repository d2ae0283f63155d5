// Names as people are shown them. A name comes from whoever made the file, and may carry bytes a
// terminal or a log reader would act on: a line break that starts a line of its own in the event
// log or in `quelix`'s output, ESC and OSC sequences a terminal obeys. Wherever a name is shown
// (the command line, the windows' lists, status line and message boxes, the event log) it goes
// through ShownName(); the program itself keeps working on the real bytes.
//
// The rule:
//  - Valid UTF-8 that is printable is written as it is, byte for byte, backslashes included: an
//    ordinary name (spaces, accents, a Windows path such as C:\temp\new\x64) is shown as before.
//  - Control characters (C0, DEL, and C1 as the UTF-8 sequences U+0080..U+009F), the line and
//    paragraph separators U+2028 and U+2029, and the marks that reorder text on screen (U+202A..
//    U+202E, U+2066..U+2069) are escaped: \n, \r, \t for those three, \xHH for every other byte
//    (a multi-byte character byte by byte, lower-case hex).
//  - Every byte that is not part of valid UTF-8 (a stray continuation byte, a cut or overlong
//    sequence, a surrogate, beyond U+10FFFF) is escaped as \xHH.
//  - In a name that holds at least one escape, a backslash is written \\ where it is followed by
//    n, r, t, x or another backslash, that is where it would read as an escape; elsewhere it stays.
//    Such a name is read back exactly by taking \\, \n, \r, \t and \xHH as escapes and any other
//    backslash as itself. A name without any escape is the name itself, so the escaped text of one
//    name can equal the plain text of another that holds "\n" literally: the price of leaving
//    every ordinary name as it was. Neither can start a line or reach a terminal as a control.
#pragma once

#include <string>
#include <string_view>

namespace quelix {

// `name` as it is shown to people; see above.
std::string ShownName(std::string_view name);

// `shown`, a name as ShownName() gives it, cut in its middle to at most `width` characters where
// it is longer ("/srv/www/...ges/index.htm"; below 5 characters only its start is kept). A
// character of several bytes, and an escape, is kept whole or left out whole: the cut never makes
// an invalid byte or half an escape.
std::string ShortenShown(std::string_view shown, size_t width);

}  // namespace quelix
