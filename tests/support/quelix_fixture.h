// `quelix` run whole on a tree of files, with the fixture's file system, registry and a backup
// store beside the log: what it prints, line by line, and its exit status.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/quelix.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_places.h"
#include "tests/support/remove_fixture.h"

namespace quelix {

class QuelixFixture : public RemoveFixture {
 protected:
  using Lines = std::vector<std::string>;

  // Runs quelix with `args`; the output lines go to `out_`, the error lines to `err_`.
  int Quelix(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunQuelix(args, out, err, {fs_, places_, console_, opener_});
    out_text_ = out.str();
    err_text_ = err.str();
    out_ = Split(out_text_);
    err_ = Split(err_text_);
    return status;
  }
  static Lines Split(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Root() const { return tree_.root().string(); }

  FakePlaces places_ = [this] {
    FakePlaces places;
    places.backup_folder = log_dir_.Path("backups");
    return places;
  }();
  FakeConsole console_;
  RegistryOpener opener_ = [this](Directory&) {
    return std::make_unique<BorrowedRegistry>(registry_);
  };
  std::string out_text_;
  std::string err_text_;
  Lines out_;
  Lines err_;
};

}  // namespace quelix
