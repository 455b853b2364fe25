// The block tables against the scanning they replace. The scanning below is
// how the executor used to find block ends, `switch` arms and loop heads at
// run time; it lives on only here, as the reference. Generated scripts made
// of control statements, well formed or not (blocks never closed, stray
// `}`, `switch` without its `{`, `break` outside a loop, a `goto` into a
// loop body), must get the same answers from the tables and run with the
// same output and the same loop state through the executor as through a
// reference interpreter that scans.

#include "engine/block_structure.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "engine/executor.h"
#include "engine/script_program.h"
#include "logging_host.h"
#include "support/test_support.h"

namespace velmar {
namespace {

using testing::LoggingHost;
using testing::TempDir;
using Log = std::vector<std::string>;

// ---- the scanning reference ----

uint32_t ScanBlockEnd(const std::vector<ScriptCommand>& commands, uint32_t last, uint32_t a) {
  int depth = 1;
  for (uint64_t j = uint64_t{a} + 2; j <= last; ++j) {
    const int32_t id = commands[j].id;
    if (id == stmt::kBlockOpen) {
      ++depth;
    } else if (id == stmt::kBlockClose && --depth == 0) {
      return j < last ? static_cast<uint32_t>(j + 1) : a + 2;
    }
  }
  return a + 2;
}

// What entering the plain block at b pushes, bottom first.
std::vector<uint32_t> ScanEnterBlock(const std::vector<ScriptCommand>& commands, uint32_t last,
                                     uint32_t b) {
  std::vector<uint32_t> pushed;
  int depth = 1;
  for (uint64_t j = uint64_t{b} + 1; j <= last; ++j) {
    const int32_t id = commands[j].id;
    if (id == stmt::kBlockOpen) {
      ++depth;
    } else if (id == stmt::kBlockClose && --depth == 0) {
      if (j < last) pushed.push_back(static_cast<uint32_t>(j + 1));
      break;
    }
  }
  pushed.push_back(b + 1);
  return pushed;
}

// The arms a `switch` at i would look at, in order, and where it continues
// after its block (kNone when the block is not closed before the last index).
struct SwitchScan {
  std::vector<uint32_t> arms;
  uint32_t after = BlockStructure::kNone;
};
SwitchScan ScanSwitch(const std::vector<ScriptCommand>& commands, uint32_t last, uint32_t i) {
  SwitchScan scan;
  int depth = 1;
  for (uint64_t j = uint64_t{i} + 2; j <= last; ++j) {
    const int32_t id = commands[j].id;
    if (id == stmt::kBlockOpen) {
      ++depth;
    } else if (id == stmt::kBlockClose) {
      if (--depth == 0) {
        if (j < last) scan.after = static_cast<uint32_t>(j + 1);
        break;
      }
    } else if (depth == 1 && (id == stmt::kCase || id == stmt::kDefault)) {
      scan.arms.push_back(static_cast<uint32_t>(j));
    }
  }
  return scan;
}

// The control flow of the executor, scanning at every turn; literal
// conditions only ("1", "0", a case value), `show` sends its text.
class ScanningRun {
 public:
  ScanningRun(const ScriptProgram& program, std::size_t showLimit)
      : commands_(program.commands), program_(program), last_(program.lastIndex()),
        showLimit_(showLimit) {}

  Log Execute(uint32_t entry) {
    stack_ = {entry};
    while (!stack_.empty()) {
      uint32_t i = stack_.back();
      stack_.pop_back();
      if (i > last_) i = last_;
      bool advanced = false;
      if (i < last_) {
        stack_.push_back(i + 1);
        advanced = true;
      }
      if (!Step(i, advanced)) return log_;
    }
    log_.push_back("state:exit");
    return log_;
  }
  std::size_t loopRecords() const { return loops_.size(); }

 private:
  struct Loop {
    uint32_t start, end;
    std::string condition;
  };
  void Push(uint32_t i) { stack_.push_back(i); }
  // The record whose start (or end) is i, with the stale records above it
  // popped.
  Loop* LoopAt(uint32_t i, bool atStart) {
    for (std::size_t k = loops_.size(); k-- > 0;) {
      if ((atStart ? loops_[k].start : loops_[k].end) == i) {
        loops_.resize(k + 1);
        return &loops_.back();
      }
    }
    return nullptr;
  }

