// The options before the command-line tail, and the progress line's text.
#include "app/run_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/operator_console.h"

namespace zorvex {
namespace {

using ::testing::HasSubstr;
using Args = std::vector<std::string>;

TEST(RunOptionsTest, OptionsEndAtTheTail) {
  // A tail without options is left whole.
  ParsedOptions p = ParseRunOptions({"/p", "a,b"});
  EXPECT_EQ(p.consumed, 0u);
  EXPECT_EQ(p.error, "");

  p = ParseRunOptions({"-v", "--progress", "-c", "/jobs/a/zorvex", "--retry",
                       "3", "--atomic", "/p", "a,b"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.consumed, 7u);
  EXPECT_TRUE(p.options.verbose);
  EXPECT_TRUE(p.options.progress);
  EXPECT_EQ(p.options.settings, "/jobs/a/zorvex");
  EXPECT_EQ(p.options.retries, 3);
  EXPECT_TRUE(p.options.atomic);

  // Values after "=", the long names, and "--" before a tail that starts
  // with "-".
  p = ParseRunOptions({"--settings=my job/zorvex", "--verbose", "--retry=0",
                       "--", "-odd,tail"});
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.consumed, 4u);
  EXPECT_EQ(p.options.settings, "my job/zorvex");
  EXPECT_EQ(p.options.retries, 0);

  // --help and --version are the whole command line, or the tail's start.
  EXPECT_TRUE(ParseRunOptions({"--help"}).options.help);
  EXPECT_TRUE(ParseRunOptions({"--version"}).options.version);
  p = ParseRunOptions({"-v", "--help", "--bogus"});
  EXPECT_FALSE(p.options.help);
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.consumed, 1u);
  EXPECT_EQ(ParseRunOptions({"--help", "x"}).consumed, 0u);
  EXPECT_EQ(ParseRunOptions({}).consumed, 0u);
}

TEST(RunOptionsTest, MistakesAreNamed) {
  for (const Args& args :
       {Args{"-x", "/p", "a,b"}, Args{"-c"}, Args{"--settings="},
        Args{"--retry", "many", "/p a,b"}, Args{"--retry", "-1"},
        Args{"--retry=1001"}, Args{"--retry", "2x"}, Args{"--verbose=yes"},
        Args{"-vc", "f"}}) {
    EXPECT_NE(ParseRunOptions(args).error, "") << args[0];
  }
  EXPECT_THAT(ParseRunOptions({"-x"}).error, HasSubstr("-x"));
  EXPECT_THAT(ParseRunOptions({"--retry", "many"}).error, HasSubstr("many"));
}

TEST(ProgressLineTest, ShowsWhatIsKnown) {
  // Size unknown and no rate yet: only the bytes.
  EXPECT_EQ(FormatProgress(512, 0, 0), "  512 B");
  EXPECT_EQ(FormatProgress(uint64_t{3} << 29, uint64_t{1} << 31, 0),
            "  1.5 GiB  75%");
  // With a rate, the time left rounds to whole seconds.
  EXPECT_EQ(FormatProgress(uint64_t{1} << 29, uint64_t{1} << 30,
                           double{1 << 20} * 100),
            "  512.0 MiB  50%  100.0 MiB/s  0:05 left");
  EXPECT_EQ(FormatProgress(uint64_t{1} << 20, uint64_t{601} << 20,
                           double{1 << 20}),
            "  1.0 MiB  0%  1.0 MiB/s  10:00 left");
  // Past the announced size (a server that grew the file): 100%, no time.
  EXPECT_EQ(FormatProgress(2048, 1024, 1024), "  2.0 KiB  100%  1.0 KiB/s");
}

}  // namespace
}  // namespace zorvex
