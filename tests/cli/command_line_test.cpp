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
  EXPECT_EQ(Parse({"C:E:"}).letters, "CE");
}

TEST(CommandLine, ScheduleAddAloneTakesTheVolumesOfTheScheduledRun) {
#ifndef _WIN32
  const Options add = Parse({"schedule", "add", "ce", "--volume", "E=/dev/sdb1", "--volume", "C=a.img"});
  EXPECT_EQ(add.scheduleAction, ScheduleAction::kAdd);
  EXPECT_EQ(add.letters, "CE");
  ASSERT_EQ(add.volumes.size(), 2u);
  EXPECT_EQ(add.volumes[0].letter, 'E');
  EXPECT_EQ(add.volumes[1].path, "a.img");
  EXPECT_NE(ParseError({"schedule", "show", "--volume", "C=a.img"}).find("--volume only with add"), std::string::npos);
  EXPECT_NE(ParseError({"schedule", "remove", "--volume", "C=a.img"}).find("--volume only with add"),
            std::string::npos);
#endif
  EXPECT_NE(ParseError({"options", "--volume", "C=a.img"}).find("no --volume"), std::string::npos);
  EXPECT_NE(ParseError({"schedule", "add", "C", "--json"}).find("no --json"), std::string::npos);
}

TEST(CommandLine, BareWordsNeverBecomeAJobUnlessAllCapitals) {
  // Lower-case or mixed words are mistyped commands, each with a hint at what was meant.
  const std::string ce = ParseError({"ce"});
  EXPECT_NE(ce.find("unknown command \"ce\""), std::string::npos) << ce;
  EXPECT_NE(ce.find("vexa CE"), std::string::npos) << ce;
  // "LS" would defragment L and S: never offered; how commands and letters are written is.
  const std::string ls = ParseError({"ls"});
  EXPECT_EQ(ls.find("vexa LS"), std::string::npos) << ls;
  EXPECT_NE(ls.find("commands are words"), std::string::npos) << ls;
  EXPECT_NE(ls.find("drive letters alone are capitals"), std::string::npos) << ls;
  EXPECT_NE(ParseError({"rm"}).find("unknown command"), std::string::npos);
  EXPECT_NE(ParseError({"c:"}).find("vexa C"), std::string::npos);
  EXPECT_NE(ParseError({"Cdef"}).find("unknown command"), std::string::npos);
  // Near misses of a command name it; far words list the commands.
  EXPECT_NE(ParseError({"analyse", "C"}).find("did you mean \"analyze\""), std::string::npos);
  EXPECT_NE(ParseError({"defarg", "C"}).find("did you mean \"defrag\""), std::string::npos);
  EXPECT_NE(ParseError({"optim", "C"}).find("did you mean \"optimize\""), std::string::npos);
  const std::string far = ParseError({"frobnicate"});
  EXPECT_NE(far.find("commands are words: analyze, defrag, optimize"), std::string::npos) << far;
  EXPECT_EQ(far.find("did you mean"), std::string::npos) << far;
  EXPECT_NE(ParseError({"schedul"}).find("did you mean \"schedule\""), std::string::npos);
  EXPECT_EQ(ParseError({"ls"}).find("did you mean"), std::string::npos) << "two letters are no near miss";
  // After a command, letters may be lower case.
  EXPECT_EQ(Parse({"defrag", "ce"}).letters, "CE");
  EXPECT_EQ(Parse({"optimize", "c:"}).letters, "C");
}

TEST(CommandLine, ShortOptionsCombine) {
  EXPECT_EQ(Parse({"-qh"}).command, Command::kHelp);
  EXPECT_EQ(Parse({"-V"}).command, Command::kVersion);
  const Options quiet = Parse({"-q", "analyze", "C"});
  EXPECT_TRUE(quiet.quiet);
  EXPECT_EQ(ParseError({"-qx", "analyze", "C"}), "unknown option -x in -qx");
  // -v and a bare "help" are what many programs take them for.
  EXPECT_EQ(Parse({"-v"}).command, Command::kVersion);
  EXPECT_EQ(Parse({"help"}).command, Command::kHelp);
  EXPECT_EQ(ParseError({"-x", "analyze", "C"}), "unknown option -x");
}

