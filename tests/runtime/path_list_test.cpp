#include "runtime/path_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quelix {
namespace {

TEST(PathListTest, GivesBackEveryPathByteForByteInOrder) {
  const std::vector<std::string> paths = {"/srv/www/index.htm",
                                          "/srv/www/about.htm",
                                          "/srv/www/sub/a.htm",
                                          "/srv/www/b.htm",
                                          "c:\\web\\page.asp",
                                          "c:\\web\\x.asp",
                                          "no-folder.php",
                                          "/srv/www/",
                                          "/srv/www/\xff\n.htm",
                                          "",
                                          "/",
                                          "/srv/www/index.htm"};
  PathList list;
  for (const std::string& path : paths) list.Append(path);
  ASSERT_EQ(list.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(list.at(i), paths[i]) << i;
  list.Clear();
  EXPECT_TRUE(list.empty());
  list.Append("/again.htm");
  EXPECT_EQ(list.at(0), "/again.htm");
}

// The bytes go into blocks of their own: names and folders that fill a block, and a folder longer
// than a block, come back whole wherever the block ended.
TEST(PathListTest, GivesBackPathsThatFillManyBlocks) {
  std::vector<std::string> paths;
  for (int n = 0; n < 30000; ++n) {
    const std::string folder = "/f" + std::to_string(n / 7) + "/";
    paths.push_back(folder + std::string(n % 300, static_cast<char>('a' + n % 26)) +
                    std::to_string(n));
    if (n % 10000 == 5) paths.push_back("/" + std::string(200000, 'd') + "/" + std::to_string(n));
  }
  PathList list;
  for (const std::string& path : paths) list.Append(path);
  ASSERT_EQ(list.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) ASSERT_EQ(list.at(i), paths[i]) << i;
}

// The reason for the list: a folder's path is kept once for the names that follow it, so a list of
// many pages in few deep folders takes far less than the paths would whole.
TEST(PathListTest, KeepsAFoldersPathOnceForItsNames) {
  const std::string folder = "/srv/www/customers/" + std::string(200, 'f') + "/";
  PathList list;
  size_t whole = 0;
  for (int f = 0; f < 10; ++f) {
    for (int n = 0; n < 1000; ++n) {
      const std::string path = folder + std::to_string(f) + "/page" + std::to_string(n) + ".htm";
      list.Append(path);
      whole += path.size();
    }
  }
  EXPECT_EQ(list.at(4321), folder + "4/page321.htm");
  EXPECT_LT(list.memory_bytes(), whole / 5);
}

}  // namespace
}  // namespace quelix
