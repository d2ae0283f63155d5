#include "engine/restore.h"

#include <algorithm>
#include <map>

#include "engine/backup_format.h"
#include "engine/backup_store.h"
#include "engine/copy_names.h"
#include "engine/tree.h"

namespace quelix {
namespace {

RestoredItem Failed(const std::string& name, const Status& status) {
  return {name, RestoreOutcome::kFailed, Reason(status)};
}

RestoredItem Changed(const std::string& name) {
  return {name, RestoreOutcome::kChanged, "changed since the removal"};
}

class RunRestorer {
 public:
  RunRestorer(FileSystem& fs, std::string run, RunRecord record)
      : fs_(fs), run_(std::move(run)), record_(std::move(record)) {}

  RestoredItem RestoreFile(const ManifestEntry& entry);
  RestoredItem RestoreValue(Registry& registry, const RegistryEntry& entry);
  // The first folder the run cleaned, re-opened and checked as for its files: the registry of a
  // run is the one found below it.
  Status FirstRoot(Directory** root);

 private:
  // A folder the run cleaned, re-opened, or why it cannot be trusted.
  struct HeldRoot {
    std::unique_ptr<SearchedTree> tree;
    Status status;
  };
  // The tree of the run's folder that holds `path`, opened as the cleaning opened it.
  Status TreeFor(const std::string& path, SearchedTree** tree);
  // Opens `root` again; fails where its path now leads to another folder.
  Status OpenRoot(const RunRoot& root, std::unique_ptr<SearchedTree>* tree);
  // Opens the file `entry` names through the held folders; `*now` is its SHA-256.
  Status OpenCurrent(const ManifestEntry& entry, std::unique_ptr<Directory>* dir, std::string* name,
                     std::unique_ptr<File>* current, FileInfo* info, std::string* now);
  // Writes the kept original beside `name` in `dir` and moves it over `current`.
  RestoredItem PutBack(const ManifestEntry& entry, Directory& dir, const std::string& name,
                       std::unique_ptr<File> current, const FileInfo& before);
  // Opens the kept copy of `entry` in the run's folder, refused where it is not the user's own.
  Status OpenKept(const ManifestEntry& entry, std::unique_ptr<File>* kept);

