#include "bench/drive_generator.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "bench/drive_content.h"

namespace quelix::bench {
namespace {

constexpr size_t kBlock = 256 * 1024;
// How the folders spread over the levels: most three to six levels down, a few deeper; levels
// beyond the table share its last weight.
constexpr std::array<double, 10> kDepthWeights = {6, 14, 20, 20, 15, 10, 7, 4, 2, 2};

double DepthWeight(int depth) {
  return kDepthWeights[std::min<size_t>(static_cast<size_t>(depth - 1), kDepthWeights.size() - 1)];
}

struct PlannedDir {
  std::string rel;  // "" for the root, else "a/b"
  int depth = 0;
};

struct PlannedFile {
  size_t dir = 0;
  std::string name;
  ContentKind kind = ContentKind::kText;
  Plant plant = Plant::kNone;
  size_t size = 0;
  bool candidate = false;
};

struct Extension {
  const char* text;
  ContentKind kind;
  double weight;
};

// Web pages and scripts make up about 40% of the files, as on a drive that serves a web site.
constexpr std::array<Extension, 23> kExtensions = {{
    {".htm", ContentKind::kHtml, 12},   {".html", ContentKind::kHtml, 10},
    {".HTM", ContentKind::kHtml, 1},    {".asp", ContentKind::kHtml, 4},
    {".aspx", ContentKind::kHtml, 2},   {".php", ContentKind::kHtml, 6},
    {".php3", ContentKind::kHtml, 0.5}, {".jsp", ContentKind::kHtml, 2},
    {".vbs", ContentKind::kScript, 1},  {".txt", ContentKind::kText, 10},
    {".css", ContentKind::kText, 5},    {".js", ContentKind::kScript, 6},
    {".xml", ContentKind::kText, 3},    {".csv", ContentKind::kText, 2},
    {".ini", ContentKind::kText, 2},    {".jpg", ContentKind::kBinary, 12},
    {".gif", ContentKind::kBinary, 6},  {".png", ContentKind::kBinary, 4},
    {".dll", ContentKind::kBinary, 5},  {".exe", ContentKind::kBinary, 2},
    {".pdf", ContentKind::kBinary, 2},  {"", ContentKind::kText, 1},
    {".bak", ContentKind::kText, 1},
}};

class Planner {
 public:
  explicit Planner(const DriveSpec& spec) : spec_(spec), rng_(spec.seed) {}
  void Plan();
  std::vector<PlannedDir> dirs;
  std::vector<PlannedFile> files;

 private:
  size_t AddDir(size_t parent, const std::string& name);
  void AddFile(size_t dir, std::string stem, const Extension& ext);
  void PlanDirectories();
  void PlanFiles();
  void PlanSizes();
  void PlanPlants();
  // `name` lengthened with more words to about spec_.name_length bytes, where that is asked for.
  std::string Long(std::string name);
  std::string Rel(size_t dir, const std::string& name) const {
    return dirs[dir].rel.empty() ? name : dirs[dir].rel + "/" + name;
  }

