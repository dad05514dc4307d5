// Tests for placeholder replacement in report texts.
#include "report/placeholder.h"

#include <gtest/gtest.h>

namespace vexa::report {
namespace {

TEST(ReplaceAll, ReplacesEveryOccurrenceLeftToRight) {
  std::string text = "<!--x--> and <!--x-->, <!--y-->";
  ReplaceAll(text, "<!--x-->", "1");
  EXPECT_EQ(text, "1 and 1, <!--y-->");
}

TEST(ReplaceAll, DoesNotRescanTheInsertedValue) {
  std::string text = "[<!--x-->][<!--x-->]";
  ReplaceAll(text, "<!--x-->", "<!--x--><!--x-->");
  EXPECT_EQ(text, "[<!--x--><!--x-->][<!--x--><!--x-->]");

  // Overlapping candidates: the scan resumes after each match.
  std::string overlap = "aaa";
  ReplaceAll(overlap, "aa", "b");
  EXPECT_EQ(overlap, "ba");
}

TEST(ReplaceAll, LaterReplacementScansEarlierValues) {
  std::string text = "<!--list--> on <!--partition-->";
  ReplaceAll(text, "<!--list-->", "<td><!--partition--></td>");
  ReplaceAll(text, "<!--partition-->", "C:\\");
  EXPECT_EQ(text, "<td>C:\\</td> on C:\\");
}

TEST(ReplaceAll, MissingOrEmptyPlaceholderChangesNothing) {
  std::string text = "no markers here";
  ReplaceAll(text, "<!--x-->", "value");
  EXPECT_EQ(text, "no markers here");
  ReplaceAll(text, "", "value");
  EXPECT_EQ(text, "no markers here");
}

TEST(ReplaceAll, EmptyValueRemovesThePlaceholder) {
  std::string text = "a<!--x-->b<!--x-->";
  ReplaceAll(text, "<!--x-->", "");
  EXPECT_EQ(text, "ab");
}

}  // namespace
}  // namespace vexa::report
