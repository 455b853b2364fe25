#include "ext/jscript_host.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/console_host.h"
#include "platform/stop_signal.h"
#include "support/console_run.h"
#include "support/test_support.h"

namespace velmar {
namespace {

const CodePage& kUtf8 = CodePage::Get(CodePage::kUtf8);
const CodePage& kGbk = CodePage::Get(CodePage::kGbk);

// Evaluates and answers the text, or "FAILED: " + errorText.
std::string Eval(JScriptHost& js, const std::string& text, const CodePage& cp = kUtf8) {
  std::string result = "unchanged";
  if (!js.evalExpression(text, cp, result)) return "FAILED: " + js.errorText();
  return result;
}

bool Fails(JScriptHost& js, const std::string& text) {
  std::string result = "unchanged";
  const bool ok = js.evalExpression(text, kUtf8, result);
  EXPECT_EQ(result, "unchanged") << text;
  return !ok;
}

TEST(JScriptHost, ValuesBecomeText) {
  JScriptHost js;
  ASSERT_TRUE(js.available());
  EXPECT_EQ(Eval(js, "1+2"), "3");
  EXPECT_EQ(Eval(js, "0.1+0.2"), "0.30000000000000004");
  EXPECT_EQ(Eval(js, "3>2"), "true");
  EXPECT_EQ(Eval(js, "undefined"), "");
  EXPECT_EQ(Eval(js, "null"), "");
  EXPECT_EQ(Eval(js, ""), "");
  EXPECT_EQ(Eval(js, "new String('w')"), "w");
  EXPECT_EQ(Eval(js, "new Number(7)"), "7");
  EXPECT_EQ(Eval(js, "new Boolean(false)"), "false");
  // Objects other than the three wrappers have no text.
  EXPECT_TRUE(Fails(js, "({a:1})"));
  EXPECT_TRUE(Fails(js, "[1,2]"));
  EXPECT_TRUE(Fails(js, "(function(){})"));
  EXPECT_TRUE(Fails(js, "Object.create(String.prototype)"));
  EXPECT_TRUE(Fails(js, "Symbol('s')"));
  // Scripts replacing the wrappers' methods do not change what counts as
  // one.
  EXPECT_EQ(Eval(js, "String.prototype.valueOf = function(){ return 'x'; }; new String('s')"), "s");

  JScriptValue value;
  ASSERT_TRUE(js.runEval("new Number(2.5)", kUtf8, value));
  EXPECT_EQ(value.type, JScriptValue::Type::kNumber);
  EXPECT_EQ(value.text, "2.5");
  ASSERT_TRUE(js.runEval("null", kUtf8, value));
  EXPECT_EQ(value.type, JScriptValue::Type::kNull);
}

TEST(JScriptHost, GlobalsPersistVarsStayLocal) {
  JScriptHost js;
  EXPECT_EQ(Eval(js, "x=5"), "5");
  EXPECT_EQ(Eval(js, "x*2"), "10");
  EXPECT_EQ(Eval(js, "var y=1; y+1"), "2");
  EXPECT_EQ(Eval(js, "typeof y"), "undefined");
  EXPECT_EQ(Eval(js, "function twice(n){return 2*n;} twice(4)"), "8");
  EXPECT_EQ(Eval(js, "typeof twice"), "undefined");
  EXPECT_EQ(Eval(js, "this.g = function(){return 'g';}; g()"), "g");
  EXPECT_EQ(Eval(js, "g()"), "g");

  // Each host has its own engine.
  JScriptHost other;
  EXPECT_EQ(Eval(other, "typeof x"), "undefined");
}

TEST(JScriptHost, WrapperAndProcedures) {
  JScriptHost js;
  JScriptValue value;
  // Without the wrapper nothing runs.
  EXPECT_FALSE(js.runEval("z=1", kUtf8, value));
  ASSERT_TRUE(js.loadEvalWrapper());
  EXPECT_EQ(js.procedureNames(), std::vector<std::string>{"qzk47eval"});
  EXPECT_TRUE(js.runEval("z=1", kUtf8, value));
  // A script may replace the procedure; the engine then runs its version.
  EXPECT_EQ(Eval(js, "qzk47eval = function(s){ return 'mine'; }; 1"), "1");
  EXPECT_EQ(Eval(js, "2"), "mine");
}

TEST(JScriptHost, ErrorsAndTheirText) {
  JScriptHost js;
  EXPECT_TRUE(Fails(js, "1+"));
  EXPECT_EQ(js.errorText().rfind("Error: SyntaxError", 0), 0u) << js.errorText();

  EXPECT_TRUE(Fails(js, "1;\nvar a = 2;\nnosuch + 1"));
  EXPECT_EQ(js.errorText().rfind("Error: ReferenceError", 0), 0u) << js.errorText();
  EXPECT_NE(js.errorText().find(", nosuch + 1; in line 3"), std::string::npos) << js.errorText();

  // Thrown values that are no Error objects, including ones whose own
  // conversion throws or loops.
  EXPECT_TRUE(Fails(js, "throw 5"));
  EXPECT_EQ(js.errorText(), "Error: 5, ; in line 0");
  EXPECT_TRUE(Fails(js, "throw null"));
  EXPECT_TRUE(
      Fails(js, "throw {toString: function(){ throw {toString: function(){ throw 1; }}; }}"));
  EXPECT_TRUE(Fails(js, "throw Object.create(null)"));

  // Long messages are cut to 256 bytes, never inside a character.
  EXPECT_TRUE(Fails(js, "throw new Error(new Array(400).join('x'))"));
  EXPECT_EQ(js.errorText().size(), 256u);
  EXPECT_TRUE(Fails(js, "throw new Error(new Array(400).join('\u4e2d'))"));
  EXPECT_LE(js.errorText().size(), 256u);
  EXPECT_GE(js.errorText().size(), 254u);
  EXPECT_EQ(kUtf8.ToUtf8(js.errorText()), js.errorText());
  EXPECT_EQ(kUtf8.FromUtf16(kUtf8.ToUtf16(js.errorText())), js.errorText());

  // A success clears the text.
  EXPECT_EQ(Eval(js, "1"), "1");
  EXPECT_EQ(js.errorText(), "");
}

TEST(JScriptHost, TextsCrossWithTheCodePage) {
  JScriptHost js;
  EXPECT_EQ(Eval(js, "'中' + '文'"), "中文");
  EXPECT_EQ(Eval(js, "'😀'.length"), "2");
  EXPECT_EQ(Eval(js, "String.fromCharCode(0xD83D, 0xDE00)"), "😀");
  EXPECT_EQ(Eval(js, "'\\uD83D'"), "?");

  const std::string gbkText = kGbk.FromUtf8("'中文'.length + '字'");
  EXPECT_EQ(Eval(js, gbkText, kGbk), kGbk.FromUtf8("2字"));
  EXPECT_EQ(Eval(js, kGbk.FromUtf8("t='汉'"), kGbk), kGbk.FromUtf8("汉"));
  EXPECT_EQ(Eval(js, "t"), "汉");
}

TEST(JScriptHost, HostileTexts) {
  JScriptHost js;
  // Every case ends on its own; the time limit now also cuts a long join
  // short, which a slow (sanitizer) build could run into.
  js.setTimeLimitMs(0);
  EXPECT_EQ(Eval(js, "keep = 'k'"), "k");
  // Several MB of source, and of result.
  const std::string big = "'" + std::string(4 << 20, 'a') + "'.length";
  EXPECT_EQ(Eval(js, big), std::to_string(4 << 20));
  std::string sum = "0";
  for (int i = 0; i < 200000; ++i) sum += "+1";
  EXPECT_EQ(Eval(js, sum), "200000");
  EXPECT_EQ(Eval(js, "new Array(1 << 21).join('中')").size(), 3u * ((1u << 21) - 1));
  // Deep recursion of every kind ends in an error, not in a crash.
  EXPECT_TRUE(Fails(js, "function f(n){return f(n+1)+1;} f(0)"));
  EXPECT_TRUE(Fails(js, "function h(){return [1].map(h);} h()"));
  EXPECT_TRUE(Fails(js, std::string(100000, '(') + "1" + std::string(100000, ')')));
  EXPECT_TRUE(Fails(js, "JSON.parse(new Array(100000).join('[') + new Array(100000).join(']'))"));
  EXPECT_TRUE(Fails(js, "var o={}; o.toString=function(){return String(o)}; String(o)"));
  // Memory is bounded per engine.
  EXPECT_TRUE(Fails(js, "var s='x'; for(;;) s = s + s;"));
  EXPECT_NE(js.errorText().find("alloc"), std::string::npos) << js.errorText();
  EXPECT_EQ(Eval(js, "'still' + ' here'"), "still here");
  // None of it cost the engine its globals.
  EXPECT_EQ(Eval(js, "keep"), "k");
}

TEST(JScriptHost, TimeLimitEndsEndlessLoopsAndKeepsTheGlobals) {
  JScriptHost js;
  js.setTimeLimitMs(100);
  EXPECT_EQ(Eval(js, "kept = 1"), "1");
  EXPECT_TRUE(Fails(js, "while(true){}"));
  EXPECT_NE(js.errorText().find("longer than 100 ms"), std::string::npos) << js.errorText();
  // The same engine goes on, with what earlier evaluations left behind.
  EXPECT_EQ(Eval(js, "kept + 1"), "2");
  EXPECT_EQ(Eval(js, "var v = 3; v * 3"), "9");
  EXPECT_EQ(Eval(js, "typeof v"), "undefined");
  // A global assigned inside the loop before the time ran out stays too.
  EXPECT_TRUE(Fails(js, "partial = 0; for(;;){ partial++; }"));
  EXPECT_EQ(Eval(js, "partial > 0"), "true");
  // Catching the time-out does not keep a script alive, nor does a finally
  // block that loops itself.
  EXPECT_TRUE(Fails(js, "for(;;){ try { for(;;){} } catch (e) { caught = e; } }"));
  EXPECT_EQ(Eval(js, "typeof caught"), "undefined");
  EXPECT_TRUE(Fails(js, "try { for(;;){} } finally { for(;;){} }"));
  // Loops that allocate, run regular expressions, sort, call host-side
  // built-ins or recurse end as well.
  EXPECT_TRUE(Fails(js, "var s=''; for(;;){ s += 'x'; if (s.length > 1000) s = ''; }"));
  EXPECT_TRUE(Fails(js, "for(;;){ /(a+)+b/.test('aaaaaaaaaa'); }"));
  EXPECT_TRUE(Fails(js, "for(;;){ [3,1,2].sort(function(a,b){return a-b;}); }"));
  EXPECT_TRUE(Fails(js, "for(;;){ Math.sin(1); JSON.stringify({a:[1,2]}); }"));
  EXPECT_TRUE(Fails(js, "function r(n){ try { return r(n+1); } catch (e) { return r(n); } } r(0)"));
  // Script code that built-ins run on the script's behalf counts as well.
  EXPECT_TRUE(Fails(js, "new String({toString: function(){ for(;;){} }})"));
  EXPECT_EQ(Eval(js, "6*7"), "42");
  EXPECT_EQ(Eval(js, "kept"), "1");
}

TEST(JScriptHost, StopEndsEvaluationsAndKeepsTheGlobals) {
  JScriptHost js;
  js.setTimeLimitMs(0);
  EXPECT_EQ(Eval(js, "kept = 1"), "1");
  StopSignal stop;
  stop.request();
  std::string result = "unchanged";
  EXPECT_FALSE(js.evalExpression("while(true){}", kUtf8, result, &stop));
  EXPECT_NE(js.errorText().find("stopped"), std::string::npos) << js.errorText();
  // A single built-in that would run for minutes fails at its first large
  // allocation, before any bytecode check comes round.
  EXPECT_FALSE(js.evalExpression("new Array(1e9).join('x')", kUtf8, result, &stop));
  EXPECT_FALSE(js.evalExpression("try { for(;;){} } catch (e) { caught = 1; for(;;){} }", kUtf8,
                                 result, &stop));
  EXPECT_EQ(result, "unchanged");
  // The engine was not lost: the globals are still there, and an evaluation
  // without a stop request runs as before.
  EXPECT_EQ(Eval(js, "kept + 1"), "2");
  StopSignal calm;
  EXPECT_TRUE(js.evalExpression("[1,2,3].join('-')", kUtf8, result, &calm));
  EXPECT_EQ(result, "1-2-3");
}

// Each runs a script on its worker in a console host with no JScript time
// limit, stops it while the engine is busy and expects the worker to end
// long before an unchecked engine would (minutes, or never).
TEST(JScriptHost, StopReachesTheEngineOnAWorker) {
  const char* const kBusy[] = {"while(true){}", "new Array(1e9).join('x')",
                               "for(;;){ try { for(;;){} } catch (e) {} }"};
  for (const char* code : kBusy) {
    testing::TempDir home;
    home.Write("Config.ini", "[setting]\r\njstimeout=0\r\n");
    const testing::ConsoleRun run = testing::RunInConsole(
        home.path(), std::string("show go\njs ") + code + "\nshow after\n", 300, 5000);
    ASSERT_TRUE(run.ended) << code;
    RecordProperty(std::string("stop_ms ") + code, std::to_string(run.endMs));
    EXPECT_EQ(run.output.find("after"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("state: stop"), std::string::npos) << run.output;
  }
}

// One script evaluates at a time; a stop reaches a script that waits for
// its turn as well.
TEST(JScriptHost, StopReachesAScriptWaitingForTheEngine) {
  testing::TempDir home;
  home.Write("Config.ini", "[setting]\r\njstimeout=0\r\n");
  const auto pathA = home.Write("Script/a.vlm", "show a\njs while(true){}\n");
  const auto pathB = home.Write("Script/b.vlm", "show b\njs 1+1\nshow after\n");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* out = fdopen(fds[1], "w");
  auto env = std::make_unique<EngineEnvironment>(
      EngineEnvironment::ForHome(home.path(), KeywordFlavor::kRunner));
  auto host = std::make_unique<ConsoleHost>(*env, out, -1);
  std::string output;
  auto readUntil = [&](const std::string& marker) {
    while (output.find(marker) == std::string::npos) {
      char buffer[256];
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      output.append(buffer, static_cast<std::size_t>(n));
    }
  };
  ScriptInstance* a = host->startScript("a", pathA.string(), "");
  ScriptInstance* b = host->startScript("b", pathB.string(), "");
  ASSERT_TRUE(host->run(*a));
  readUntil("show: a\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(host->run(*b));
  readUntil("show: b\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  host->stop(*b);
  const bool bEnded = b->worker.waitFinished(5000);
  host->stop(*a);
  const bool aEnded = a->worker.waitFinished(5000);
  if (!aEnded || !bEnded) {
    // Destroying the host would wait for the workers for ever.
    (void)host.release();
    (void)env.release();
    FAIL() << "a ended: " << aEnded << ", b ended: " << bEnded;
  }
  EXPECT_EQ(b->variables["status"], "0");
  host.reset();
  std::fclose(out);
  readUntil("\x01");
  close(fds[0]);
  EXPECT_EQ(output.find("after"), std::string::npos) << output;
}

// The time limit holds for a single long built-in too.
TEST(JScriptHost, TimeLimitEndsALongBuiltIn) {
  testing::TempDir home;
  home.Write("Config.ini", "[setting]\r\njstimeout=1\r\n");
  const testing::ConsoleRun run = testing::RunInConsole(
      home.path(), "js new Array(1e9).join('x')\nshow status=[#status]\n", -1, 10000);
  ASSERT_TRUE(run.ended);
  EXPECT_NE(run.output.find("show: status=0"), std::string::npos) << run.output;
}

// A host object that answers with its member name and arguments.
class Echo : public JScriptHostObject {
 public:
  std::vector<std::string> members() const override { return {"echo", "fail", "名字"}; }
  bool call(const std::string& member, const std::vector<std::string>& arguments,
            std::string& result) override {
    ++calls;
    if (member == "fail") return false;
    result = member + "(";
    for (const std::string& argument : arguments) result += argument + ";";
    result += ")";
    return true;
  }
  int calls = 0;
};

TEST(JScriptHost, NamedObjects) {
  JScriptHost js;
  Echo echo;
  ASSERT_TRUE(js.addNamedObject("host", &echo, false, kUtf8));
  EXPECT_EQ(Eval(js, "host.echo(1, 'a', null, {toString: function(){return 'o';}})"),
            "echo(1;a;null;o;)");
  EXPECT_EQ(Eval(js, "host.名字('中')"), "名字(中;)");
  EXPECT_EQ(Eval(js, "typeof echo"), "undefined");
  EXPECT_TRUE(Fails(js, "host.fail()"));
  EXPECT_EQ(Eval(js, "try { host.fail(); 'no' } catch (e) { 'caught' }"), "caught");

  Echo global;
  ASSERT_TRUE(js.addNamedObject("g", &global, true, kUtf8));
  EXPECT_EQ(Eval(js, "echo('x')"), "echo(x;)");
  EXPECT_EQ(global.calls, 1);

  // A loop calling the host ends at the time limit; the object stays.
  js.setTimeLimitMs(100);
  EXPECT_TRUE(Fails(js, "for(;;){ host.echo(1); }"));
  EXPECT_EQ(Eval(js, "host.echo(2)"), "echo(2;)");
}

// A host object whose member evaluates on the host that called it.
class Reentrant : public JScriptHostObject {
 public:
  explicit Reentrant(JScriptHost& js) : js_(js) {}
  std::vector<std::string> members() const override { return {"inner"}; }
  bool call(const std::string&, const std::vector<std::string>& arguments,
            std::string& result) override {
    innerOk = js_.evalExpression(arguments.empty() ? "" : arguments[0], kUtf8, result);
    innerError = js_.errorText();
    return true;
  }
  bool innerOk = true;
  std::string innerError;

 private:
  JScriptHost& js_;
};

TEST(JScriptHost, NestedEvaluationIsRefused) {
  JScriptHost js;
  Reentrant reentrant(js);
  ASSERT_TRUE(js.addNamedObject("re", &reentrant, false, kUtf8));
  EXPECT_EQ(Eval(js, "seen = 5; re.inner('seen + 1'); seen"), "5");
  EXPECT_FALSE(reentrant.innerOk);
  EXPECT_NE(reentrant.innerError.find("busy"), std::string::npos) << reentrant.innerError;
  EXPECT_EQ(Eval(js, "seen + 1"), "6");
}

}  // namespace
}  // namespace velmar