  const DriveSpec& spec_;
  Rng rng_;
  std::unordered_set<std::string> taken_;
};

size_t Planner::AddDir(size_t parent, const std::string& name) {
  std::string rel = Rel(parent, name);
  for (int n = 2; !taken_.insert(rel).second; ++n)
    rel = Rel(parent, name + " (" + std::to_string(n) + ")");
  dirs.push_back({rel, dirs[parent].depth + 1});
  return dirs.size() - 1;
}

void Planner::AddFile(size_t dir, std::string stem, const Extension& ext) {
  if (stem.empty() && ext.text[0] == '\0') stem = "README";
  std::string name = stem + ext.text;
  for (int n = 2; !taken_.insert(Rel(dir, name)).second; ++n) {
    name = stem + "_" + std::to_string(n) + ext.text;
  }
  PlannedFile file;
  file.dir = dir;
  size_t pattern = 0;
  file.candidate = MatchesCandidatePattern(name, &pattern);
  file.name = std::move(name);
  file.kind = ext.kind;
  files.push_back(std::move(file));
}

std::string Planner::Long(std::string name) {
  static constexpr std::array<const char*, 8> kWords = {
      "archive", "Project", "customer", "2004", "final version", "copy", "Old site", "draft"};
  while (name.size() + 1 < spec_.name_length) {
    name += rng_.Chance(0.5) ? " " : "_";
    name += kWords[rng_.Below(kWords.size())];
  }
  // Room is left for an extension and a " (2)" within the 255 bytes a name may have.
  if (name.size() > 200) name.resize(200);
  return name;
}

void Planner::PlanDirectories() {
  dirs.push_back({"", 0});
  const int max_depth = std::max(1, spec_.depth);
  std::vector<std::vector<size_t>> by_depth(static_cast<size_t>(max_depth) + 1);
  by_depth[0].push_back(0);
  double total = 0;
  for (int depth = 1; depth <= max_depth; ++depth) total += DepthWeight(depth);
  const size_t count =
      std::max<size_t>(8, spec_.directories > 0 ? spec_.directories : spec_.files / 30);
  for (size_t i = 1; i < count; ++i) {
    double pick = rng_.Unit() * total;
    int depth = 1;
    while (depth < max_depth && pick >= DepthWeight(depth)) pick -= DepthWeight(depth++);
    while (by_depth[depth - 1].empty()) --depth;
    const std::vector<size_t>& parents = by_depth[depth - 1];
    const size_t dir = AddDir(parents[rng_.Below(parents.size())], Long(DirectoryName(rng_)));
    by_depth[depth].push_back(dir);
  }
  // Directories named like candidates: listed by the search, but nothing to read.
  for (const char* name : {"old.htm", "Backup.ASP", "site.php3"}) {
    AddDir(rng_.Below(dirs.size()), name);
  }
}

const Extension& PickExtension(Rng& rng) {
  double total = 0;
  for (const Extension& e : kExtensions) total += e.weight;
  double pick = rng.Unit() * total;
  for (const Extension& e : kExtensions) {
    if (pick < e.weight) return e;
    pick -= e.weight;
  }
  return kExtensions.back();
}

void Planner::PlanFiles() {
  // A few directories with thousands of entries (a photo folder, a cache); the rest share the
  // other files evenly, tens per directory.
  size_t left = spec_.files;
  if (spec_.largest > 0) {
    const size_t dir = rng_.Below(dirs.size());
    for (size_t n = std::min(left, spec_.largest); n > 0; --n, --left) {
      AddFile(dir, Long(FileStem(rng_)), PickExtension(rng_));
    }
  }
  const size_t big = spec_.files / 25000;
  for (size_t i = 0; i < big && left > 0; ++i) {
    const size_t dir = rng_.Below(dirs.size());
    const size_t most = std::max<size_t>(spec_.max_entries, 2);
    for (size_t n = std::min(left, rng_.Between(most / 3, most)); n > 0; --n, --left) {
      AddFile(dir, Long(FileStem(rng_)), PickExtension(rng_));
    }
  }
  const Extension folder_htt{"", ContentKind::kHtml, 0};
  for (size_t dir = 0; dir < dirs.size() && left > 0; ++dir) {
    if (!rng_.Chance(0.05)) continue;
    static constexpr std::array<const char*, 3> kNames = {"folder.htt", "FOLDER.HTT", "Folder.htt"};
    AddFile(dir, kNames[rng_.Below(kNames.size())], folder_htt);
    --left;
  }
  for (; left > 0; --left) {
    AddFile(rng_.Below(dirs.size()), Long(FileStem(rng_)), PickExtension(rng_));
  }
}

void Planner::PlanSizes() {
  // Mostly 1 to 64 KiB, some up to 1 MiB, a few up to 8 MiB; then scaled to the total asked for.
  std::vector<double> shape(files.size());
  double sum = 0;
  for (double& s : shape) {
    const double pick = rng_.Unit();
    const double lo = pick < 0.002 ? 1 << 20 : pick < 0.042 ? 64 << 10 : 1 << 10;
    const double hi = pick < 0.002 ? 8 << 20 : pick < 0.042 ? 1 << 20 : 64 << 10;
    s = lo * std::pow(hi / lo, rng_.Unit());
    sum += s;
  }
  const double scale = sum > 0 ? static_cast<double>(spec_.bytes) / sum : 1;
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].size = std::max<size_t>(64, static_cast<size_t>(shape[i] * scale));
  }
}

