// Contains leaves the file to be read again from its start, whatever comes next: another
// Contains, the field reader, the end-of-input test, or closing and opening another file.
#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "runtime/text_files.h"
#include "tests/support/temp_tree.h"
#include "tests/support/text_input.h"

namespace quelix {
namespace {

TEST(ContainsAgainTest, EveryReadAfterContainsStartsAtTheBeginning) {
  TempTree tree;
  auto fs = CreateNativeFileSystem();
  TextFiles files(*fs);
  const std::string big(TextFiles::kBlockSize + 100, 'x');
  tree.Write("a.txt", "first,second\n" + big + "\nneedle\n");
  tree.Write("b.txt", "other\n");
  ASSERT_TRUE(AttachForReading(*fs, files, 1, tree.Path("a.txt")).ok());
  for (const char* needle : {"missing", "needle", "missing"}) {
    bool found = false;
    ASSERT_TRUE(files.Contains(1, needle, &found, [] { return true; }).ok());
    EXPECT_EQ(found, std::string(needle) == "needle");
  }
  bool at_end = true;
  ASSERT_TRUE(files.AtEnd(1, &at_end).ok());
  EXPECT_FALSE(at_end);
  std::string field;
  ASSERT_TRUE(files.ReadField(1, &field).ok());
  EXPECT_EQ(field, "first");
  ASSERT_TRUE(files.Close(1).ok());

  // A file opened after one that Contains read is read from its own start.
  ASSERT_TRUE(AttachForReading(*fs, files, 1, tree.Path("a.txt")).ok());
  bool found = false;
  ASSERT_TRUE(files.Contains(1, "needle", &found, [] { return true; }).ok());
  ASSERT_TRUE(files.Close(1).ok());
  ASSERT_TRUE(AttachForReading(*fs, files, 1, tree.Path("b.txt")).ok());
  ASSERT_TRUE(files.ReadField(1, &field).ok());
  EXPECT_EQ(field, "other");
  ASSERT_TRUE(files.AtEnd(1, &at_end).ok());
  EXPECT_TRUE(at_end);
  EXPECT_TRUE(files.Close(1).ok());
}

}  // namespace
}  // namespace quelix
