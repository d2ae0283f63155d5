// The command line's parts that need no tree: its options, exclude patterns and JSON strings.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "cli/report.h"
#include "cli/shell_pattern.h"
#include "platform/file_system.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

TEST(CliOptionsTest, CommandsOptionsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // empty: parsed
  };
  const Case cases[] = {
      {{"scan", "/srv", "--quiet", "/www"}, ""},
      {{"remove", "--log", "l.txt", "--no-registry", "--", "-odd"}, ""},
      {{"--version"}, ""},
      {{"scan", "--help"}, ""},
      {{}, "no command given"},
      {{"clean", "/srv"}, "unknown command clean"},
      {{"scan"}, "no PATH given"},
      {{"scan", "--fast", "/srv"}, "unknown option --fast"},
      {{"scan", "/srv", "--log"}, "--log needs a FILE"},
      {{"scan", "/srv", "--log", "x", "--no-log"}, "--log and --no-log together"},
      {{"scan", "--exclude", "a", "--exclude=b", "--json", "/srv"}, ""},
      {{"scan", "/srv", "--exclude"}, "--exclude needs a PATTERN"},
      {{"watch", "--remove", "/srv"}, ""},
      {{"watch"}, "no PATH given"},
      {{"remove", "--remove", "/srv"}, "--remove is an option of watch"},
  };
  for (const Case& c : cases) {
    CliOptions options;
    std::string error;
    EXPECT_EQ(ParseOptions(c.args, &options, &error), c.error.empty()) << c.args.size();
    EXPECT_EQ(error, c.error);
  }
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseOptions(cases[1].args, &options, &error));
  EXPECT_EQ(options.paths, Lines{"-odd"});
  EXPECT_EQ(options.log_file, "l.txt");
  EXPECT_TRUE(options.no_registry);
  ASSERT_TRUE(ParseOptions(cases[10].args, &options, &error));
  EXPECT_EQ(options.excludes, (Lines{"a", "b"}));
  EXPECT_TRUE(options.json);
  for (const char* help : {"-h", "/?"}) {
    CliOptions asked;
    ASSERT_TRUE(ParseOptions({help}, &asked, &error)) << help;
    EXPECT_EQ(asked.command, CliOptions::Command::kHelp) << help;
  }
}

// On Windows names compare without case, so patterns do too.
TEST(ShellPatternTest, MatchesAsTheShellDoes) {
  struct Case {
    const char* pattern;
    const char* text;
    bool matches;
    bool on_windows;
  };
  const Case cases[] = {
      {"Cache", "cache", false, true},
      {"*/CACHE/*", "a/cache/b.htm", false, true},
      {"[A-C]*.BAK", "b/x.bak", false, true},
      {"Cache", "cachE2", false, false},
      {"cache", "cache", true, true},
      {"cache", "a/cache", false, false},
      {"*/cache", "a/b/cache", true, true},
      {"*/cache", "cache", false, false},
      {"*.bak", "a/old.htm.bak", true, true},
      {"*.bak", "a.bak.htm", false, false},
      {"p?.htm", "p1.htm", true, true},
      {"p?.htm", "p12.htm", false, false},
      {"[a-c]*", "b/x", true, true},
      {"[!a-c]*", "b/x", false, false},
      {"[]x]", "]", true, true},
      {"\\*", "*", true, true},
      {"\\*", "x", false, false},
      {"a*b*c", "a-b-b-c", true, true},
      {"a*b*c", "a-b-b-d", false, false},
      {"[", "[", true, true},
      {"", "", true, true},
      {"*", "", true, true},
  };
  const bool windows = CreateNativeFileSystem()->Separator() == '\\';
  for (const Case& c : cases) {
    EXPECT_EQ(ExcludePatterns({c.pattern}).Match(c.text), windows ? c.on_windows : c.matches)
        << c.pattern << " " << c.text;
  }
}

TEST(JsonStringTest, KeepsEveryByteRecoverable) {
  const std::pair<std::string, std::string> cases[] = {
      {"/srv/a b.htm", R"("/srv/a b.htm")"},
      {"new\nline \"q\" back\\slash", R"("new\nline \"q\" back\\slash")"},
      {"\x01\x1b\x7f\t\r", R"("\u0001\u001b\u007f\t\r")"},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"bad\xff\xc3", R"("bad\udcff\udcc3")"},
  };
  for (const auto& [bytes, json] : cases) EXPECT_EQ(JsonString(bytes), json) << json;
}

}  // namespace
}  // namespace quelix
