// Before each file is cleaned, its copy (on the tree's volume) and its kept original (on the
// backup store's) must fit with the volume's free share left: a file that does not fit stays as
// it was, is reported, and the run goes on.
#include "engine/room.h"

#include <gtest/gtest.h>

#include <fstream>

#include "engine/signature.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\n";
const std::string kCleaned = "page\r\n";
constexpr char kNoRoom[] = "not enough room on the disk";

struct Need {
  uint64_t volume;
  uint64_t free;
  uint64_t total;
  uint64_t bytes;
};

TEST(RoomCheckTest, KeepsTheFreeShareOnEveryVolumeAndSumsWhatOneVolumeTakes) {
  struct Case {
    const char* what;
    std::vector<Need> needs;
    bool fits;
  };
  // Volumes of 1000 bytes: 50 must stay free.
  const Case cases[] = {
      {"what leaves the share free", {{1, 100, 1000, 50}}, true},
      {"what eats into the share", {{1, 100, 1000, 51}}, false},
      {"more than is free", {{1, 30, 1000, 40}}, false},
      {"copy and backup on two volumes", {{1, 100, 1000, 50}, {2, 100, 1000, 50}}, true},
      {"the backup's volume short", {{1, 900, 1000, 50}, {2, 100, 1000, 60}}, false},
      {"copy and backup on one volume", {{1, 100, 1000, 30}, {1, 100, 1000, 30}}, false},
  };
  for (const Case& c : cases) {
    RoomCheck room;
    for (const Need& n : c.needs) room.Need(n.volume, n.free, n.total, n.bytes);
    EXPECT_EQ(room.Fits(), c.fits) << c.what;
  }
}

// The tree and the store (both on the test's volume) are said to have the room a test sets, in
// halves of `bytes_` beyond the free share, once the removal has started cleaning; before that
// (the question asked up front) plenty.
class RoomTest : public RemoveFixture {
 protected:
  // Sets the figures for files of `bytes` on disk each.
  void TellRoom(uint64_t bytes, uint64_t tree_halves, uint64_t store_halves) {
    ASSERT_GT(bytes, 0u);
    const uint64_t total = 20 * 1000 * bytes;
    const uint64_t share = total / 20;
    const std::string tree = tree_.root().string();
    fs_.before = [this, tree](const FsCall& call) {
      if (call.op == FsOp::kOpen && call.path.rfind(tree, 0) == 0) cleaning_ = true;
      if (call.op == FsOp::kReplace) ++replaced_;
    };
    fs_.space_at = [=, this](const std::string& path, uint64_t* free, uint64_t* total_out) {
      const uint64_t halves = path.rfind(tree, 0) == 0 ? tree_halves : store_halves;
      const uint64_t used = used_per_replace_ * replaced_;
      const uint64_t room = share + halves * bytes / 2;
      *total_out = total;
      *free = !cleaning_ && !tight_up_front_ ? total : room > used ? room - used : 0;
    };
  }
  uint64_t OnDisk(const std::string& relative) {
    FileInfo info;
    EXPECT_TRUE(native_->GetInfo(P(relative), &info).ok());
    return BytesOnDisk(info);
  }
  const CleanResult& Outcome(size_t index) { return engine().removal().files.at(index).result; }

  void WriteSparsePage() {
    std::ofstream page(tree_.root() / "sparse.htm", std::ios::binary);
    page.seekp(8 << 20);
    page << kInfected;
  }

  bool cleaning_ = false;
  bool tight_up_front_ = false;  // the figures hold for the question asked up front too
  int replaced_ = 0;
  uint64_t used_per_replace_ = 0;  // what other programs take while each file is cleaned
};

TEST_F(RoomTest, AFileIsCleanedOnlyWhereItsCopyAndItsBackupFit) {
  struct Case {
    const char* what;
    bool keep;
    uint64_t tree_halves;
    uint64_t store_halves;
    bool cleaned;
  };
  const Case cases[] = {
      {"the copy fits on the tree's volume", false, 3, 0, true},
      {"the copy would take the tree's free share", false, 1, 100, false},
      {"the backup would take the store's free share", true, 100, 1, false},
      {"copy and backup on one volume, counted together", true, 3, 3, false},
      {"copy and backup both fit", true, 5, 5, true},
  };
  for (const Case& c : cases) {
    tree_.Write("a.htm", kInfected);
    controller_.reset();
    if (c.keep) controller().KeepOriginalsIn(log_dir_.Path("backups"));
    Scan();
    cleaning_ = false;
    TellRoom(OnDisk("a.htm"), c.tree_halves, c.store_halves);
    Remove();
    EXPECT_EQ(tree_.Read("a.htm"), c.cleaned ? kCleaned : kInfected) << c.what;
    EXPECT_EQ(Outcome(0).cleaned, c.cleaned) << c.what;
    EXPECT_EQ(Outcome(0).reason, c.cleaned ? "" : kNoRoom) << c.what;
  }
  EXPECT_EQ(Logged("Could not remove the virus from ").back(),
            "Could not remove the virus from " + P("a.htm") + ": " + kNoRoom);
}

// A sparse page of 8 MiB takes a few blocks: it is counted by those, as its copy and backup keep
// its holes.
TEST_F(RoomTest, ASparsePageIsCountedByTheRoomItTakes) {
  WriteSparsePage();
  const uint64_t on_disk = OnDisk("sparse.htm");
  if (on_disk >= (8u << 20)) GTEST_SKIP() << "this file system makes no sparse files";
  Scan();
  TellRoom(on_disk, 3, 3);
  Remove();
  EXPECT_TRUE(Outcome(0).cleaned) << Outcome(0).reason;
}

// The question asked before the removal counts what the originals take on disk, and the largest
// cleaned copy too where they are kept on the tree's own volume.
TEST_F(RoomTest, TheQuestionUpFrontCountsTheRoomTakenAndTheCopyOnTheSameVolume) {
  controller().KeepOriginalsIn(log_dir_.Path("backups"));
  tight_up_front_ = true;
  for (const uint64_t halves : {5u, 3u}) {
    WriteSparsePage();
    const uint64_t on_disk = OnDisk("sparse.htm");
    if (on_disk >= (8u << 20)) GTEST_SKIP() << "this file system makes no sparse files";
    window_.questions.clear();
    Scan();
    TellRoom(on_disk, halves, halves);
    Remove();
    EXPECT_EQ(window_.questions.size(), halves == 5 ? 0u : 1u) << halves;
  }
}

// The room is looked at again before each file: what the run and other programs take meanwhile
// stops the files that come later, never one already cleaned, and the run goes on to the end.
TEST_F(RoomTest, RoomUsedUpDuringTheRunStopsTheLaterFilesOnly) {
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) tree_.Write(name, kInfected);
  Scan();
  used_per_replace_ = OnDisk("a.htm");
  TellRoom(used_per_replace_, 3, 3);
  Remove();
  ASSERT_EQ(engine().removal().files.size(), 3u);
  EXPECT_TRUE(Outcome(0).cleaned);
  for (size_t later : {1, 2}) {
    EXPECT_FALSE(Outcome(later).cleaned);
    EXPECT_EQ(Outcome(later).reason, kNoRoom);
  }
  EXPECT_EQ(engine().removal().cleaned, 1u);
  int infected = 0;
  for (const char* name : {"a.htm", "b.htm", "c.htm"}) infected += tree_.Read(name) == kInfected;
  EXPECT_EQ(infected, 2);
}

}  // namespace
}  // namespace quelix
