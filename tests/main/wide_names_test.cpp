#include <gtest/gtest.h>

#include <vector>

#include "wide_names.h"

using namespace shrinkwell;

namespace {

// All arguments after the program name, split the way the command line is.
template <typename String>
std::vector<String> SplitAll(const String& line) {
  std::vector<String> arguments;
  size_t pos = 0;
  SplitNextArgument(line, pos, pos);  // the program name
  for (;;) {
    String argument = SplitNextArgument(line, pos, pos);
    if (argument.empty()) break;
    arguments.push_back(argument);
  }
  return arguments;
}

using Narrow = std::vector<std::string>;

}  // namespace

TEST(SplitNextArgument, ExamplesOfTheCommandLineRule) {
  EXPECT_EQ(SplitAll<std::string>("prog a.jpg \"b c.jpg\""), (Narrow{"a.jpg", "b c.jpg"}));
  EXPECT_EQ(SplitAll<std::string>("prog \"\" a.jpg"), (Narrow{"a.jpg"}));
  EXPECT_EQ(SplitAll<std::string>("prog x\"y z\"w"), (Narrow{"xy zw"}));
  EXPECT_EQ(SplitAll<std::string>("prog \"open end"), (Narrow{"open end"}));
  EXPECT_EQ(SplitAll<std::string>("prog C:\\dir\\ a"), (Narrow{"C:\\dir\\", "a"}));
}

TEST(SplitNextArgument, SeparatorsAreAllControlCharacters) {
  EXPECT_EQ(SplitAll<std::string>("prog\ta.jpg\x01\x1f" "b.jpg\r\nc.jpg   "), (Narrow{"a.jpg", "b.jpg", "c.jpg"}));
  // A backslash does not escape a quote.
  EXPECT_EQ(SplitAll<std::string>("prog \"a\\\" b"), (Narrow{"a\\", "b"}));
  // Empty quoted arguments neither count nor shift the numbering.
  EXPECT_EQ(SplitAll<std::string>("prog \"\" \"\"  x \"\""), (Narrow{"x"}));
  // Multi-byte characters pass through unchanged.
  EXPECT_EQ(SplitAll<std::string>("prog \xC3\xA9t\xC3\xA9.jpg"), (Narrow{"\xC3\xA9t\xC3\xA9.jpg"}));
}

TEST(SplitNextArgument, WideLineFollowsTheSameRule) {
  const auto arguments = SplitAll<std::u16string>(u"\"C:\\Program Files\\prog.exe\" u\"m l\"\u00e4ut.jpg \"\" \u65e5.JPG");
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(arguments[0], u"um l\u00e4ut.jpg");
  EXPECT_EQ(arguments[1], u"\u65e5.JPG");
}

TEST(WideNames, ConversionKeepsEveryByteString) {
  const std::string names[] = {
      "plain.jpg", "\xC3\xA4pfel.jpg", "\xE6\x97\xA5\xE6\x9C\xAC.jpg", "\xF0\x9F\x93\xB7 camera.jpg",
      // Latin-1 bytes, a cut sequence, an overlong form and an encoded surrogate: not UTF-8.
      "caf\xE9.jpg", "cut\xE6\x97.jpg", "\xC0\xAF.jpg", "\xED\xA0\x80.jpg"};
  for (const std::string& name : names) EXPECT_EQ(ToNarrow(ToWide(name)), name);
  EXPECT_EQ(ToWide("\xC3\xA4"), u"\u00e4");
  EXPECT_EQ(ToWide("\xF0\x9F\x93\xB7"), u"\U0001F4F7");
}

TEST(WideNames, EmptyArgumentsAreDropped) {
  const char* argv[] = {"shrinkwell", "a.jpg", "", "b c.jpg", "\xC3\xA4.JPG"};
  SetCommandLine(5, argv);
  EXPECT_EQ(ArgumentCount(), 3);
  EXPECT_EQ(ArgumentAt(1), u"a.jpg");
  EXPECT_EQ(ArgumentAt(2), u"b c.jpg");
  EXPECT_EQ(ArgumentAt(3), u"\u00e4.JPG");
  EXPECT_EQ(ArgumentAt(4), u"");
  EXPECT_EQ(ArgumentAt(0).front(), u'/');  // the executable's full path
}
