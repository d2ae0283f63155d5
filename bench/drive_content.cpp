#include "bench/drive_content.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "bench/drive_generator.h"

namespace quelix::bench {
namespace {

constexpr size_t kBlock = 256 * 1024;  // the block size the scan reads with

std::string Format(const char* pattern, size_t a, size_t b, size_t c) {
  char line[256];
  std::snprintf(line, sizeof line, pattern, a, b, c);
  return line;
}

// True when every field of `line` that opens with a double quote also closes on the line, so
// that no field runs on into the next line and swallows whatever is planted there.
bool QuotesCloseOnTheLine(std::string_view line) {
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i < line.size() && line[i] == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      i = close + 1;
    }
    const size_t comma = line.find(',', i);
    if (comma == std::string_view::npos) return true;
    i = comma + 1;
  }
}

struct Pools {
  std::array<std::vector<std::string>, 3> lines;  // html, script, text
};

const Pools& FillerPools() {
  static const Pools pools = [] {
    const std::array<std::vector<const char*>, 3> templates = {{
        {"<p class=\"text\">Welcome to our site, we hope you enjoy page %zu.</p>",
         "<a href=\"page%zu.htm\">Page %zu</a><br>",
         "<td align=\"left\" width=\"%zu\">item %zu, price %zu</td>",
         "<img src=\"images/pic%zu.jpg\" width=\"%zu\" height=\"%zu\" alt=\"\">",
         "<div id=\"nav%zu\">", "</div>", "<tr>", "</tr>",
         "<table border=\"0\" cellpadding=\"%zu\">",
         "  <li><a href=\"/docs/%zu.html\">Chapter %zu</a></li>", "<!-- generated %zu -->",
         "<script language=\"JavaScript\">var n = %zu, m = \"x%zu\";</script>",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
         "<%% Response.Write(\"Hello \" & name%zu) %%>", "<?php echo $row[%zu], $col[%zu]; ?>",
         "\t<input type=\"hidden\" name=\"f%zu\" value=\"%zu\">", ""},
        {"Dim x%zu, y%zu", "Set fso = CreateObject(\"Scripting.FileSystemObject\")",
         "var a%zu = %zu;", "function f%zu(a, b) { return a + b * %zu; }", "WScript.Echo \"done\"",
         "If x > %zu Then", "End If", "' comment %zu", "  call Run(%zu, %zu)"},
        {"Lorem ipsum dolor sit amet, consectetur adipiscing elit %zu.", "%zu,%zu,%zu,name",
         "body { margin: %zupx; font-family: Arial, sans-serif; }",
         "{\"id\": %zu, \"name\": \"n%zu\"}", "[section%zu]", "key%zu=value %zu", ""},
    }};
    Pools built;
    Rng rng(0x5eed);
    for (size_t k = 0; k < templates.size(); ++k) {
      for (int i = 0; i < 400; ++i) {
        const char* t = templates[k][rng.Below(templates[k].size())];
        std::string line = Format(t, rng.Below(5000), rng.Below(800), rng.Below(100));
        if (!QuotesCloseOnTheLine(line) || line.find("document.write") != std::string::npos) {
          std::fprintf(stderr, "gen_drive: unsafe filler line: %s\n", line.c_str());
          std::abort();
        }
        built.lines[k].push_back(std::move(line));
      }
    }
    return built;
  }();
  return pools;
}

const std::vector<std::string>& LinesFor(ContentKind kind) {
  const Pools& pools = FillerPools();
  return kind == ContentKind::kScript ? pools.lines[1]
         : kind == ContentKind::kText ? pools.lines[2]
                                      : pools.lines[0];
}

// Appends whole filler lines until at least `n` more bytes were added.
void Filler(Rng& rng, ContentKind kind, size_t n, const std::string& le, std::string* out) {
  const std::vector<std::string>& lines = LinesFor(kind);
  const size_t stop = out->size() + n;
  while (out->size() < stop) {
    out->append(lines[rng.Below(lines.size())]);
    out->append(le);
  }
}

// Appends filler so that `*out` ends exactly at `target` bytes, after a line end where possible.
void FillTo(Rng& rng, ContentKind kind, size_t target, const std::string& le, std::string* out) {
  const std::vector<std::string>& lines = LinesFor(kind);
  for (;;) {
    const std::string& line = lines[rng.Below(lines.size())];
    if (out->size() + line.size() + 2 * le.size() + 8 > target) break;
    out->append(line);
    out->append(le);
  }
  const size_t left = target - out->size();
  if (left < le.size()) {
    out->append(left, ' ');  // blanks before the next line's text are skipped
    return;
  }
  out->append(left - le.size(), 'x');
  out->append(le);
}