  FileSystem& fs_;
  const std::string run_;
  const RunRecord record_;
  std::map<std::string, HeldRoot> trees_;
};

Status RunRestorer::OpenRoot(const RunRoot& root, std::unique_ptr<SearchedTree>* tree) {
  // A path alone may lead anywhere by now: its owner may have put a link to another folder there.
  if (!root.identified) {
    return {ErrorCode::kOther, "the run did not record which folder was cleaned"};
  }
  auto opened = std::make_unique<SearchedTree>(fs_);
  const Status status = opened->Open(root.path);
  if (!status.ok()) return status;
  const TreeIdentity& now = opened->identity();
  if (now.volume != root.volume || now.file_id != root.file_id) {
    return {ErrorCode::kOther, "the folder is no longer the one that was cleaned"};
  }
  *tree = std::move(opened);
  return Status::Ok();
}

Status RunRestorer::FirstRoot(Directory** root) {
  if (record_.roots.empty()) return {ErrorCode::kOther, "the run recorded no folder"};
  const RunRoot& first = record_.roots.front();
  const auto [held, fresh] = trees_.try_emplace(first.path);
  if (fresh) held->second.status = OpenRoot(first, &held->second.tree);
  if (!held->second.status.ok()) return held->second.status;
  *root = &held->second.tree->root_directory();
  return Status::Ok();
}

Status RunRestorer::TreeFor(const std::string& path, SearchedTree** tree) {
  const RunRoot* best = nullptr;
  for (const RunRoot& root : record_.roots) {
    if (path.size() > root.path.size() && path.compare(0, root.path.size(), root.path) == 0 &&
        (!best || root.path.size() > best->path.size())) {
      best = &root;
    }
  }
  if (!best) return {ErrorCode::kOther, "it is not in a folder this run cleaned"};
  const auto [held, fresh] = trees_.try_emplace(best->path);
  if (fresh) held->second.status = OpenRoot(*best, &held->second.tree);
  *tree = held->second.tree.get();
  return held->second.status;
}

Status RunRestorer::OpenCurrent(const ManifestEntry& entry, std::unique_ptr<Directory>* dir,
                                std::string* name, std::unique_ptr<File>* current, FileInfo* info,
                                std::string* now) {
  if (!entry.identified) {
    return {ErrorCode::kOther, "the run did not record which file the removal left"};
  }
  SearchedTree* tree = nullptr;
  Status status = TreeFor(entry.path, &tree);
  if (status.ok()) status = tree->OpenParent(entry.path, dir, name);
  // Held, as a file being cleaned is: a save made while the backup takes its place is seen.
  if (status.ok()) status = (*dir)->OpenFile(*name, OpenMode::kReadHeld, current);
  if (status.ok()) status = (*current)->GetInfo(info);
  if (status.ok()) status = HashFile(**current, now);
  return status;
}

RestoredItem RunRestorer::RestoreFile(const ManifestEntry& entry) {
  std::unique_ptr<Directory> dir;
  std::string name;
  std::unique_ptr<File> current;
  FileInfo before;
  std::string now;
  const Status status = OpenCurrent(entry, &dir, &name, &current, &before, &now);
  if (!status.ok()) return Failed(entry.path, status);
  if (now == entry.sha256) return {entry.path, RestoreOutcome::kAsItWas, ""};
  // Only the very file the removal left: the same content in another file, or that file given
  // to another owner, may be someone else's by now.
  if (before.volume != entry.cleaned_volume || before.file_id != entry.cleaned_file_id) {
    return {entry.path, RestoreOutcome::kChanged, "it is no longer the file the removal left"};
  }
  if (Owner(before.attributes) != entry.cleaned_owner) {
    return {entry.path, RestoreOutcome::kChanged, "its owner changed since the removal"};
  }
  if (now != entry.cleaned_sha256) return Changed(entry.path);
  return PutBack(entry, *dir, name, std::move(current), before);
}

Status RunRestorer::OpenKept(const ManifestEntry& entry, std::unique_ptr<File>* kept) {
  const std::string path = run_ + fs_.Separator() + entry.copy;
  if (entry.copy.empty() || entry.copy.find_first_of("/\\") != std::string::npos) {
    return {ErrorCode::kOther, "its backup is not named as the run's copies are"};
  }
  FileInfo info;
  Status status = fs_.Open(path, OpenMode::kRead, kept);
  if (status.ok()) status = (*kept)->GetInfo(&info);
  if (status.ok()) status = fs_.CheckOwn(info, path, false);
  return status;
}

RestoredItem RunRestorer::PutBack(const ManifestEntry& entry, Directory& dir,
                                  const std::string& name, std::unique_ptr<File> current,
                                  const FileInfo& before) {
  std::unique_ptr<File> kept;
  std::unique_ptr<File> copy;
  std::string copy_name;
  std::string copied;
  std::vector<std::string> lost;
  FileInfo after;
  Status status = OpenKept(entry, &kept);
  if (!status.ok()) return Failed(entry.path, status);
  status = CreateCopyBeside(dir, name, &copy_name, &copy);
  if (!status.ok()) return Failed(entry.path, status);
  status = CopyContent(*kept, *copy, &copied);
  if (status.ok() && copied != entry.sha256) {
    status = {ErrorCode::kOther, "its backup " + entry.copy + " is damaged"};
  }
  if (status.ok()) status = copy->Sync();
  // The file as it is now has the original's metadata, which the cleaned copy was given.
  if (status.ok()) status = current->CopyMetadataTo(*copy, &lost);
  if (status.ok()) status = current->GetInfo(&after);
  if (status.ok() && !SameFileUnchanged(before, after)) status = {ErrorCode::kChanged, ""};
  if (status.ok()) status = dir.Replace(std::move(current), name, std::move(copy), copy_name);
  if (copy) IgnoreResult(dir.Remove(std::move(copy), copy_name), "the first error is told");
  if (status.code() == ErrorCode::kChanged) return Changed(entry.path);
  if (!status.ok()) return Failed(entry.path, status);
  std::string without;
  for (const std::string& item : lost) without += (without.empty() ? "without " : ", ") + item;
  return {entry.path, RestoreOutcome::kRestored, without};
}

RestoredItem RunRestorer::RestoreValue(Registry& registry, const RegistryEntry& entry) {
  const std::string full = entry.store + "\\" + entry.key + "\\" + entry.name;
  const std::vector<RegistryStoreInfo> stores = registry.Stores();
  const auto info = std::find_if(stores.begin(), stores.end(), [&](const RegistryStoreInfo& s) {
    return s.name == entry.store && !s.offline;
  });
  if (info == stores.end()) return Failed(full, {ErrorCode::kOther, "the store is not here"});
  std::unique_ptr<RegistryStore> store;
  std::unique_ptr<RegistryKey> key;
  RegistryValueData now;
  Status status = registry.OpenStore(info - stores.begin(), &store);
  if (status.ok()) status = store->OpenKey(entry.key, true, &key);
  if (status.ok()) status = key->ReadValue(entry.name, &now);
  if (status.ok()) {
    if (now.type == entry.type && now.data == entry.data)
      return {full, RestoreOutcome::kAsItWas, ""};
    return {full, RestoreOutcome::kChanged, "it has another value now"};
  }
  // Only a value that is missing from a key that opened is put back: a store or key that could
  // not be found leaves nothing to write into.
  if (status.code() != ErrorCode::kNotFound || !key) return Failed(full, status);
  status = key->SetValue(entry.name, {entry.type, entry.data});
  if (status.ok()) status = store->Commit();
  if (!status.ok()) return Failed(full, status);
  return {full, RestoreOutcome::kRestored, ""};
}

// The registry values written down in `text`, in the order they were written.
bool ParseRegistry(std::string_view text, std::vector<RegistryEntry>* entries) {
  for (const std::string& line : SplitLines(text)) {
    RegistryEntry entry;
    if (!ParseRegistryLine(line, &entry)) return false;
    entries->push_back(std::move(entry));
  }
  return true;
}

// The entries of the run's record `path`, parsed by `parse`, last first.
template <typename Entry, typename Parse>
Status ReadEntries(FileSystem& fs, const std::string& path, Parse parse,
                   std::vector<Entry>* entries) {
  std::string text;
  const Status status = ReadOwnFile(fs, path, &text);
  if (status.code() == ErrorCode::kNotFound) return Status::Ok();
  if (!status.ok()) return status;
  if (!parse(text, entries)) return {ErrorCode::kOther, path + ": a line cannot be read"};
  std::reverse(entries->begin(), entries->end());
  return Status::Ok();
}

}  // namespace

bool RestoreReport::complete() const {
  const auto done = [](const RestoredItem& item) {
    return item.outcome == RestoreOutcome::kRestored || item.outcome == RestoreOutcome::kAsItWas;
  };
  return std::all_of(files.begin(), files.end(), done) &&
         std::all_of(values.begin(), values.end(), done);
}

Status RestoreRun(FileSystem& fs, const std::string& run, const RegistryOpener& open_registry,
                  RestoreReport* report) {
  *report = RestoreReport{};
  const char sep = fs.Separator();
  std::string text;
  std::vector<ManifestEntry> files;
  std::vector<RegistryEntry> values;
  // A run in a folder someone else may change could be theirs: it would say what goes where.
  Status status = fs.CheckOwnFolder(run);
  if (status.ok()) status = ReadOwnFile(fs, run + sep + kRunName, &text);
  if (status.ok()) status = ReadEntries(fs, run + sep + kManifestName, ParseManifest, &files);
  if (status.ok()) status = ReadEntries(fs, run + sep + kRegistryName, ParseRegistry, &values);
  if (!status.ok()) return status;
  RunRestorer restorer(fs, run, ParseRun(text));
  for (const ManifestEntry& entry : files) report->files.push_back(restorer.RestoreFile(entry));
  if (values.empty()) return Status::Ok();
  // The registry is found below the first root the run worked on, opened once here.
  Directory* root = nullptr;
  std::unique_ptr<Registry> registry;
  const Status root_status = restorer.FirstRoot(&root);
  if (root_status.ok()) registry = open_registry(*root);
  for (const RegistryEntry& entry : values) {
    const std::string full = entry.store + "\\" + entry.key + "\\" + entry.name;
    const Status none =
        root_status.ok() ? Status(ErrorCode::kOther, "no registry is open") : root_status;
    report->values.push_back(registry ? restorer.RestoreValue(*registry, entry)
                                      : Failed(full, none));
  }
  return Status::Ok();
}

}  // namespace quelix
