#include "runtime/text_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_tree.h"
#include "tests/support/text_input.h"

namespace quelix {
namespace {

class TextFilesTest : public ::testing::Test {
 protected:
  // Every field of `content`, read the way the scan reads them, until the end-of-input test says
  // the end is reached; a failed read shows as "<fail>".
  std::vector<std::string> Fields(const std::string& content) {
    tree_.Write("f.txt", content);
    EXPECT_TRUE(AttachForReading(*fs_, files_, 1, tree_.Path("f.txt")).ok());
    std::vector<std::string> fields;
    for (;;) {
      std::string field;
      fields.push_back(files_.ReadField(1, &field).ok() ? field : "<fail>");
      bool at_end = false;
      EXPECT_TRUE(files_.AtEnd(1, &at_end).ok());
      if (at_end) break;
    }
    EXPECT_TRUE(files_.Close(1).ok());
    return fields;
  }

  struct Line {
    std::string text;
    LineEnd end;
    bool operator==(const Line&) const = default;
  };
  // Every line of `content`, read the way the cleaning reads them: in parts of `part_size` bytes,
  // each but a line's last one full.
  std::vector<Line> Lines(const std::string& content, size_t part_size) {
    tree_.Write("l.txt", content);
    EXPECT_TRUE(AttachForReading(*fs_, files_, 4, tree_.Path("l.txt")).ok());
    std::vector<Line> lines;
    for (Line line; ReadLine(4, &line, part_size).ok();) lines.push_back(line);
    EXPECT_TRUE(files_.Close(4).ok());
    return lines;
  }
  Status ReadLine(int channel, Line* line, size_t part_size = std::string::npos) {
    line->text.clear();
    for (bool complete = false; !complete;) {
      std::string part;
      const Status status = files_.ReadLinePart(channel, &part, part_size, &complete, &line->end);
      if (!status.ok()) return status;
      EXPECT_TRUE(complete || part.size() == part_size) << part;
      line->text += part;
    }
    return Status::Ok();
  }
  // `relative` made new and put on `channel` for writing, as the cleaning writes its copy.
  Status AttachNew(int channel, const std::string& relative) {
    std::unique_ptr<File> file;
    const Status made = fs_->Open(tree_.Path(relative), OpenMode::kWriteNew, &file);
    return made.ok() ? files_.Attach(channel, std::move(file), false) : made;
  }

