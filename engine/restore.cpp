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

 private:
  // The tree of the run's folder that holds `path`, opened as the cleaning opened it.
  Status TreeFor(const std::string& path, SearchedTree** tree);
  // Writes the kept original beside `name` in `dir` and moves it over `current`.
  RestoredItem PutBack(const ManifestEntry& entry, Directory& dir, const std::string& name,
                       std::unique_ptr<File> current, const FileInfo& before);

  FileSystem& fs_;
  const std::string run_;
  const RunRecord record_;
  std::map<std::string, std::unique_ptr<SearchedTree>> trees_;
};

Status RunRestorer::TreeFor(const std::string& path, SearchedTree** tree) {
  const std::string* best = nullptr;
  for (const std::string& root : record_.roots) {
    if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
        (!best || root.size() > best->size())) {
      best = &root;
    }
  }
  if (!best) return {ErrorCode::kOther, "it is not in a folder this run cleaned"};
  std::unique_ptr<SearchedTree>& held = trees_[*best];
  if (!held) {
    held = std::make_unique<SearchedTree>(fs_);
    const Status opened = held->Open(*best);
    if (!opened.ok()) return opened;
  }
  *tree = held.get();
  return Status::Ok();
}

RestoredItem RunRestorer::RestoreFile(const ManifestEntry& entry) {
  SearchedTree* tree = nullptr;
  std::unique_ptr<Directory> dir;
  std::string name;
  std::unique_ptr<File> current;
  FileInfo before;
  std::string now;
  Status status = TreeFor(entry.path, &tree);
  if (status.ok()) status = tree->OpenParent(entry.path, &dir, &name);
  if (status.ok()) status = dir->OpenFile(name, OpenMode::kRead, &current);
  if (status.ok()) status = current->GetInfo(&before);
  if (status.ok()) status = HashFile(*current, &now);
  if (!status.ok()) return Failed(entry.path, status);
  if (now == entry.sha256) return {entry.path, RestoreOutcome::kAsItWas, ""};
  if (now != entry.cleaned_sha256) return Changed(entry.path);
  return PutBack(entry, *dir, name, std::move(current), before);
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
  Status status = fs_.Open(run_ + fs_.Separator() + entry.copy, OpenMode::kRead, &kept);
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
  if (copy) dir.Remove(std::move(copy), copy_name);
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
  if (status.code() != ErrorCode::kNotFound) return Failed(full, status);
  status = key->SetValue(entry.name, {entry.type, entry.data});
  if (status.ok()) status = store->Commit();
  if (!status.ok()) return Failed(full, status);
  return {full, RestoreOutcome::kRestored, ""};
}

// The entries of the run's record `name`, parsed by `parse`, last first.
template <typename Entry, typename Parse>
Status ReadEntries(FileSystem& fs, const std::string& path, Parse parse,
                   std::vector<Entry>* entries) {
  std::string text;
  const Status status = ReadOwnFile(fs, path, &text);
  if (status.code() == ErrorCode::kNotFound) return Status::Ok();
  if (!status.ok()) return status;
  for (const std::string& line : SplitLines(text)) {
    Entry entry;
    if (!parse(line, &entry)) return {ErrorCode::kOther, path + ": a line cannot be read"};
    entries->push_back(std::move(entry));
  }
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
  Status status = ReadOwnFile(fs, run + sep + kRunName, &text);
  if (status.ok()) status = ReadEntries(fs, run + sep + kManifestName, ParseManifestLine, &files);
  if (status.ok()) status = ReadEntries(fs, run + sep + kRegistryName, ParseRegistryLine, &values);
  if (!status.ok()) return status;
  RunRestorer restorer(fs, run, ParseRun(text));
  for (const ManifestEntry& entry : files) report->files.push_back(restorer.RestoreFile(entry));
  if (values.empty()) return Status::Ok();
  const RunRecord record = ParseRun(text);
  // The registry is found below the first root the run worked on, opened once here.
  std::unique_ptr<Directory> root;
  std::unique_ptr<Registry> registry;
  if (!record.roots.empty() && fs.OpenDirectory(record.roots.front(), &root).ok()) {
    registry = open_registry(*root);
  }
  for (const RegistryEntry& entry : values) {
    const std::string full = entry.store + "\\" + entry.key + "\\" + entry.name;
    report->values.push_back(registry ? restorer.RestoreValue(*registry, entry)
                                      : Failed(full, {ErrorCode::kOther, "no registry is open"}));
  }
  return Status::Ok();
}

}  // namespace quelix