void RandomBytes(Rng& rng, size_t n, bool quotes, std::string* out) {
  const size_t start = out->size();
  out->resize(start + n);
  char* data = out->data() + start;
  for (size_t i = 0; i < n; i += 8) {
    const uint64_t v = rng.Next();
    std::memcpy(data + i, &v, std::min<size_t>(8, n - i));
  }
  if (!quotes) std::replace(data, data + n, '"', '\0');
}

std::string Blanks(Rng& rng) {
  std::string blanks;
  for (size_t n = rng.Between(1, 6); n > 0; --n) blanks.push_back(rng.Chance(0.7) ? ' ' : '\t');
  return blanks;
}

std::string CaseChanged(Rng& rng, std::string line) {
  for (;;) {
    char& c = line[rng.Below(line.size())];
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    else
      continue;
    return line;
  }
}

// Appends the planted lines of a text file.
void AppendPlant(Rng& rng, ContentKind kind, Plant plant, const std::string& le, std::string* out) {
  const std::string sig = BenchSignature();
  if (!IsNearMiss(plant) || rng.Chance(0.5)) out->append(BenchMarker() + le);
  switch (plant) {
    case Plant::kPlain:
      *out += sig + le;
      break;
    case Plant::kLeadingBlanks:
      *out += Blanks(rng) + sig + le;
      break;
    case Plant::kCommaMore:
      *out += sig + (rng.Chance(0.5) ? ",more" : ",more,text") + le;
      break;
    case Plant::kAfterField:
      *out += (rng.Chance(0.5) ? "x," : "x, ") + sig + le;
      break;
    case Plant::kTwice:
      *out += sig + le;
      Filler(rng, kind, rng.Below(200), le, out);
      *out += Blanks(rng) + sig + le;
      break;
    case Plant::kTrailingBlanks:
      *out += sig + Blanks(rng) + le;
      break;
    case Plant::kAtEnd:
      *out += sig;
      break;
    case Plant::kCaseChanged:
      *out += CaseChanged(rng, sig) + le;
      break;
    case Plant::kTruncated:
      *out += sig.substr(0, rng.Between(1, sig.size() - 1));
      break;
    case Plant::kQuotedSpan:
      *out += "\"a note that goes on" + le + sig + le;
      break;
    case Plant::kExtraText:
      *out += sig + (rng.Chance(0.5) ? " more" : ";") + le;
      break;
    default:
      break;
  }
}

}  // namespace

std::string BenchSignature() {
  const std::string q = "\"", joint = "\"&\"";
  return "document.write " + q +
         "<div style='position:absolute; left:0px; top:0px; width:0px; height:0px; z-index:28; "
         "visibility: hidden'><" +
         joint + "APPLET NAME=KJ" + joint + "_guest HEIGHT=0 WIDTH=0 code=com.ms." + joint +
         "activeX.Active" + joint + "XComponent></APPLET></div>" + q;
}

std::string BenchMarker() {
  return "<BODY onload=\"vbscript:KJ_start()\">";
}

size_t PlantedFields(Plant plant) {
  if (plant == Plant::kNone || IsNearMiss(plant)) return 0;
  return plant == Plant::kTwice ? 2 : 1;
}

bool IsNearMiss(Plant plant) {
  return plant >= Plant::kCaseChanged && plant < Plant::kCount;
}

void MakeContent(Rng& rng, ContentKind kind, Plant plant, size_t size, std::string* out) {
  out->clear();
  const size_t pick = rng.Below(20);
  const std::string le = pick < 12 ? "\r\n" : pick < 19 ? "\n" : "\r";
  if (kind == ContentKind::kBinary) {
    if (plant == Plant::kNone) return RandomBytes(rng, size, true, out);
    // No quote in the data around it: a quote would open a field that runs over the line.
    RandomBytes(rng, size / 2, false, out);
    out->push_back('\n');
    out->append(BenchSignature());
    out->push_back('\n');
    return RandomBytes(rng, size / 2, false, out);
  }
  if (plant == Plant::kStraddle) {
    Filler(rng, kind, rng.Below(kBlock / 2), le, out);
    *out += BenchMarker() + le;
    FillTo(rng, kind, kBlock - rng.Between(1, BenchSignature().size() - 1), le, out);
    *out += BenchSignature() + le;
    return Filler(rng, kind, size > out->size() ? size - out->size() : 0, le, out);
  }
  if (plant == Plant::kNone) return Filler(rng, kind, size, le, out);
  Filler(rng, kind, static_cast<size_t>(static_cast<double>(size) * rng.Unit() * 0.9), le, out);
  AppendPlant(rng, kind, plant, le, out);
  if (plant == Plant::kAtEnd || plant == Plant::kTruncated) return;
  Filler(rng, kind, size > out->size() ? size - out->size() : 0, le, out);
}