  bool Step(uint32_t i, bool advanced) {
    const ScriptCommand& c = commands_[i];
    auto retract = [&] {
      if (advanced) stack_.pop_back();
      advanced = false;
    };
    switch (c.id) {
      case stmt::kIf: {
        retract();
        if (i >= last_) break;
        const bool truth = IsTrueCondition(c.text);
        uint32_t e = ScanBlockEnd(commands_, last_, i);
        if (truth) {
          if (e <= last_ && commands_[e].id == stmt::kElse) e = ScanBlockEnd(commands_, last_, e);
          Push(e <= last_ ? e : last_);
          Push(i + 2);
        } else if (e <= last_) {
          Push(e);
        }
        break;
      }
      case stmt::kBlockOpen:
        if (Loop* loop = LoopAt(i, true)) {
          if (CodePage::Trim(loop->condition) == "0") {
            retract();
            loops_.pop_back();
          }
          break;
        }
        retract();
        if (i < last_) {
          for (uint32_t p : ScanEnterBlock(commands_, last_, i)) Push(p);
        }
        break;
      case stmt::kBlockClose:
        retract();
        if (Loop* loop = LoopAt(i, false)) Push(loop->start);
        break;
      case stmt::kWhile: {
        retract();
        const uint32_t end = ScanBlockEnd(commands_, last_, i) - 1;
        Push(end + 1);
        Push(i + 1);
        loops_.push_back({i + 1, end, c.text});
        break;
      }
      case stmt::kSwitch:
        retract();
        if (i < last_) {
          const SwitchScan scan = ScanSwitch(commands_, last_, i);
          if (scan.after != BlockStructure::kNone) Push(scan.after);
          for (uint32_t k : scan.arms) {
            if (commands_[k].id == stmt::kDefault || commands_[k].text == c.text) {
              Push(k < last_ ? k + 1 : last_);
              break;
            }
          }
        }
        break;
      case stmt::kBreak:
      case stmt::kReturn:
        retract();
        break;
      case stmt::kGoto:
        retract();
        if (const uint32_t* index = program_.FindLabel(c.text)) {
          Push(*index);
        } else {
          log_.push_back("alert");
          stack_.clear();
        }
        break;
      case stmt::kExit:
        log_.push_back("state:exit");
        return false;
      case stmt::kShow:
        log_.push_back("show:" + c.text);
        if (log_.size() >= showLimit_) stack_.clear();
        break;
      default:
        break;
    }
    return true;
  }

