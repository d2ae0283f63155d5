// Cleaning a tree that belongs to someone else, who changes it while the program works and whose
// files carry more than a mode: every name swapped at the worst moment, every piece of metadata,
// other names of a file, trees deeper than a path can be long.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "engine/signature.h"
#include "tests/posix/as_user.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

namespace fs = std::filesystem;

const std::string kInfected = "page\r\n" + MarkerLine() + "\r\n" + SignatureLine() + "\r\nrest\r\n";
const std::string kCleaned = "page\r\n";
const std::string kDone = "The HTML.Quelix.A Virus has been removed successfully from your system.";

// Everything a file carries besides its content, as far as a test can read it.
struct Metadata {
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  int flags = 0;
  std::map<std::string, std::string> attributes;
  bool operator==(const Metadata&) const = default;
};

Metadata ReadMetadata(const std::string& path) {
  Metadata m;
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return m;
  m.mode = st.st_mode & 07777;
  m.uid = st.st_uid;
  m.gid = st.st_gid;
  if (ioctl(fd, FS_IOC_GETFLAGS, &m.flags) != 0) m.flags = -1;
  m.flags &= ~(FS_EXTENT_FL | FS_INLINE_DATA_FL);  // chosen by the file system itself
  char names[4096];
  const ssize_t size = flistxattr(fd, names, sizeof names);
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t got = fgetxattr(fd, names + at, value, sizeof value);
    m.attributes[names + at] = got < 0 ? "<unreadable>" : std::string(value, got);
  }
  close(fd);
  return m;
}

void Shell(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

bool Have(const char* tool) {
  return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

using HostileTreeTest = RemoveFixture;

// While the copy is written, the folder's owner puts a link to a root program where the copy
// is: nothing may be done to the program, and the link may not take the page's place.
TEST_F(HostileTreeTest, ALinkSwappedInForTheCopyChangesNothingOutsideAndIsNotMovedIn) {
  TempTree system;
  system.Write("program", "#!/bin/sh\n");
  ASSERT_EQ(chmod(system.Path("program").c_str(), 0755), 0);
  const Metadata program = ReadMetadata(system.Path("program"));
  tree_.Write("www/index.php", kInfected);
  ASSERT_EQ(chown(P("www/index.php").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(P("www/index.php").c_str(), 06777), 0);
  Scan();
  const std::string copy = P("www/index.phptemp");
  fs_.before = [&](const FsCall& call) {
    if (call.op != FsOp::kSync || call.path != copy) return;
    fs::rename(copy, P("www/moved"));
    fs::create_symlink(system.Path("program"), copy);
  };
  Remove();
  EXPECT_EQ(ReadMetadata(system.Path("program")), program);
  EXPECT_EQ(system.Read("program"), "#!/bin/sh\n");
  EXPECT_FALSE(fs::is_symlink(P("www/index.php")));
  EXPECT_EQ(tree_.Read("www/index.php"), kInfected);
  EXPECT_EQ(Logged("Could not remove"),
            (std::vector<std::string>{"Could not remove the virus from " + P("www/index.php") +
                                      ": changed while it was being cleaned"}));
  EXPECT_NE(window_.messages.at(0), kDone);
}

TEST_F(HostileTreeTest, AFolderSwappedForALinkAfterTheScanIsNotFollowed) {
  TempTree elsewhere;
  tree_.Write("site/index.htm", kInfected);
  Scan();
  fs::rename(P("site"), elsewhere.Path("site"));
  fs::create_directory_symlink(elsewhere.Path("site"), P("site"));
  Remove();
  EXPECT_EQ(elsewhere.Read("site/index.htm"), kInfected);
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.Path("site")), {}), 1);
  EXPECT_EQ(Logged("Could not remove"),
            (std::vector<std::string>{"Could not remove the virus from " + P("site/index.htm") +
                                      ": it is a link, or lies behind one"}));
}

TEST_F(HostileTreeTest, EveryPieceOfMetadataComesBackOnTheCleanedFile) {
  if (!Have("setfacl") || !Have("setcap")) GTEST_SKIP() << "setfacl and setcap are needed";
  tree_.Write("a.htm", kInfected);
  const std::string a = P("a.htm");
  ASSERT_EQ(chown(a.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(a.c_str(), 0640), 0);
  Shell("setfacl -m u:33:r '" + a + "'");
  ASSERT_EQ(setxattr(a.c_str(), "user.note", "kept", 4, 0), 0);
  ASSERT_EQ(setxattr(a.c_str(), "trusted.mark", "root's", 6, 0), 0);
  Shell("setcap cap_net_bind_service+ep '" + a + "'");
  const bool flags = std::system(("chattr +d '" + a + "' 2>/dev/null").c_str()) == 0;
  const Metadata before = ReadMetadata(a);
  ASSERT_EQ(before.attributes.size(), 4u) << "ACL, user., trusted., capability";
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), kCleaned);
  EXPECT_EQ(ReadMetadata(a), before) << (flags ? "with" : "without") << " file flags";
  EXPECT_TRUE(Logged("Could not keep").empty());
  EXPECT_EQ(window_.messages.at(0), kDone);
}