std::string DirectoryName(Rng& rng) {
  static constexpr std::array<const char*, 24> kWords = {
      "web",    "www",   "site",    "images",  "css",      "scripts", "docs",      "Documents",
      "backup", "old",   "archive", "inetpub", "wwwroot",  "cgi-bin", "include",   "lib",
      "data",   "users", "htdocs",  "temp",    "projects", "Windows", "templates", "media"};
  static constexpr std::array<const char*, 6> kOdd = {"My Web Sites",
                                                      "Donn\xc3\xa9"
                                                      "es",
                                                      "caf\xe9",
                                                      ".cache",
                                                      "Temporary Internet Files",
                                                      "\xc3\x9c"
                                                      "bersicht 2003"};
  std::string name =
      rng.Chance(0.04) ? kOdd[rng.Below(kOdd.size())] : kWords[rng.Below(kWords.size())];
  if (rng.Chance(0.5)) name += std::to_string(rng.Below(100));
  return name;
}

std::string FileStem(Rng& rng) {
  static constexpr std::array<const char*, 16> kWords = {
      "index",  "default", "page",  "news",   "about",  "contact", "img",   "DSC",
      "report", "main",    "login", "search", "Thumbs", "readme",  "setup", "style"};
  static constexpr std::array<const char*, 5> kOdd = {"my page", "r\xc3\xa9sum\xc3\xa9",
                                                      "\xe9t\xe9", ".hidden", " lead"};
  if (rng.Chance(0.002)) return "";  // a name that is all extension: ".htm"
  std::string stem =
      rng.Chance(0.04) ? kOdd[rng.Below(kOdd.size())] : kWords[rng.Below(kWords.size())];
  if (rng.Chance(0.8)) stem += std::to_string(rng.Below(10000));
  return stem;
}

size_t CountSignatureFields(std::string_view text, std::string_view signature) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  auto line_end = [](char c) { return c == '\r' || c == '\n'; };
  // Moves past the comma or the line end at `i`, if any.
  auto past_delimiter = [&](size_t i) {
    if (i >= text.size()) return i;
    if (text[i] == ',' || text[i] == '\n') return i + 1;
    if (text[i] == '\r') return i + 1 < text.size() && text[i + 1] == '\n' ? i + 2 : i + 1;
    return i;
  };
  auto next_delimiter = [&](size_t i) {
    while (i < text.size() && text[i] != ',' && !line_end(text[i])) ++i;
    return i;
  };
  size_t count = 0;
  size_t i = 0;
  for (;;) {
    while (i < text.size() && blank(text[i])) ++i;
    if (i == text.size()) return count;
    if (line_end(text[i])) {
      i = past_delimiter(i);
      continue;
    }
    std::string_view field;
    if (text[i] == '"') {
      const size_t close = text.find('"', i + 1);
      const size_t stop = close == std::string_view::npos ? text.size() : close;
      field = text.substr(i + 1, stop - i - 1);
      i = past_delimiter(next_delimiter(std::min(text.size(), stop + 1)));
    } else {
      const size_t stop = next_delimiter(i);
      size_t end = stop;
      while (end > i && blank(text[end - 1])) --end;
      field = text.substr(i, end - i);
      i = past_delimiter(stop);
    }
    if (field == signature) ++count;
  }
}

bool MatchesCandidatePattern(std::string_view name, size_t* pattern) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "folder.htt") {
    *pattern = 5;
    return true;
  }
  const size_t dot = lower.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view ext = std::string_view(lower).substr(dot + 1);
  static constexpr std::array<std::string_view, 5> kExtensions = {"htm", "asp", "php", "jsp",
                                                                  "vbs"};
  for (size_t i = 0; i < kExtensions.size(); ++i) {
    if (ext.substr(0, 3) == kExtensions[i]) {
      *pattern = i;
      return true;
    }
  }
  return false;
}

}  // namespace quelix::bench
