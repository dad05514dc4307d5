// Tests for the HTML escaping of volume texts.
#include "report/html_escape.h"

#include <gtest/gtest.h>

namespace vexa::report {
namespace {

TEST(HtmlEscape, ReplacesTheFiveMarkupCharacters) {
  EXPECT_EQ(EscapeHtml("a<b>&c.txt"), "a&lt;b&gt;&amp;c.txt");
  EXPECT_EQ(EscapeHtml("\"quoted\" 'single'"), "&quot;quoted&quot; &#39;single&#39;");
  // An already escaped text is escaped again: the page must show it as it is on disk.
  EXPECT_EQ(EscapeHtml("&amp;"), "&amp;amp;");
}

TEST(HtmlEscape, KeepsEveryOtherByte) {
  const std::string ansi = "C:\\Donn\xE9" "es\\r\xE9sum\xE9 (1).doc";
  EXPECT_EQ(EscapeHtml(ansi), ansi);
  EXPECT_EQ(EscapeHtml(""), "");
}

TEST(HtmlEscape, AppendsToWhatIsThere) {
  std::string out = "<td>";
  AppendEscapedHtml(out, "<!--table-->");
  EXPECT_EQ(out, "<td>&lt;!--table--&gt;");
}

}  // namespace
}  // namespace vexa::report
