#include "engine/backup_format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace quelix {
namespace {

// `*value` from `text` when it is decimal digits only, no sign and no blank (at most 9 digits,
// which the callers see to).
bool ReadDigits(std::string_view text, unsigned* value) {
  if (text.empty()) return false;
  *value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    *value = *value * 10 + static_cast<unsigned>(c - '0');
  }
  return true;
}

std::string Escape(std::string_view field) {
  std::string out;
  for (const char c : field) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char c = field[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(Unescape(line.substr(start, tab - start)));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + Escape(field);
  return line;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

bool Unhex(std::string_view hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair(hex.substr(i, 2));
    const long value = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    *bytes += static_cast<char>(value);
  }
  return true;
}

bool ParseNumber(const std::string& text, uint64_t* value) {
  char* end = nullptr;
  *value = std::strtoull(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0';
}

}  // namespace

std::string ManifestLine(const ManifestEntry& e) {
  std::vector<std::string> fields = {e.path, std::to_string(e.size), e.sha256, e.owner,
                                     e.mode, e.cleaned_sha256,       e.time,   e.copy};
  if (e.identified) {
    fields.insert(fields.end(), {std::to_string(e.cleaned_volume),
                                 std::to_string(e.cleaned_file_id), e.cleaned_owner});
  }
  return Join(fields);
}

bool ParseManifestLine(std::string_view line, ManifestEntry* e) {
  const std::vector<std::string> f = Fields(line);
  if ((f.size() != 8 && f.size() != 11) || !ParseNumber(f[1], &e->size)) return false;
  e->identified = f.size() == 11;
  if (e->identified &&
      (!ParseNumber(f[8], &e->cleaned_volume) || !ParseNumber(f[9], &e->cleaned_file_id))) {
    return false;
  }
  if (e->identified) e->cleaned_owner = f[10];
  e->path = f[0];
  e->sha256 = f[2];
  e->owner = f[3];
  e->mode = f[4];
  e->cleaned_sha256 = f[5];
  e->time = f[6];
  e->copy = f[7];
  return true;
}

std::string WithdrawnLine(std::string_view copy) {
  return Join({"withdrawn", std::string(copy)});
}

bool ParseManifest(std::string_view text, std::vector<ManifestEntry>* entries) {
  entries->clear();
  for (const std::string& line : SplitLines(text)) {
    const std::vector<std::string> f = Fields(line);
    ManifestEntry entry;
    if (f.size() == 2 && f[0] == "withdrawn") {
      // The copy names the entry: each copy of a run has a name of its own.
      const auto withdrawn = std::find_if(entries->rbegin(), entries->rend(),
                                          [&](const ManifestEntry& e) { return e.copy == f[1]; });
      if (withdrawn != entries->rend()) entries->erase(std::next(withdrawn).base());
    } else if (ParseManifestLine(line, &entry)) {
      entries->push_back(std::move(entry));
    } else {
      return false;
    }
  }
  return true;
}

std::string RegistryLine(const RegistryEntry& e) {
  return Join({e.store, e.key, e.name, std::to_string(e.type), Hex(e.data), e.time});
}

bool ParseRegistryLine(std::string_view line, RegistryEntry* e) {
  const std::vector<std::string> f = Fields(line);
  uint64_t type = 0;
  if (f.size() != 6 || !ParseNumber(f[3], &type) || !Unhex(f[4], &e->data)) return false;
  e->store = f[0];
  e->key = f[1];
  e->name = f[2];
  e->type = static_cast<uint32_t>(type);
  e->time = f[5];
  return true;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    // A line the program was stopped while writing has no line feed yet, and does not count.
    if (end == std::string_view::npos) break;
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string RunLine(std::string_view key, std::string_view value) {
  return Join({std::string(key), std::string(value)});
}

std::string RootLine(const RunRoot& root) {
  return Join({"root", root.path, std::to_string(root.volume), std::to_string(root.file_id)});
}

RunRecord ParseRun(std::string_view text) {
  RunRecord run;
  for (const std::string& line : SplitLines(text)) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() == 2 && f[0] == "started") run.started = f[1];
    if (f[0] != "root" || (f.size() != 2 && f.size() != 4)) continue;
    RunRoot root{f[1]};
    // A root line with a damaged identity is kept without one: it is then never trusted.
    root.identified =
        f.size() == 4 && ParseNumber(f[2], &root.volume) && ParseNumber(f[3], &root.file_id);
    run.roots.push_back(std::move(root));
  }
  return run;
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
  const auto day = std::chrono::floor<std::chrono::days>(seconds);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss clock(seconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::string RunStamp(std::chrono::system_clock::time_point time) {
  std::string stamp;
  for (const char c : IsoTime(time)) {
    if (c != '-' && c != ':') stamp += c;
  }
  return stamp;
}

bool ParseRunStamp(std::string_view name, std::chrono::system_clock::time_point* time) {
  // Only a name as Begin writes one, "20261207T140512Z-1": a folder named otherwise by someone
  // else, however close, is not taken as a run to restore, list or prune.
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (name.size() < 18 || name.substr(8, 1) != "T" || name.substr(15, 2) != "Z-" ||
      !ReadDigits(name.substr(0, 4), &year) || !ReadDigits(name.substr(4, 2), &month) ||
      !ReadDigits(name.substr(6, 2), &day) || !ReadDigits(name.substr(9, 2), &hour) ||
      !ReadDigits(name.substr(11, 2), &minute) || !ReadDigits(name.substr(13, 2), &second)) {
    return false;
  }
  const std::string_view number = name.substr(17);
  unsigned run = 0;
  if (number.size() > 9 || !ReadDigits(number, &run) || run == 0 || number[0] == '0') return false;
  const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)),
                                         std::chrono::month(month), std::chrono::day(day)};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
  *time = std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
          std::chrono::seconds(second);
  return true;
}

}  // namespace quelix