// A folder marked "no dump" gives the flag to new files: the cleaned copy must not keep it where
// the page had it not.
TEST_F(HostileTreeTest, AFlagTheFolderGivesNewFilesIsNotAddedToTheCleanedFile) {
  tree_.Write("marked/a.htm", kInfected);
  if (std::system(("chattr +d '" + P("marked") + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "chattr not possible here";
  }
  const Metadata before = ReadMetadata(P("marked/a.htm"));
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("marked/a.htm"), kCleaned);
  EXPECT_EQ(ReadMetadata(P("marked/a.htm")), before);
  EXPECT_EQ(window_.messages.at(0), kDone);
}

// A user of the page's group cleans it: the owner cannot be kept, the group can and must be; a
// set-user-ID bit goes with the owner, or the cleaned page would run with the cleaning user's
// rights.
TEST_F(HostileTreeTest, AnOrdinaryUserKeepsTheGroupAndSaysTheOwnerIsLost) {
  struct Case {
    mode_t mode;
    mode_t cleaned_mode;
    std::string lost;
  };
  for (const Case& c : {Case{0664, 0664, "owner"}, Case{06775, 02775, "owner, set-ID bits"}}) {
    fs::remove_all(P("shared"));
    tree_.Write("shared/page.htm", kInfected);
    ASSERT_EQ(chmod(tree_.root().c_str(), 0755), 0);
    ASSERT_EQ(chown(P("shared").c_str(), 1002, 2000), 0);
    ASSERT_EQ(chmod(P("shared").c_str(), 0775), 0);
    ASSERT_EQ(chown(P("shared/page.htm").c_str(), 1002, 2000), 0);
    ASSERT_EQ(chmod(P("shared/page.htm").c_str(), c.mode), 0);
    AsUser(1001, 1001, {2000}, [&] {
      Scan();
      Remove();
      EXPECT_EQ(Logged("Could not keep").back(),
                "Could not keep the metadata of " + P("shared/page.htm") + ": " + c.lost);
    });
    struct stat st;
    ASSERT_EQ(stat(P("shared/page.htm").c_str(), &st), 0);
    EXPECT_EQ(tree_.Read("shared/page.htm"), kCleaned);
    EXPECT_EQ(st.st_uid, 1001u);
    EXPECT_EQ(st.st_gid, 2000u);
    EXPECT_EQ(st.st_mode & 07777, c.cleaned_mode) << std::oct << c.mode;
  }
}

// Also when the file is listed twice: its second cleaning finds one name left, yet the other
// name the first one left behind still holds the virus.
TEST_F(HostileTreeTest, OtherNamesOfACleanedFileAreToldNotHidden) {
  const std::string twice = kInfected + SignatureLine() + "\r\n";
  tree_.Write("a.htm", twice);
  fs::create_hard_link(P("a.htm"), P("a-copy.txt"));
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("a.htm"), kCleaned);
  EXPECT_EQ(tree_.Read("a-copy.txt"), twice);
  EXPECT_EQ(Logged("1 other name"),
            (std::vector<std::string>{"1 other name (hard link) of " + P("a.htm") +
                                      " still holds the virus"}));
  EXPECT_NE(window_.messages.at(0).find("1 other name (hard link) of a cleaned file still holds"),
            std::string::npos)
      << window_.messages.at(0);
}

