// Pages with holes (sparse files): ranges that read as zeros and take no room on the disk. They
// cost what their data costs to scan and to clean, and a cleaned page keeps its holes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "engine/signature.h"
#include "tests/support/remove_fixture.h"

namespace quelix {
namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
const std::string kVirus = MarkerLine() + "\n" + SignatureLine() + "\n";

// A page of `size` bytes that holds only `pieces` (offset, text); the rest is holes.
struct SparsePage {
  uint64_t size;
  std::vector<std::pair<uint64_t, std::string>> pieces;

  void WriteTo(const std::string& path) const {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    for (const auto& piece : pieces) {
      ASSERT_EQ(pwrite(fd, piece.second.data(), piece.second.size(), piece.first),
                static_cast<ssize_t>(piece.second.size()));
    }
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    close(fd);
  }
  // The whole content, zeros included, up to `end`.
  std::string Text(uint64_t end) const {
    std::string text(end, '\0');
    for (const auto& piece : pieces) {
      if (piece.first >= end) continue;
      const size_t n = std::min<uint64_t>(piece.second.size(), end - piece.first);
      text.replace(piece.first, n, piece.second, 0, n);
    }
    return text;
  }
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Where `a` and `b` first differ, for a message: npos where they are equal.
size_t FirstDifference(const std::string& a, const std::string& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return at.first == a.end() && at.second == b.end() ? std::string::npos
                                                     : static_cast<size_t>(at.first - a.begin());
}

uint64_t Allocated(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return static_cast<uint64_t>(st.st_blocks) * 512;
}

class SparsePageTest : public RemoveFixture {
 protected:
  void SetUp() override {
    RemoveFixture::SetUp();
    controller().KeepOriginalsIn(log_dir_.Path("backups"), false);
  }
  // The one original the removal kept.
  std::string KeptOriginal() {
    std::error_code none;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(log_dir_.Path("backups"), none)) {
      if (entry.path().extension() == ".orig") return entry.path().string();
    }
    return "";
  }
};

struct CleanCase {
  const char* name;
  SparsePage page;
  uint64_t kept;  // where the cleaned text ends: the marker line's offset
};

class SparseCleanTest : public SparsePageTest, public ::testing::WithParamInterface<CleanCase> {};

// The cleaned page reads back as exactly its text, zeros included, and it and the kept original
// take about the room their data takes.
TEST_P(SparseCleanTest, KeepsTheHolesInTheCleanedPageAndItsBackup) {
  const CleanCase& c = GetParam();
  c.page.WriteTo(P("page.htm"));
  Scan();
  Remove();
  ASSERT_EQ(Logged("Could not remove"), std::vector<std::string>{});
  const std::string cleaned = ReadAll(P("page.htm"));
  EXPECT_EQ(cleaned.size(), c.kept);
  EXPECT_EQ(FirstDifference(cleaned, c.page.Text(c.kept)), std::string::npos);
  EXPECT_LT(Allocated(P("page.htm")), 1 * kMiB);
  const std::string kept = KeptOriginal();
  ASSERT_NE(kept, "");
  EXPECT_EQ(FirstDifference(ReadAll(kept), c.page.Text(c.page.size)), std::string::npos);
  EXPECT_LT(Allocated(kept), 1 * kMiB);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, SparseCleanTest,
    ::testing::Values(
        // 49 MiB with one block of data, infected at its end.
        CleanCase{"DataOnlyAtTheEnd",
                  {49 * kMiB, {{49 * kMiB - 4096, "<p>x</p>\n" + kVirus + "<b>after</b>\n"}}},
                  49 * kMiB - 4096 + 9},
        // Holes before the first line, inside lines, between lines, and after the virus.
        CleanCase{"HolesBetweenAndInsideLines",
                  {40 * kMiB,
                   {{8 * kMiB, "one\ntwo"},
                    {16 * kMiB, "three\n"},
                    {24 * kMiB, "\nfour\r\n"},
                    {32 * kMiB, "five\n" + kVirus}}},
                  32 * kMiB + 5}),
    [](const ::testing::TestParamInfo<CleanCase>& param) { return param.param.name; });

// A page of 1 TiB that holds 4 KiB: the scan reads its data alone and finds the virus at its end.
TEST_F(SparsePageTest, AHugeSparsePageIsScannedAtTheCostOfItsData) {
  const SparsePage page{kMiB * kMiB, {{kMiB * kMiB - 4096, "<p>x</p>\n" + kVirus}}};
  page.WriteTo(P("huge.htm"));
  Scan();
  EXPECT_EQ(window_.infected, (std::vector<std::string>{P("huge.htm")}));
  EXPECT_LT(engine().bytes_read(), 1 * kMiB);
}

// Its backup would hash 2 GiB of zeros that take no room: the page is left as it was, and says so.
TEST_F(SparsePageTest, APageMostlyOfHolesIsLeftAsItWasWhereItsOriginalIsKept) {
  const uint64_t size = 2048 * kMiB;
  const SparsePage page{size, {{size - 4096, "<p>x</p>\n" + kVirus}}};
  page.WriteTo(P("huge.htm"));
  struct stat before {};
  ASSERT_EQ(stat(P("huge.htm").c_str(), &before), 0);
  Scan();
  Remove();
  EXPECT_EQ(Logged("Could not remove"),
            (std::vector<std::string>{
                "Could not remove the virus from " + P("huge.htm") +
                ": the backup of the original could not be written (it is a sparse file, mostly "
                "empty space that takes no room on the disk)"}));
  struct stat after {};
  ASSERT_EQ(stat(P("huge.htm").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_blocks, before.st_blocks);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(KeptOriginal(), "");
}

}  // namespace
}  // namespace quelix
