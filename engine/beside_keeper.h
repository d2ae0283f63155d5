// The keeper the engine hands the registry when no backup store is used (quelix --no-backup,
// tests): an offline hive is kept as "<hive>.bak" beside it, once per command, so that a hive the
// repair rewrites can always be put back by hand.
#pragma once

#include <set>
#include <string>

#include "engine/tree.h"
#include "platform/keeper.h"

namespace quelix {

class BesideKeeper final : public OriginalKeeper {
 public:
  // `tree` is the command's held tree: the hive's folder is reached through it.
  explicit BesideKeeper(SearchedTree& tree) : tree_(tree) {}

  // Forgets the hives kept: a new command keeps each again.
  void Forget() { kept_.clear(); }

  // Copies `original` to a new file "<name>.bak" (or "<name>.bak1", ... where that is taken) in
  // its folder, the first time `path` is kept in this command.
  Status Keep(File& original, const std::string& path, File& replacement) override;

  // Without a backup store the user chose to keep nothing of the live registry's values.
  Status KeepValue(const std::string&, const std::string&, const std::string&,
                   const RegistryValueData&) override {
    return Status::Ok();
  }

 private:
  SearchedTree& tree_;
  std::set<std::string> kept_;
};

}  // namespace quelix
