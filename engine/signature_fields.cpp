#include "engine/signature_fields.h"

namespace quelix {
namespace {

// Consecutive failed reads after which the rest of a file is given up.
constexpr int kMaxReadFailures = 3;

FieldScan ReadFields(TextFiles& files, int channel, const std::string& signature,
                     const std::function<bool()>& between, const std::function<void()>& on_match) {
  std::string field;
  bool longer = false;
  int failures = 0;
  for (;;) {
    // Only as much of a field as the signature is kept: a longer field cannot equal it.
    const Status read = files.ReadField(channel, &field, signature.size(), &longer);
    if (read.ok()) {
      failures = 0;
      if (!longer && field == signature) on_match();
    } else if (read.code() != ErrorCode::kEndOfInput && ++failures >= kMaxReadFailures) {
      return FieldScan::kUnreadable;
    }
    if (!between()) return FieldScan::kStopped;
    bool at_end = false;
    const Status tested = files.AtEnd(channel, &at_end);
    if (tested.code() == ErrorCode::kBadChannel) return FieldScan::kUnreadable;
    if (!tested.ok() && ++failures >= kMaxReadFailures) return FieldScan::kUnreadable;
    if (at_end) return FieldScan::kRead;
  }
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

FieldScan ReadSignatureFields(TextFiles& files, int channel, const std::string& signature,
                              const std::function<bool()>& between,
                              const std::function<void()>& on_match) {
  bool go_on = true;
  bool found = false;
  const Status searched = files.Contains(channel, signature, &found, [&] {
    go_on = between();
    return go_on;
  });
  if (!go_on) return FieldScan::kStopped;
  // Where the search could not read everything, read what can be read the exact way: the field
  // reader meets the same fault and gives up after its retries.
  if (!searched.ok() && !files.Rewind(channel).ok()) return FieldScan::kUnreadable;
  if (searched.ok() && !found) return between() ? FieldScan::kRead : FieldScan::kStopped;
  return ReadFields(files, channel, signature, between, on_match);
}

void LineFieldMatcher::Feed(std::string_view part) {
  for (size_t i = 0; i < part.size(); ++i) {
    const char c = part[i];
    switch (state_) {
      case State::kBlanks:
        if (IsBlank(c)) break;
        if (c == '"') {
          state_ = State::kQuoted;
          break;
        }
        if (c == ',') {
          EndField();
          break;
        }
        state_ = State::kUnquoted;
        [[fallthrough]];
      case State::kUnquoted:
        if (field_.size() > signature_.size()) {
          // Already longer than the signature: only the comma that ends the field matters, so
          // a line of any length is passed over quickly.
          i = SkipTo(part, i, ',');
          if (i < part.size()) EndField();
        } else if (c == ',') {
          EndField();
        } else if (IsBlank(c)) {
          Keep(pending_blanks_, c);  // inside the field only if text follows
        } else {
          for (const char blank : pending_blanks_) Keep(field_, blank);
          pending_blanks_.clear();
          Keep(field_, c);
        }
        break;
      case State::kQuoted:
        i = SkipTo(part, i, '"');
        if (i < part.size()) state_ = State::kAfterQuote;
        break;
      case State::kAfterQuote:
        i = SkipTo(part, i, ',');
        if (i < part.size()) state_ = State::kBlanks;
        break;
    }
  }
}

size_t LineFieldMatcher::SkipTo(std::string_view part, size_t from, char wanted) {
  const size_t found = part.find(wanted, from);
  return found == std::string_view::npos ? part.size() : found;
}

void LineFieldMatcher::Keep(std::string& text, char c) const {
  // One byte more than the signature is enough to know a field is longer.
  if (text.size() <= signature_.size()) text += c;
}

void LineFieldMatcher::EndField() {
  if (state_ == State::kUnquoted && field_ == signature_) found_ = true;
  field_.clear();
  pending_blanks_.clear();
  state_ = State::kBlanks;
}

bool LineFieldMatcher::Finish() {
  EndField();
  const bool found = found_;
  found_ = false;
  return found;
}

}  // namespace quelix
