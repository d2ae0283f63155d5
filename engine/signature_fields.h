// Finding the signature line as a field: in a whole file, the way the scan reads it, and in a
// single line, the way the cleaning decides where the virus's lines end.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "runtime/text_files.h"

namespace quelix {

enum class FieldScan {
  kRead,        // the file was read to its end
  kUnreadable,  // reading failed again and again and was given up
  kStopped,     // `between` asked to stop
};

// Reads the file open for input on `channel` field by field and calls `on_match` for every field
// equal to `signature`. A file without the signature's bytes anywhere cannot hold such a field,
// so it is only searched for them, block by block. `between` runs after every block searched and
// every field read; reading stops when it returns false.
FieldScan ReadSignatureFields(TextFiles& files, int channel, const std::string& signature,
                              const std::function<bool()>& between,
                              const std::function<void()>& on_match);

// Tells whether one line, fed in parts, holds `signature` as one of its fields by the field
// reader's rule, the line taken on its own (a quote left open runs to the line's end).
class LineFieldMatcher {
 public:
  explicit LineFieldMatcher(const std::string& signature) : signature_(signature) {}
  void Feed(std::string_view part);
  // Ends the line; returns whether it held the signature as a field, and resets for the next.
  bool Finish();

 private:
  enum class State { kBlanks, kUnquoted, kQuoted, kAfterQuote };
  void EndField();
  void Keep(std::string& text, char c) const;
  // The index of the first `wanted` in `part` at or after `from`, or part.size().
  static size_t SkipTo(std::string_view part, size_t from, char wanted);

  const std::string& signature_;
  State state_ = State::kBlanks;
  std::string field_;           // the unquoted field so far, up to the signature's size + 1
  std::string pending_blanks_;  // blanks after field_ that belong to it only if text follows
  bool found_ = false;
};

}  // namespace quelix