  const std::vector<ScriptCommand>& commands_;
  const ScriptProgram& program_;
  uint32_t last_;
  std::size_t showLimit_;
  std::vector<uint32_t> stack_;
  std::deque<Loop> loops_;
  Log log_;
};

// ---- generated scripts ----

// A script of control lines drawn at random, braces favoured so that blocks
// nest, but nothing forces them to balance. Every place a jump back can land
// (a label, the line after `while`, the line after `{`) is followed by a
// `show`, so that a run that loops reaches the show limit and ends.
std::string GenerateScript(std::mt19937& random, int lines) {
  static const char* const kLines[] = {
      "{",        "{",       "{",      "}",        "}",      "}",         "if 1",   "if 0",
      "else",     "while 1", "while 0", "switch b", "switch z", "case a", "case b", "default",
      "break",    "show x",  "show y",  "show z",   "<l1>",   "<l2>",      "goto <l1>", "goto <l2>"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kLines) - 1);
  std::bernoulli_distribution coin;
  std::string text;
  for (int n = 0; n < lines; ++n) {
    const std::string line = kLines[pick(random)];
    text += line + "\r\n";
    if (line == "{" || line[0] == '<') {
      text += "show " + std::to_string(n) + "\r\n";
    } else if (line.rfind("while", 0) == 0) {
      text += coin(random) ? "{\r\nshow w\r\n" : "show w\r\n";
    }
  }
  return text;
}

class BlockStructureTest : public ::testing::Test {
 protected:
  TempDir dir;
  EngineEnvironment env = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
};

TEST_F(BlockStructureTest, TablesAnswerLikeTheScanAtEveryIndex) {
  std::mt19937 random(23);
  for (int round = 0; round < 400; ++round) {
    const ScriptProgram program = parseScript(GenerateScript(random, 1 + round % 40), env);
    const auto& commands = program.commands;
    const uint32_t last = program.lastIndex();
    const BlockStructure& s = program.structure;
    ASSERT_TRUE(s.Covers(commands.size(), last));
    for (uint32_t a = 0; a <= last; ++a) {
      SCOPED_TRACE("round " + std::to_string(round) + " index " + std::to_string(a));
      ASSERT_EQ(s.BlockEnd(a), ScanBlockEnd(commands, last, a));
      std::vector<uint32_t> entered;
      const uint32_t close = s.CloseAfter(a);
      if (close != BlockStructure::kNone && close < last) entered.push_back(close + 1);
      entered.push_back(a + 1);
      ASSERT_EQ(entered, ScanEnterBlock(commands, last, a));
      const SwitchScan scan = ScanSwitch(commands, last, a);
      std::vector<uint32_t> arms;
      for (uint32_t k = s.FirstArm(a); k != BlockStructure::kNone; k = s.NextArm(k)) arms.push_back(k);
      ASSERT_EQ(arms, scan.arms);
      const uint32_t after = s.CloseAfter(a + 1);
      ASSERT_EQ(after != BlockStructure::kNone && after < last ? after + 1 : BlockStructure::kNone,
                scan.after);
    }
  }
}

TEST_F(BlockStructureTest, GeneratedScriptsRunAsWithTheScan) {
  std::mt19937 random(2026);
  constexpr std::size_t kShowLimit = 40;
  for (int round = 0; round < 300; ++round) {
    const std::string script = GenerateScript(random, 2 + round % 30);
    SCOPED_TRACE(script);
    const ScriptProgram program = parseScript(script, env);
    ScanningRun reference(program, kShowLimit);
    const Log expected = reference.Execute(0);

    LoggingHost host(env);
    std::size_t shows = 0;
    host.onRequest = [&](const HostRequest& request, const std::string&) {
      if (request.code == REQ_SHOW && ++shows >= kShowLimit) request.instance->executionStack.clear();
    };
    ScriptContext ctx(env);
    ctx.host = &host;
    ctx.program = &program;
    ctx.lastIndex = program.lastIndex();
    ctx.executionStack.push_back(0);
    runScript(ctx);
    Log got;
    for (const std::string& line : host.log()) got.push_back(line.rfind("alert:", 0) == 0 ? "alert" : line);
    ASSERT_EQ(got, expected);
    ASSERT_EQ(ctx.loopStack.size(), reference.loopRecords());
  }
}

// The cases a person would write by hand, spelled out: each must end where
// the language has always ended it.
TEST_F(BlockStructureTest, OddStructuresKeepTheirMeaning) {
  auto run = [&](const std::string& script) {
    const ScriptProgram program = parseScript(script, env);
    LoggingHost host(env);
    ScriptContext ctx(env);
    ctx.host = &host;
    ctx.program = &program;
    ctx.lastIndex = program.lastIndex();
    ctx.executionStack.push_back(0);
    runScript(ctx);
    return host.log();
  };
  // An `if` whose block is never closed runs on to the end when true and
  // skips only its `{` when false.
  EXPECT_EQ(run("if 0\r\n{\r\nshow a\r\n"), (Log{"show:a", "state:exit"}));
  // A stray `}` returns to whatever lies below: here nothing.
  EXPECT_EQ(run("show a\r\n}\r\nshow b\r\n"), (Log{"show:a", "state:exit"}));
  // A `switch` without its `{` takes the arms up to the first `}` below it.
  EXPECT_EQ(run("switch b\r\ncase a\r\nshow A\r\ncase b\r\nshow B\r\n}\r\nshow after\r\n"),
            (Log{"show:B", "show:after", "state:exit"}));
  // A nested switch's arms belong to it alone.
  EXPECT_EQ(run("switch b\r\n{\r\ncase a\r\nswitch q\r\n{\r\ncase b\r\nshow inner\r\n}\r\n"
                "case b\r\nshow outer\r\n}\r\n"),
            (Log{"show:outer", "state:exit"}));
}

// A program built by hand has no tables; the executor makes its own.
TEST_F(BlockStructureTest, ProgramWithoutTablesStillRuns) {
  ScriptProgram program;
  program.commands = {{stmt::kIf, "0"}, {stmt::kBlockOpen, {}}, {stmt::kShow, "in"},
                      {stmt::kBlockClose, {}}, {stmt::kShow, "out"}, {stmt::kExit, {}}};
  LoggingHost host(env);
  ScriptContext ctx(env);
  ctx.host = &host;
  ctx.program = &program;
  ctx.lastIndex = program.lastIndex();
  ctx.executionStack.push_back(0);
  runScript(ctx);
  EXPECT_EQ(host.log(), (Log{"show:out", "state:exit"}));
}

// Deep nesting resolves in linear time and without recursion.
TEST_F(BlockStructureTest, HundredThousandNestedBlocks) {
  std::string script;
  for (int n = 0; n < 100000; ++n) script += "if 1\r\n{\r\n";
  script += "show deep\r\n";
  for (int n = 0; n < 100000; ++n) script += "}\r\n";
  const ScriptProgram program = parseScript(script, env);
  EXPECT_EQ(program.structure.BlockEnd(0), program.lastIndex());
  EXPECT_EQ(program.structure.CloseAfter(1), program.lastIndex() - 1);
}

}  // namespace
}  // namespace velmar
