// The drive chooser's entries as both windows offer them: the volumes, the folders chosen besides
// (newest last), "Other folder…" last, and where each one sends the search.
#include "app/drive_choices.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace quelix {
namespace {

TEST(DriveChoicesTest, EachEntrySearchesItsOwnRootAndOtherFolderIsLast) {
  DriveChoices choices;
  choices.SetVolumes({{"/", "/ (vda)", "/dev/vda", "", "ext4"},
                      {"/mnt/c", "/mnt/c (WINDOWS)", "/dev/sdb1", "WINDOWS", "fuseblk"}});
  choices.AddFolder("/srv/www");
  choices.AddFolder("/mnt/c");  // a volume's root chosen again as a folder
  choices.AddFolder("/home/ann/site");
  choices.AddFolder("/srv/www");  // chosen again: it becomes the newest
  const struct {
    const char* text;
    const char* root;
    bool other_folder;
  } entries[] = {
      {"/ (vda)", "/", false},         {"/mnt/c (WINDOWS)", "/mnt/c", false},
      {"/mnt/c", "/mnt/c", false},     {"/home/ann/site", "/home/ann/site", false},
      {"/srv/www", "/srv/www", false}, {"Other folder\u2026", "", true},
  };
  const std::vector<std::string> texts = choices.Texts();
  ASSERT_EQ(texts.size(), std::size(entries));
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(texts[i], entries[i].text) << i;
    EXPECT_EQ(choices.RootAt(i), entries[i].root) << i;
    EXPECT_EQ(choices.IsOtherFolder(i), entries[i].other_folder) << i;
  }
  EXPECT_EQ(choices.RootAt(texts.size()), "") << "beyond the last entry";
  EXPECT_EQ(choices.IndexOf("/mnt/c"), 2u) << "the folder the user chose, not the volume";
  EXPECT_EQ(choices.IndexOf("/srv/www"), 4u);
  EXPECT_EQ(choices.IndexOf("/nowhere"), 0u);
}

}  // namespace
}  // namespace quelix
