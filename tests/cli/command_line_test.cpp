// vexa's command line: commands before letters, options anywhere, and what is bad usage.
#include "command_line.h"

#include <gtest/gtest.h>

namespace cli {
namespace {

Options Parse(std::vector<std::string> args) {
  Options options;
  std::string error;
  EXPECT_TRUE(ParseCommandLine(args, &options, &error)) << error;
  return options;
}

std::string ParseError(std::vector<std::string> args) {
  Options options;
  std::string error;
  EXPECT_FALSE(ParseCommandLine(args, &options, &error));
  return error;
}

TEST(CommandLine, CommandsAreMatchedBeforeLetters) {
  EXPECT_EQ(Parse({"analyze", "ce"}).command, Command::kAnalyze);
  EXPECT_EQ(Parse({"optimize", "C"}).command, Command::kOptimize);
  // "demo" is a word of letters too; the command wins.
  EXPECT_EQ(Parse({"demo"}).command, Command::kDemo);
  EXPECT_EQ(Parse({"demo", "out dir"}).demoFolder, "out dir");
  // Letters alone are a quick defragmentation, as a scheduled run passes them.
  const Options bare = Parse({"CDE"});
  EXPECT_EQ(bare.command, Command::kDefrag);
  EXPECT_EQ(bare.letters, "CDE");
  // "DEFRAG" is not the command "defrag": it is letters.
  EXPECT_EQ(Parse({"DEFRAG"}).letters, "DEFRAG");
}

TEST(CommandLine, LettersAreUpperCasedAndEachTakenOnce) {
  EXPECT_EQ(Parse({"analyze", "cEc"}).letters, "CE");
  EXPECT_EQ(Parse({"analyze", "C:E:"}).letters, "CE");
  EXPECT_NE(ParseError({"analyze", "C1"}).find("not a list of drive letters"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", ":"}).find("not a list"), std::string::npos);
}

TEST(CommandLine, OptionsGoAnywhereAndVolumesRepeat) {
  const Options options =
      Parse({"--volume", "c=a.img", "optimize", "--json", "CE", "--volume=E:=/dev/sdb1", "--quiet", "--open"});
  EXPECT_TRUE(options.json && options.quiet && options.open);
  ASSERT_EQ(options.volumes.size(), 2u);
  EXPECT_EQ(options.volumes[0].letter, 'C');
  EXPECT_EQ(options.volumes[0].path, "a.img");
  EXPECT_EQ(options.volumes[1].letter, 'E');
  EXPECT_EQ(options.volumes[1].path, "/dev/sdb1");
  // A path may hold "=".
  EXPECT_EQ(Parse({"analyze", "C", "--volume", "C=x=y.img"}).volumes[0].path, "x=y.img");
  // After "--", a word starting with "-" is an argument.
  EXPECT_EQ(Parse({"demo", "--", "-dir"}).demoFolder, "-dir");
}

TEST(CommandLine, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(Parse({"analyze", "--help"}).command, Command::kHelp);
  EXPECT_EQ(Parse({"-h", "nonsense", "words"}).command, Command::kHelp);
  EXPECT_EQ(Parse({"--version"}).command, Command::kVersion);
}

TEST(CommandLine, BadUsageSaysWhat) {
  EXPECT_EQ(ParseError({}), "no command given");
  EXPECT_NE(ParseError({"frobnicate"}).find("unknown command"), std::string::npos);
  // A mistyped command is not taken for drive letters; short or capital words are.
  EXPECT_NE(ParseError({"analyse", "C"}).find("unknown command"), std::string::npos);
  EXPECT_EQ(Parse({"cde"}).letters, "CDE");
  EXPECT_EQ(Parse({"Cdef"}).letters, "CDEF");
  EXPECT_NE(ParseError({"defrag"}).find("wants the drive letters"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "E"}).find("unexpected argument"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--fast"}).find("unknown option --fast"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume"}).find("LETTER=PATH"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "C="}).find("LETTER=PATH"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "CD=x"}).find("LETTER=PATH"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "B=x"}).find("C to Z"), std::string::npos);
  EXPECT_NE(ParseError({"demo", "a", "b"}).find("at most one folder"), std::string::npos);
  EXPECT_NE(ParseError({"--json", "demo"}).find("--json"), std::string::npos);
}

}  // namespace
}  // namespace cli
