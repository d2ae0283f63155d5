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