void Planner::PlanPlants() {
  std::vector<size_t> text_candidates;  // every candidate, by index
  for (size_t i = 0; i < files.size(); ++i) {
    PlannedFile& f = files[i];
    if (!f.candidate) {
      // A non-candidate holding the signature must not be listed.
      if (f.kind != ContentKind::kBinary && rng_.Chance(0.003)) f.plant = Plant::kPlain;
      continue;
    }
    text_candidates.push_back(i);
    if (rng_.Chance(0.01)) f.kind = ContentKind::kBinary;  // a page that is not text at all
    const double pick = rng_.Unit();
    if (pick < 0.01) {
      // Infections: most are the plain case, the rest spread over the variants.
      const size_t variant = rng_.Below(12);
      f.plant = variant < 4 ? Plant::kPlain : static_cast<Plant>(variant - 3);
      if (f.plant == Plant::kStraddle || f.plant == Plant::kBinary) f.plant = Plant::kPlain;
    } else if (pick < 0.016) {
      f.plant = static_cast<Plant>(static_cast<int>(Plant::kCaseChanged) + rng_.Below(4));
    }
    if (f.kind == ContentKind::kBinary && f.plant != Plant::kNone) {
      if (IsNearMiss(f.plant))
        f.kind = ContentKind::kHtml;
      else
        f.plant = Plant::kBinary;
    }
  }
  // Every kind of plant at least once, also on a small drive.
  const size_t each = std::max<size_t>(1, text_candidates.size() / 20000);
  for (int p = static_cast<int>(Plant::kPlain); p < static_cast<int>(Plant::kCount); ++p) {
    for (size_t n = 0; n < each && !text_candidates.empty(); ++n) {
      // Prefer a candidate that holds no plant yet, so that no kind is overwritten by another.
      size_t pick = text_candidates[rng_.Below(text_candidates.size())];
      for (int tries = 0; tries < 20 && files[pick].plant != Plant::kNone; ++tries) {
        pick = text_candidates[rng_.Below(text_candidates.size())];
      }
      PlannedFile& f = files[pick];
      f.plant = static_cast<Plant>(p);
      f.kind = f.plant == Plant::kBinary ? ContentKind::kBinary : ContentKind::kHtml;
      if (f.plant == Plant::kStraddle) f.size = kBlock + rng_.Between(1 << 10, 64 << 10);
    }
  }
}

void Planner::Plan() {
  PlanDirectories();
  PlanFiles();
  // An infected page inside a directory named like a candidate.
  AddFile(dirs.size() - 3, "index", kExtensions[0]);
  PlanSizes();
  PlanPlants();
  files.back().plant = Plant::kPlain;
}

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteWhole(const std::string& path, const std::string& data, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return *error = ErrnoText("cannot create", path), false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = ErrnoText("cannot write", path);
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) return *error = ErrnoText("cannot close", path), false;
  return true;
}

// One directory as readdir lists it: the entries matching a pattern, then the subdirectories.
struct Listing {
  std::vector<std::pair<std::string, size_t>> matches;  // name, pattern index
  std::vector<std::pair<std::string, std::unique_ptr<Listing>>> subdirectories;
};

