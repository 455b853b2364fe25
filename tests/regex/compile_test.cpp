// What the compiler makes of representative patterns, as `velmar regex
// --dump` shows it. A change in the code the compiler emits shows up here
// instruction by instruction; when it is intended, the new dump is the new
// expectation (and the matcher tests say whether it still matches alike).

#include <gtest/gtest.h>

#include "regex/reg_exp.h"
#include "support/test_support.h"

namespace velmar::testing {
namespace {

std::string Dump(std::u16string_view pattern) {
  RegExpProgram program;
  Compile(program, pattern);
  return DumpProgram(program);
}

TEST(RegExpProgramDump, ALiteralKnowsItsPrefixAndRequiredUnit) {
  EXPECT_EQ(Dump(u"abc"), R"(instructions: 6; groups: 0; slots: 0
0  call 2
1  advance
2  symbol a
3  symbol b
4  symbol c
5  accept
anchored: no
start: [Aa]
start units: A a
prefix: "abc"
required: c
leading repeat: none
min length: 3
)");
}

TEST(RegExpProgramDump, ACaptureAroundAPossessiveClassRepeat) {
  EXPECT_EQ(Dump(u"<td>{[^<]*}</td>"), R"(instructions: 20; groups: 1; slots: 0
 0  call 2
 1  advance
 2  symbol <
 3  symbol t
 4  symbol d
 5  symbol >
 6  push-group 0
 7  group-start 0
 8  call 11
 9  pop-group 0
10  return
11  repeat-greedy class 0 min 0 possessive
12  retry-greedy class 0 min 0
13  group-end 0
14  symbol <
15  symbol /
16  symbol t
17  symbol d
18  symbol >
19  accept
class 0: [^<]
anchored: no
start: [<]
start units: <
prefix: "<td>"
required: >
leading repeat: none
min length: 9
)");
}

TEST(RegExpProgramDump, AnAnchoredPatternFailsInsteadOfAdvancing) {
  EXPECT_EQ(Dump(u"^a+b"), R"(instructions: 6; groups: 0; slots: 0
0  call 2
1  fail
2  repeat-greedy symbol a min 1 possessive
3  retry-greedy symbol a min 1
4  symbol b
5  accept
anchored: yes
start: [Aa]
start units: A a
prefix: none
required: b
leading repeat: none
min length: 2
)");
}

TEST(RegExpProgramDump, AlternativesBindSingleElementsAndAreGuarded) {
  EXPECT_EQ(Dump(u"a|b|c"), R"(instructions: 18; groups: 0; slots: 0
 0  call 2
 1  advance
 2  guard-text literal 0 else 6
 3  push-pos
 4  call 7
 5  pop-pos
 6  jump 9
 7  symbol a
 8  jump 17
 9  guard-text literal 1 else 13
10  push-pos
11  call 14
12  pop-pos
13  jump 16
14  symbol b
15  jump 17
16  symbol c
17  accept
literal 0: "a"
literal 1: "b"
anchored: no
start: [A-Ca-c]
prefix: none
required: none
leading repeat: none
min length: 1
)");
}

TEST(RegExpProgramDump, AGroupRepeatedOnceOrMoreKeepsOneCopy) {
  EXPECT_EQ(Dump(u"(ab)+c"), R"(instructions: 20; groups: 0; slots: 1
 0  call 2
 1  advance
 2  push-slot 0
 3  store-pos slot 0
 4  call 14
 5  pop-slot 0
 6  return
 7  push-slot 0
 8  store-pos slot 0
 9  push-pos
10  call 14
11  pop-pos
12  pop-slot 0
13  jump 18
14  symbol a
15  symbol b
16  fail-if-no-progress slot 0
17  jump 7
18  symbol c
19  accept
anchored: no
start: [Aa]
start units: A a
prefix: none
required: c
leading repeat: none
min length: 3
)");
}

TEST(RegExpProgramDump, ALazyGroupTriesTheContinuationFirst) {
  EXPECT_EQ(Dump(u"(ab)*?c"), R"(instructions: 10; groups: 0; slots: 0
 0  call 2
 1  advance
 2  push-pos
 3  call 8
 4  pop-pos
 5  symbol a
 6  symbol b
 7  jump 2
 8  symbol c
 9  accept
anchored: no
start: [ACac]
prefix: none
required: c
leading repeat: none
min length: 1
)");
}

TEST(RegExpProgramDump, ANegationCutsWhatItTried) {
  EXPECT_EQ(Dump(u"!a."), R"(instructions: 14; groups: 0; slots: 2
 0  call 2
 1  advance
 2  store-pos slot 0
 3  store-stack slot 1
 4  call 8
 5  load-pos slot 0
 6  load-stack slot 1
 7  jump 12
 8  symbol a
 9  load-pos slot 0
10  load-stack slot 1
11  return
12  any
13  accept
anchored: no
start: any unit
prefix: none
required: none
leading repeat: none
min length: 1
)");
}

TEST(RegExpProgramDump, ABackReferenceAfterTwoCaptures) {
  EXPECT_EQ(Dump(u"{a}|{b}\\1"), R"(instructions: 23; groups: 2; slots: 0
 0  call 2
 1  advance
 2  push-pos
 3  call 6
 4  pop-pos
 5  jump 14
 6  push-group 0
 7  group-start 0
 8  call 11
 9  pop-group 0
10  return
11  symbol a
12  group-end 0
13  jump 21
14  push-group 1
15  group-start 1
16  call 19
17  pop-group 1
18  return
19  symbol b
20  group-end 1
21  back-ref group 1
22  accept
anchored: no
start: [A-Ba-b]
prefix: none
required: none
leading repeat: none
min length: 1
)");
}

TEST(RegExpProgramDump, ALeadingRepeatIsSkippedOverAfterAFailure) {
  EXPECT_EQ(Dump(u"[a-z]+@x"), R"(instructions: 7; groups: 0; slots: 0
0  call 2
1  advance
2  repeat-greedy class 0 min 1 possessive
3  retry-greedy class 0 min 1
4  symbol @
5  symbol x
6  accept
class 0: [a-z]
anchored: no
start: [A-Za-z]
prefix: none
required: x
leading repeat: 2
min length: 3
)");
}

TEST(RegExpProgramDump, EndOfTextAndOptionalLazyUnit) {
  EXPECT_EQ(Dump(u"a??b$"), R"(instructions: 7; groups: 0; slots: 0
0  call 2
1  advance
2  repeat-lazy symbol a min 0 once
3  retry-lazy symbol a min 0 once
4  symbol b
5  symbol end-of-text
6  accept
anchored: no
start: [A-Ba-b]
prefix: none
required: b
leading repeat: none
min length: 1
)");
}

TEST(RegExpProgramDump, UnitsBeyondAsciiShowAsCodePoints) {
  EXPECT_EQ(Dump(u"[^a-z中]+?文"), R"(instructions: 6; groups: 0; slots: 0
0  call 2
1  advance
2  repeat-lazy class 0 min 1
3  retry-lazy class 0 min 1
4  symbol U+6587
5  accept
class 0: [^a-zU+4E2D]
anchored: no
start: [U+0001-@[-`{-U+00FF] and every unit from U+0100
prefix: none
required: U+6587
leading repeat: none
min length: 2
)");
}

TEST(RegExpProgramDump, ARefusedPatternDumpsWhyAndWhere) {
  EXPECT_EQ(Dump(u"ab{c"), "refused: unbalanced brace at position 2\n");
}

// The command prints the same text; the pattern is read in the chosen code
// page, and a refused one is reported as when it is tried.
TEST(RegExpProgramDump, TheRegexCommandDumpsTheProgram) {
  ProcessResult r = RunVelmar({"regex", "--dump", "<td>{[^<]*}</td>"});
  if (r.out.rfind("velmar ", 0) == 0) VELMAR_SKIP_WITHOUT("velmar regex");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, Dump(u"<td>{[^<]*}</td>"));
  r = RunVelmar({"regex", "--codepage", "936", "--dump", "--", "\xd6\xd0+"});
  EXPECT_EQ(r.out, Dump(u"\u4e2d+"));
  r = RunVelmar({"regex", "--dump", "ab{c(d"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "velmar regex: unbalanced parenthesis at position 4\n  ab{c(d\n      ^\n");
  // There is no text to search with --dump.
  EXPECT_EQ(RunVelmar({"regex", "--dump", "a", "page.html"}).exitCode, 2);
}

}  // namespace
}  // namespace velmar::testing