  std::unique_ptr<FileSystem> fs_ = CreateNativeFileSystem();
  TextFiles files_{*fs_};
  TempTree tree_;
};

using List = std::vector<std::string>;

TEST_F(TextFilesTest, FieldsEndAtCommasAndLineEndsWithBlanksDropped) {
  EXPECT_EQ(Fields("a,b\r\nc\n  d  ,\te\t\rlast"), (List{"a", "b", "c", "d", "e", "last"}));
  EXPECT_EQ(Fields("x = \"y\" z\r\n"), (List{"x = \"y\" z"}));  // a quote inside stays
}

TEST_F(TextFilesTest, QuotedFieldRunsAcrossLineEndsAndSkipsToTheNextComma) {
  EXPECT_EQ(Fields("\"a,b\r\nc\" tail, next\r\n"), (List{"a,b\r\nc", "next"}));
  EXPECT_EQ(Fields("  \"open to the end"), (List{"open to the end"}));
  EXPECT_EQ(Fields("\"q\" rest\nafter"), (List{"q", "after"}));
}

TEST_F(TextFilesTest, EmptyLinesGiveEmptyFieldsAndTrailingBlanksFail) {
  EXPECT_EQ(Fields("a\r\n\r\nb"), (List{"a", "", "b"}));
  EXPECT_EQ(Fields("a\n   "), (List{"a", "<fail>"}));
  EXPECT_EQ(Fields(""), (List{"<fail>"}));
}

TEST_F(TextFilesTest, FieldStraddlingTwoBlocksComesBackWhole) {
  const std::string before(TextFiles::kBlockSize - 5, 'x');
  EXPECT_EQ(Fields(before + "\nhello world\n"), (List{before, "hello world"}));
}

TEST_F(TextFilesTest, LongFieldIsCappedAndFlagged) {
  tree_.Write("f.txt", std::string(1000, 'z') + ",abc   " + std::string(5000, ' ') + "\nq");
  ASSERT_TRUE(AttachForReading(*fs_, files_, 1, tree_.Path("f.txt")).ok());
  std::string field;
  bool longer = false;
  ASSERT_TRUE(files_.ReadField(1, &field, 10, &longer).ok());
  EXPECT_EQ(field, std::string(10, 'z'));
  EXPECT_TRUE(longer);
  // Blanks beyond the cap at the end of an unquoted field are dropped, not counted.
  ASSERT_TRUE(files_.ReadField(1, &field, 10, &longer).ok());
  EXPECT_EQ(field, "abc");
  EXPECT_FALSE(longer);
  ASSERT_TRUE(files_.ReadField(1, &field, 10, &longer).ok());
  EXPECT_EQ(field, "q");
}

TEST_F(TextFilesTest, LinesEndAtCrLfCrOrLfAndRememberWhichWhateverTheirParts) {
  for (const size_t part : {std::string::npos, size_t{1}, size_t{3}}) {
    EXPECT_EQ(Lines("a\r\nbcd\nefghij\rk", part), (std::vector<Line>{{"a", LineEnd::kCrLf},
                                                                     {"bcd", LineEnd::kLf},
                                                                     {"efghij", LineEnd::kCr},
                                                                     {"k", LineEnd::kNone}}))
        << part;
    EXPECT_EQ(Lines("\n\r\n", part), (std::vector<Line>{{"", LineEnd::kLf}, {"", LineEnd::kCrLf}}))
        << part;
    EXPECT_TRUE(Lines("", part).empty()) << part;
  }
}

TEST_F(TextFilesTest, CrLfSplitAcrossBlocksIsOneLineEnd) {
  const std::string first(TextFiles::kBlockSize - 1, 'a');
  for (const size_t part : {std::string::npos, size_t{1000}}) {
    EXPECT_EQ(Lines(first + "\r\nb", part),
              (std::vector<Line>{{first, LineEnd::kCrLf}, {"b", LineEnd::kNone}}))
        << part;
  }
}

TEST_F(TextFilesTest, AnEmptyFileHasNoLineAlsoOnceRewound) {
  tree_.Write("e.txt", "");
  ASSERT_TRUE(AttachForReading(*fs_, files_, 4, tree_.Path("e.txt")).ok());
  Line line;
  EXPECT_EQ(ReadLine(4, &line).code(), ErrorCode::kEndOfInput);
  ASSERT_TRUE(files_.Rewind(4).ok());
  EXPECT_EQ(ReadLine(4, &line).code(), ErrorCode::kEndOfInput);
  EXPECT_TRUE(files_.Close(4).ok());
}

TEST_F(TextFilesTest, LineWriterEndsLinesAsAskedAndAppendingKeepsWhatWasThere) {
  ASSERT_TRUE(AttachNew(5, "out.txt").ok());
  ASSERT_TRUE(files_.WriteLine(5, "one").ok());
  ASSERT_TRUE(files_.WriteLine(5, "two", LineEnd::kLf).ok());
  ASSERT_TRUE(files_.Close(5).ok());
  EXPECT_EQ(tree_.Read("out.txt"), "one\r\ntwo\n");

  ASSERT_TRUE(files_.OpenAppend(2, tree_.Path("out.txt")).ok());
  ASSERT_TRUE(files_.WriteLine(2, "three").ok());
  ASSERT_TRUE(files_.Close(2).ok());
  EXPECT_EQ(tree_.Read("out.txt"), "one\r\ntwo\nthree\r\n");
}

TEST_F(TextFilesTest, LargeWritesGoThroughWhole) {
  const std::string big(TextFiles::kBlockSize * 2 + 7, 'b');
  ASSERT_TRUE(AttachNew(5, "big.txt").ok());
  ASSERT_TRUE(files_.WriteLine(5, "start").ok());
  ASSERT_TRUE(files_.WriteLine(5, big).ok());
  ASSERT_TRUE(files_.Close(5).ok());
  EXPECT_EQ(tree_.Read("big.txt"), "start\r\n" + big + "\r\n");
}

TEST_F(TextFilesTest, ContainsFindsTheNeedleAcrossBlocksAndRewinds) {
  const std::string needle = "needle-in-the-haystack";
  const std::string before(TextFiles::kBlockSize - 10, 'h');
  for (const std::string& content :
       {before + needle + "\nend", needle + "\n", before + needle.substr(0, 15)}) {
    tree_.Write("c.txt", content);
    ASSERT_TRUE(AttachForReading(*fs_, files_, 1, tree_.Path("c.txt")).ok());
    bool found = false;
    ASSERT_TRUE(files_.Contains(1, needle, &found, [] { return true; }).ok());
    EXPECT_EQ(found, content.find(needle) != std::string::npos);
    Line line;
    ASSERT_TRUE(ReadLine(1, &line).ok());
    EXPECT_EQ(line.text, content.substr(0, content.find('\n')));
    EXPECT_TRUE(files_.Close(1).ok());
  }
}

TEST_F(TextFilesTest, ChannelMisuseIsAnErrorNotACrash) {
  std::string text;
  EXPECT_EQ(files_.ReadField(0, &text).code(), ErrorCode::kBadChannel);
  EXPECT_EQ(files_.ReadField(TextFiles::kChannels + 1, &text).code(), ErrorCode::kBadChannel);
  EXPECT_EQ(files_.ReadField(3, &text).code(), ErrorCode::kBadChannel);
  bool at_end = false;
  EXPECT_EQ(files_.AtEnd(3, &at_end).code(), ErrorCode::kBadChannel);
  EXPECT_EQ(files_.OpenAppend(1, tree_.Path("missing/log.txt")).code(), ErrorCode::kNotFound);
  tree_.Write("a.txt", "a");
  ASSERT_TRUE(AttachForReading(*fs_, files_, 1, tree_.Path("a.txt")).ok());
  EXPECT_EQ(AttachForReading(*fs_, files_, 1, tree_.Path("a.txt")).code(), ErrorCode::kBadChannel);
  // A taken channel is refused before the file is made.
  EXPECT_EQ(files_.OpenAppend(1, tree_.Path("log.txt")).code(), ErrorCode::kBadChannel);
  EXPECT_FALSE(tree_.Exists("log.txt"));
  EXPECT_EQ(files_.WriteLine(1, "x").code(), ErrorCode::kBadChannel);
  EXPECT_TRUE(files_.Close(1).ok());
  EXPECT_EQ(files_.Close(1).code(), ErrorCode::kBadChannel);
}

}  // namespace
}  // namespace quelix