std::unique_ptr<Listing> ListTree(const std::string& dir) {
  auto listing = std::make_unique<Listing>();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return listing;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    size_t pattern = 0;
    if (MatchesCandidatePattern(name, &pattern)) listing->matches.emplace_back(name, pattern);
    bool is_dir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      is_dir =
          ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    if (is_dir) listing->subdirectories.emplace_back(name, nullptr);
  }
  ::closedir(d);
  for (auto& [name, child] : listing->subdirectories) child = ListTree(dir + name + "/");
  return listing;
}

// One pattern's walk: a directory's matches, then its subdirectories', in listing order.
void Replay(const Listing& listing, const std::string& dir, size_t pattern,
            const std::unordered_map<std::string, size_t>& fields, DriveReport* report) {
  for (const auto& [name, p] : listing.matches) {
    if (p != pattern) continue;
    const auto it = fields.find(dir + name);
    if (it == fields.end()) continue;  // a directory named like a candidate
    report->candidates.push_back(dir + name);
    report->expected.insert(report->expected.end(), it->second, dir + name);
  }
  for (const auto& [name, child] : listing.subdirectories) {
    Replay(*child, dir + name + "/", pattern, fields, report);
  }
}

bool WriteList(const std::string& path, const std::vector<std::string>& lines, std::string* error) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return WriteWhole(path, text, error);
}

}  // namespace

bool GenerateDrive(const std::string& outdir, const DriveSpec& spec, DriveReport* report,
                   std::string* error) {
  std::string out = outdir;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  *report = DriveReport{};
  report->root = out + "/drive";
  ::mkdir(out.c_str(), 0755);
  Planner planner(spec);
  planner.Plan();
  for (const PlannedDir& dir : planner.dirs) {
    const std::string path = dir.rel.empty() ? report->root : report->root + "/" + dir.rel;
    if (::mkdir(path.c_str(), 0755) != 0) return *error = ErrnoText("cannot create", path), false;
  }
  report->directories = planner.dirs.size() - 1;
  // How many signature fields each candidate holds, by the path the walk gives it.
  std::unordered_map<std::string, size_t> fields;
  Rng rng(spec.seed ^ 0xC0FFEE);
  std::string content;
  const std::string signature = BenchSignature();
  for (const PlannedFile& f : planner.files) {
    MakeContent(rng, f.kind, f.plant, f.size, &content);
    const size_t planted = PlantedFields(f.plant);
    if (f.plant != Plant::kNone && CountSignatureFields(content, signature) != planted) {
      *error = "generator fault: the field count of a planted file differs from the plan";
      return false;
    }
    const std::string& rel = planner.dirs[f.dir].rel;
    const std::string path = report->root + "/" + (rel.empty() ? "" : rel + "/") + f.name;
    if (!WriteWhole(path, content, error)) return false;
    ++report->files;
    report->bytes += content.size();
    if (!f.candidate) continue;
    fields[path] = planted;
    ++report->candidate_files;
    report->candidate_bytes += content.size();
    report->infected_files += planted > 0;
    report->near_misses += IsNearMiss(f.plant);
  }
  const std::unique_ptr<Listing> tree = ListTree(report->root + "/");
  for (size_t pattern = 0; pattern < 6; ++pattern) {
    Replay(*tree, report->root + "/", pattern, fields, report);
  }
  if (report->candidates.size() != report->candidate_files) {
    *error = "the listing of the written tree misses candidates";
    return false;
  }
  const std::string summary = "files=" + std::to_string(report->files) +
                              " directories=" + std::to_string(report->directories) +
                              " bytes=" + std::to_string(report->bytes) +
                              " candidates=" + std::to_string(report->candidate_files) +
                              " candidate_bytes=" + std::to_string(report->candidate_bytes) +
                              " infected_files=" + std::to_string(report->infected_files) +
                              " expected_entries=" + std::to_string(report->expected.size()) +
                              " near_misses=" + std::to_string(report->near_misses) + "\n";
  return WriteList(out + "/expected.txt", report->expected, error) &&
         WriteList(out + "/candidates.txt", report->candidates, error) &&
         WriteWhole(out + "/summary.txt", summary, error);
}

}  // namespace quelix::bench