TEST(CommandLine, MinFreeTakesBytesOrPowersOf1024) {
  std::uint64_t bytes = 0;
  ASSERT_TRUE(ParseSize("0", &bytes));
  EXPECT_EQ(bytes, 0u);
  ASSERT_TRUE(ParseSize("4096", &bytes));
  EXPECT_EQ(bytes, 4096u);
  ASSERT_TRUE(ParseSize("64k", &bytes));
  EXPECT_EQ(bytes, 65536u);
  ASSERT_TRUE(ParseSize("1M", &bytes));
  EXPECT_EQ(bytes, 1048576u);
  ASSERT_TRUE(ParseSize("2G", &bytes));
  EXPECT_EQ(bytes, 2147483648u);
  for (const char* bad : {"", "M", "1.5M", "-1", "1MB", "1 M", "1T", "99999999999G", "99999999999999999999"}) {
    EXPECT_FALSE(ParseSize(bad, &bytes)) << bad;
  }
  EXPECT_EQ(*Parse({"defrag", "C", "--min-free", "1M"}).minFree, 1048576u);
  EXPECT_EQ(*Parse({"--min-free=512", "C"}).minFree, 512u);
  EXPECT_FALSE(Parse({"defrag", "C"}).minFree.has_value());
  EXPECT_NE(ParseError({"defrag", "C", "--min-free", "lots"}).find("K, M or G"), std::string::npos);
  EXPECT_NE(ParseError({"defrag", "C", "--min-free"}).find("wants a size"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--min-free", "1M"}).find("defrag and optimize"), std::string::npos);
}

TEST(CommandLine, SizesForMessagesAreCutNeverRoundedUp) {
  EXPECT_EQ(SizeText(52428800), "50 MiB");
  EXPECT_EQ(SizeText(52428799), "49.9 MiB") << "just short of 50 MiB must not read as 50 MiB";
  EXPECT_EQ(SizeText(31667404), "30.2 MiB");
  EXPECT_EQ(SizeText(512), "512 bytes");
  EXPECT_EQ(SizeText(1457664), "1.3 MiB");
  EXPECT_EQ(SizeText(65536), "64 KiB");
  EXPECT_EQ(SizeText(3ULL << 30), "3 GiB");
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
  EXPECT_EQ(Parse({"-h", "-V"}).command, Command::kHelp);
}

TEST(CommandLine, BadUsageSaysWhat) {
  EXPECT_EQ(ParseError({}), "no command given");
  EXPECT_NE(ParseError({"frobnicate"}).find("unknown command"), std::string::npos);
  // A mistyped command is not taken for drive letters; short or capital words are.
  EXPECT_NE(ParseError({"analyse", "C"}).find("unknown command"), std::string::npos);
  EXPECT_NE(ParseError({"defrag"}).find("wants the drive letters"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "E"}).find("unexpected argument"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--fast"}).find("unknown option --fast"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume"}).find("LETTER=PATH"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "C="}).find("LETTER=PATH"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "CD=x"}).find("LETTER=PATH"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "B=x"}).find("C to Z"), std::string::npos);
  EXPECT_NE(ParseError({"analyze", "C", "--volume", "A=f.img"}).find("--volume F=f.img"), std::string::npos);
  // One letter, two images: which one was meant is not guessed.
  const std::string twice = ParseError({"defrag", "C", "--volume", "C=a.img", "--volume=c=b.img"});
  EXPECT_NE(twice.find("--volume C= is given twice (a.img and b.img)"), std::string::npos) << twice;
  EXPECT_EQ(Parse({"defrag", "CE", "--volume", "C=a.img", "--volume", "E=a2.img"}).volumes.size(), 2u);
  EXPECT_NE(ParseError({"demo", "a", "b"}).find("at most one folder"), std::string::npos);
  EXPECT_NE(ParseError({"--json", "demo"}).find("--json"), std::string::npos);
}