// The names of a page that the scan found infected are each cleaned in their turn, so none is
// said to be left, however many there are and whatever else was found beside them.
TEST_F(HostileTreeTest, OtherNamesTheScanFoundAreNotSaidToBeLeft) {
  const struct {
    const char* folder;
    std::vector<std::string> names;  // of one page, the first written
    bool another_page;               // an infected page of its own beside them
  } cases[] = {
      {"two", {"a.htm", "sub/b.htm"}, false},
      {"three", {"a.htm", "sub/b.htm", "sub/c.htm"}, true},
  };
  for (const auto& c : cases) {
    const std::string folder = std::string(c.folder) + "/";
    tree_.MakeDirectory(folder + "sub");
    tree_.Write(folder + c.names[0], kInfected);
    for (size_t i = 1; i < c.names.size(); ++i) {
      fs::create_hard_link(P(folder + c.names[0]), P(folder + c.names[i]));
    }
    if (c.another_page) tree_.Write(folder + "other.htm", kInfected);
    Scan();
    Remove();
    EXPECT_EQ(engine().removal().other_names, 0u) << c.folder;
    for (const std::string& name : c.names) EXPECT_EQ(tree_.Read(folder + name), kCleaned) << name;
    ASSERT_FALSE(window_.messages.empty());
    EXPECT_NE(window_.messages.back().find(kDone), std::string::npos) << window_.messages.back();
  }
}

// A file 500 folders down, its path far beyond PATH_MAX, is found and cleaned like any other.
TEST_F(HostileTreeTest, AFileDeeperThanAPathCanBeLongIsFoundAndCleaned) {
  const std::string part = "folder-of-depth";
  int dir = open(tree_.root().c_str(), O_RDONLY | O_DIRECTORY);
  std::string path = tree_.Root();
  for (int depth = 0; depth < 500; ++depth) {
    ASSERT_EQ(mkdirat(dir, part.c_str(), 0755), 0);
    const int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
    path += part + "/";
  }
  ASSERT_GT(path.size(), static_cast<size_t>(PATH_MAX));
  const int file = openat(dir, "deep.htm", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(write(file, kInfected.data(), kInfected.size()),
            static_cast<ssize_t>(kInfected.size()));
  close(file);
  Scan();
  EXPECT_EQ(window_.infected, (std::vector<std::string>{path + "deep.htm"}));
  Remove();
  char cleaned[64] = {};
  const int reread = openat(dir, "deep.htm", O_RDONLY);
  EXPECT_EQ(read(reread, cleaned, sizeof cleaned), static_cast<ssize_t>(kCleaned.size()));
  close(reread);
  close(dir);
  EXPECT_EQ(std::string(cleaned), kCleaned);
  EXPECT_EQ(window_.messages.at(0), kDone);
  // Past PATH_MAX the names are walked one at a time: a doubled slash on the way opens the same
  // file, as it does in a short path.
  const std::string doubled = part + "//" + path.substr(tree_.Root().size() + part.size() + 1);
  std::unique_ptr<Directory> root;
  ASSERT_TRUE(native_->OpenDirectory(tree_.Root(), &root).ok());
  std::unique_ptr<File> again;
  const Status opened = root->OpenFile(doubled + "deep.htm", OpenMode::kRead, &again);
  EXPECT_TRUE(opened.ok()) << opened.message();
  Shell("rm -rf '" + P(part) + "'");  // deeper than the test tree's own clean-up reaches
}

// On an NTFS volume (ntfs-3g) the Windows attributes and the alternate data streams stay.
TEST_F(HostileTreeTest, NtfsAttributesAndStreamsStay) {
  if (!Have("mkntfs") || !Have("ntfs-3g")) GTEST_SKIP() << "ntfs-3g is needed";
  tree_.MakeDirectory("volume");
  const std::string image = P("ntfs.img");
  Shell("truncate -s 8M '" + image + "' && mkntfs -F -q -f '" + image + "' >/dev/null 2>&1");
  if (std::system(
          ("ntfs-3g -o streams_interface=xattr '" + image + "' '" + P("volume") + "'").c_str()) !=
      0) {
    GTEST_SKIP() << "cannot mount an NTFS volume here";
  }
  window_.root = P("volume");
  tree_.Write("volume/page.htm", kInfected);
  const std::string page = P("volume/page.htm");
  const unsigned char hidden[4] = {0, 0, 0, 0x22};  // hidden, archive
  ASSERT_EQ(setxattr(page.c_str(), "system.ntfs_attrib_be", hidden, 4, 0), 0);
  ASSERT_EQ(setxattr(page.c_str(), "user.Zone.Identifier", "[ZoneTransfer]", 14, 0), 0);
  const Metadata before = ReadMetadata(page);
  Scan();
  Remove();
  EXPECT_EQ(tree_.Read("volume/page.htm"), kCleaned);
  unsigned char word[4] = {};
  EXPECT_EQ(getxattr(page.c_str(), "system.ntfs_attrib_be", word, 4), 4);
  EXPECT_EQ(word[3], 0x22);
  EXPECT_EQ(ReadMetadata(page).attributes, before.attributes);
  umount2(P("volume").c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace quelix
