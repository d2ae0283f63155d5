#include "cli/report.h"

#include <cstdio>

#include "runtime/shown_name.h"

namespace quelix {
namespace {

// The length of the valid UTF-8 sequence that starts at `at`; 0 where it is not one (a stray
// continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t code = 0;
  uint32_t least = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, least = 0x80, code = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, least = 0x800, code = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, least = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3f);
  }
  if (code < least || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
  return length;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

std::string Field(const char* name, const std::string& value) {
  return std::string(",\"") + name + "\":" + JsonString(value);
}

std::string Field(const char* name, uint64_t value) {
  return std::string(",\"") + name + "\":" + std::to_string(value);
}

std::string ValueFields(const RegistryValueRef& value) {
  return Field("value", value.FullName()) + Field("store", value.store) + Field("key", value.key) +
         Field("name", value.value);
}

const char* EventName(FileEvent::Kind kind) {
  switch (kind) {
    case FileEvent::Kind::kCleaned:
      return "cleaned";
    case FileEvent::Kind::kNotCleaned:
      return "not_cleaned";
    case FileEvent::Kind::kSkipped:
      return "skipped";
    case FileEvent::Kind::kUnreadable:
      return "could_not_read";
    case FileEvent::Kind::kUnsearched:
      break;
  }
  return "could_not_search";
}

std::string OtherNames(const FileEvent& event) {
  const uint64_t n = event.other_names;
  return std::to_string(n) +
         (n == 1 ? " other name (hard link) of " : " other names (hard links) of ") +
         ShownName(event.path) + (n == 1 ? " still holds the virus" : " still hold the virus");
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string json = "\"";
  for (size_t at = 0; at < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[at]);
    const size_t length = Utf8Length(bytes, at);
    if (length == 0) {
      json += "\\udc" + Hex4(c).substr(2);
    } else if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\r') {
      json += "\\r";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c == '\b') {
      json += "\\b";
    } else if (c == '\f') {
      json += "\\f";
    } else if (c < 0x20 || c == 0x7f) {
      json += "\\u" + Hex4(c);
    } else {
      json.append(bytes.substr(at, length));
    }
    at += length == 0 ? 1 : length;
  }
  return json + "\"";
}

Reporter::Reporter(std::ostream& out, std::ostream& err, bool json, bool quiet)
    : out_(out), err_(err), json_(json), quiet_(quiet) {}

void Reporter::Result(const std::string& text, const std::string& json_fields) {
  if (json_) {
    out_ << "{" << json_fields.substr(1) << "}\n" << std::flush;
  } else {
    out_ << text << '\n' << std::flush;
  }
}

void Reporter::Problem(const std::string& text) {
  err_ << "quelix: " << text << '\n' << std::flush;
}

void Reporter::Found(const std::string& path) {
  Result(ShownName(path), Field("event", "found") + Field("path", path));
}

void Reporter::Tell(const FileEvent& event) {
  const std::string shown = ShownName(event.path);
  const std::string reason = ShownName(event.reason);
  switch (event.kind) {
    case FileEvent::Kind::kCleaned:
      ++cleaned_;
      Result("cleaned " + shown, Field("event", "cleaned") + Field("path", event.path) +
                                     Field("other_names", event.other_names));
      if (event.other_names > 0) Problem(OtherNames(event));
      return;
    case FileEvent::Kind::kNotCleaned:
      ++not_cleaned_;
      Problem("could not clean " + shown + ": " + reason);
      break;
    case FileEvent::Kind::kSkipped:
      ++skipped_;
      if (quiet_) return;
      Problem("skipped " + shown + ": " + reason);
      break;
    case FileEvent::Kind::kUnreadable:
      Problem("could not read " + shown + ": " + reason);
      break;
    case FileEvent::Kind::kUnsearched:
      Problem("could not search " + shown + ": " + reason);
      break;
  }
  Event(event);
}

void Reporter::Event(const FileEvent& event) {
  if (!json_) return;
  Result({}, Field("event", EventName(event.kind)) + Field("path", event.path) +
                 Field("reason", event.reason));
}

void Reporter::RootUnsearched(const std::string& path, const std::string& reason) {
  Problem("cannot search " + ShownName(path) + ": " + ShownName(reason));
  Event({FileEvent::Kind::kUnsearched, path, reason});
}