TEST(CommandLine, PerFileCommandsTakeOneLetterAndVolumePathsInAnySpelling) {
  const Options check = Parse({"check", "c:", "/GAMES/X.ISO", "\\games\\y.iso", "C:\\A\\B", "z.bin", "--max-pieces", "40"});
  EXPECT_EQ(check.command, Command::kCheck);
  EXPECT_EQ(check.letters, "C");
  EXPECT_EQ(check.paths, (std::vector<std::string>{"C:\\GAMES\\X.ISO", "C:\\games\\y.iso", "C:\\A\\B", "C:\\z.bin"}));
  EXPECT_EQ(check.maxPieces, 40u);
  EXPECT_TRUE(Parse({"check", "E"}).paths.empty());  // the whole volume
  EXPECT_EQ(Parse({"check", "E"}).maxPieces, 1u);

  const Options put = Parse({"put", "C", "game.iso", "/GAMES/", "--replace", "--max-pieces=3"});
  EXPECT_EQ(put.source, "game.iso");
  EXPECT_EQ(put.paths, std::vector<std::string>{"C:\\GAMES\\"});  // the trailing separator stays
  EXPECT_TRUE(put.replace);
  EXPECT_TRUE(Parse({"contig", "C", "/X.ISO", "--make-room"}).makeRoom);

  // "." and ".." resolve by name, for check as for put; ".." at the root stays there.
  EXPECT_EQ(Parse({"check", "C", "/GAMES/../SAVES/./A.SAV"}).paths, std::vector<std::string>{"C:\\SAVES\\A.SAV"});
  EXPECT_EQ(Parse({"check", "C", "/GAMES/.."}).paths, std::vector<std::string>{"C:\\"});
  EXPECT_EQ(Parse({"check", "C", "../../X"}).paths, std::vector<std::string>{"C:\\X"});
  EXPECT_EQ(Parse({"put", "C", "a", "/GAMES/NEW/.."}).paths, std::vector<std::string>{"C:\\GAMES\\"});
  EXPECT_EQ(Parse({"check", "C", "//GAMES//X.ISO"}).paths, std::vector<std::string>{"C:\\GAMES\\X.ISO"});

  EXPECT_NE(ParseError({"check", "CE"}).find("one drive letter"), std::string::npos);
  EXPECT_NE(ParseError({"check", "C", "E:\\X.ISO"}).find("on drive E:"), std::string::npos);
  EXPECT_NE(ParseError({"contig", "C"}).find("paths"), std::string::npos);
  EXPECT_NE(ParseError({"put", "C", "game.iso"}).find("put wants"), std::string::npos);
  EXPECT_NE(ParseError({"check", "C", "--max-pieces", "0"}).find("--max-pieces"), std::string::npos);
  EXPECT_NE(ParseError({"check", "C", "--max-pieces", "-2"}).find("--max-pieces"), std::string::npos);
  EXPECT_NE(ParseError({"put", "C", "a", "b", "--make-room"}).find("--make-room is for contig"), std::string::npos);
  EXPECT_NE(ParseError({"check", "C", "--replace"}).find("--replace is for put"), std::string::npos);
  EXPECT_NE(ParseError({"contig", "C", "/X", "--max-pieces", "2"}).find("check and put"), std::string::npos);
  EXPECT_NE(ParseError({"defrag", "C", "--make-room"}).find("check, contig and put"), std::string::npos);
}

TEST(CommandLine, FileNamesWindowsReservesOrFatForbidsAreNamed) {
  for (const char* fine : {"GAME.ISO", "My Game (EU).iso", "CONSOLE.TXT", "COM0", "LPT10.BIN", "aux_file", ".hidden"}) {
    EXPECT_EQ(FileNameProblem(fine), "") << fine;
  }
  for (const char* device : {"CON", "con", "aux.txt", "Nul.tar.gz", "COM1", "lpt9.log", "PRN "}) {
    EXPECT_NE(FileNameProblem(device).find("Windows reserves the name"), std::string::npos) << device;
  }
  EXPECT_NE(FileNameProblem("a?b.iso").find("cannot contain \"?\""), std::string::npos);
  EXPECT_NE(FileNameProblem("x|y").find("\"|\""), std::string::npos);
  EXPECT_NE(FileNameProblem(std::string("tab\there")).find("control characters"), std::string::npos);
  EXPECT_NE(FileNameProblem("...").find("dots and spaces"), std::string::npos);
}

}  // namespace
}  // namespace cli