void Reporter::NamesLeft(const OtherNamesLeft& left, const std::string& path) {
  const std::string of = ShownName(left.cleaned);
  for (const std::string& name : left.below) {
    Problem("still infected " + ShownName(name) + ": another name (hard link) of " + of);
    if (json_) {
      Result({}, Field("event", "other_name") + Field("path", name) + Field("of", left.cleaned));
    }
  }
  const uint64_t n = left.elsewhere();
  if (n == 0) return;
  Problem("and " + std::to_string(n) + (n == 1 ? " other name of " : " other names of ") + of +
          " not found below " + ShownName(path));
  if (json_) {
    Result({},
           Field("event", "other_names_elsewhere") + Field("of", left.cleaned) + Field("count", n));
  }
}

void Reporter::RegistryFound(const RegistryValueRef& value) {
  Result("registry " + ShownName(value.FullName()),
         Field("event", "registry_found") + ValueFields(value));
}

void Reporter::RegistryDeleted(const RegistryValueRef& value) {
  Result("deleted " + ShownName(value.FullName()),
         Field("event", "registry_deleted") + ValueFields(value));
}

void Reporter::RegistryNotDeleted(const RegistryValueRef& value, const std::string& reason) {
  // Said where a script reads what went wrong, as a file not cleaned is; the JSON object stays
  // among the other events.
  Problem("not deleted " + ShownName(value.FullName()) + ": " + ShownName(reason));
  if (json_) {
    Result({},
           Field("event", "registry_not_deleted") + ValueFields(value) + Field("reason", reason));
  }
}

void Reporter::Kept(const std::string& run) {
  if (run.empty() || run == kept_) return;
  kept_ = run;
  Result("kept " + ShownName(run), Field("event", "kept") + Field("run", run));
}

void Reporter::Watching(const std::string& path, size_t folders, const std::string& method) {
  // A watch of the whole file system (fanotify) keeps no folders to count.
  err_ << "quelix: watching " << ShownName(path) << " (";
  if (folders > 0) err_ << folders << (folders == 1 ? " folder, " : " folders, ");
  err_ << method << ")\n" << std::flush;
  if (json_) {
    Result({}, Field("event", "watching") + Field("path", path) +
                   Field("folders", static_cast<uint64_t>(folders)) + Field("method", method));
  }
}

void Reporter::NotWatched(const std::string& folder, const std::string& reason) {
  Problem("could not watch " + ShownName(folder) + ": " + ShownName(reason));
  if (json_) {
    Result({}, Field("event", "could_not_watch") + Field("path", folder) + Field("reason", reason));
  }
}

void Reporter::Missed(const std::string& reason) {
  Problem("some changes were not seen (" + ShownName(reason) +
          "): quelix scan checks what they brought");
  if (json_) Result({}, Field("event", "missed") + Field("reason", reason));
}

void Reporter::NotChecked(const std::string& path, const std::string& reason) {
  Problem("not checked (" + ShownName(reason) + "): " + ShownName(path));
  if (json_) {
    Result({}, Field("event", "not_checked") + Field("path", path) + Field("reason", reason));
  }
}

void Reporter::Summary(const RunCounts& c) {
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", c.seconds);
  err_ << "checked " << c.checked << " files in " << took << " s: " << c.infected << " infected, "
       << c.unreadable << " could not be read";
  // Said only where it happened, so that the summary of a complete walk reads as it always did.
  if (c.unsearched > 0) {
    err_ << ", " << c.unsearched << (c.unsearched == 1 ? " folder" : " folders")
         << " could not be searched";
  }
  if (c.skipped > 0) err_ << ", " << c.skipped << " skipped";
  err_ << '\n' << std::flush;
  if (!json_) return;
  std::snprintf(took, sizeof took, "%.3f", c.seconds);
  out_ << "{\"event\":\"summary\"" << Field("command", c.command) << Field("checked", c.checked)
       << Field("infected", c.infected) << Field("could_not_read", c.unreadable)
       << Field("could_not_search", c.unsearched) << Field("skipped", c.skipped)
       << Field("cleaned", c.cleaned) << Field("not_cleaned", c.not_cleaned)
       << ",\"seconds\":" << took << ",\"stopped\":" << (c.stopped ? "true" : "false")
       << Field("exit_status", static_cast<uint64_t>(c.exit_status)) << "}\n"
       << std::flush;
}

}  // namespace quelix
