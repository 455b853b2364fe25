// HTML script windows of the Qt host with real scripts, real pages from a
// temporary folder and real mouse events on the web view (the offscreen
// platform delivers them).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMouseEvent>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QWindow>
#include <mutex>

#include "qt_fixture.h"
#include "ui/script_window.h"

namespace velmar::testing {
namespace {

std::string Dump(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) {
    if (line.find("sleep") == std::string::npos) out += line.substr(0, 200) + "\n";
  }
  return out;
}

// Keeps a script alive and lets event sections run soon after each event.
const char* const kIdleLoop[] = {"while 1", "{", "pause 20", "}"};

class QtWindowTest : public QtHostTest {
 protected:
  QtWindowTest() {
    page = Url(dir.Write("pages/page.html", R"(<html><head><title>Test Page</title></head>
<body style="margin:0">
<div id="box" style="position:absolute;left:10px;top:10px;width:80px;height:30px">box</div>
<a id="blank" target="_BLANK" href="next.html"
   style="position:absolute;left:10px;top:60px;width:80px;height:30px;display:block">new</a>
<a id="self" href="next.html"
   style="position:absolute;left:10px;top:110px;width:80px;height:30px;display:block">same</a>
<div id="holder" style="position:absolute;left:120px;top:10px;width:60px;height:60px">
<img src="missing.png" style="width:40px;height:40px;display:block"></div>
<script>var pageGlobal = 'from page';</script>
</body></html>)"));
    next = Url(dir.Write("pages/next.html",
                         "<html><head><title>Next</title></head><body>next</body></html>"));
  }

  static std::string Url(const std::filesystem::path& path) { return "file://" + path.string(); }

  // A script that opens the page in window `w`, then idles; `sections` are
  // event sections appended after the loop.
  ScriptInstance* OpenScript(std::initializer_list<const char*> setup,
                             std::initializer_list<const char*> sections = {}) {
    script = "<main>\nopenwindow w " + page + "\nshowwindow w\n";
    for (const char* line : setup) script += std::string(line) + "\n";
    script += "show ready\n";
    for (const char* line : kIdleLoop) script += std::string(line) + "\n";
    for (const char* line : sections) script += std::string(line) + "\n";
    ScriptInstance* s = Start("s", script);
    EXPECT_TRUE(Shown("2:ready"));
    EXPECT_TRUE(WaitUntil([&] { return host->window("w") && host->window("w")->loadedOnce(); }));
    return s;
  }

  // Sends the test's own event "t"/name, which the script answers in
  // <on_t_name> by showing `entry`. A script still inside an earlier section
  // drops events, so it is sent again until the answer comes.
  bool Trigger(const std::string& name, const std::string& entry) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      host->sendWindowEvent("t", name, "");
      if (WaitUntil(
              [&] { return std::find(shown().begin(), shown().end(), entry) != shown().end(); },
              1500)) {
        return true;
      }
    }
    return false;
  }

  bool EventSeen(const std::string& name, const std::string& value) {
    return WaitUntil([&] {
      for (const auto& e : events) {
        if (e.sourceName == "w" && e.eventName == name && e.value == value) return true;
      }
      return false;
    });
  }

  // Left click as the user makes it: press and release on the page's widget.
  void ClickAt(QPoint point) {
    QWidget* target = host->window("w")->view()->focusProxy();
    ASSERT_NE(target, nullptr);
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, point);
  }

  std::string page;
  std::string next;
  std::string script;
};

// What a run's observer hears of the evaluations in window pages.
class PageEvaluations : public RunObserver {
 public:
  void JsEvaluated(const JsEvaluationReport& e) override {
    std::lock_guard<std::mutex> lock(mutex);
    heard.push_back(
        std::string(e.window) + "|" + std::string(e.code) + "|" +
        (e.failed ? "failed " + std::string(e.error).substr(0, 18) : "= " + std::string(e.result)));
  }
  std::mutex mutex;
  std::vector<std::string> heard;
};

TEST_F(QtWindowTest, OpenShowTitlePosAndPageCalls) {
  // Observed, so that the evaluations' record is checked against what the
  // script itself saw, and observing changes nothing of that.
  PageEvaluations observer;
  env.observer = &observer;
  ScriptInstance* s = OpenScript(
      {"openwindow w about:blank", "setwindow w title Hello",
       "setwindow w pos 100<<<50<<<640<<<480"},
      {"<on_t_eval>", "jswindow w document.title", "show title [#status] [#return]",
       "jswindow w pageGlobal + ' ' + typeof alert", "show global [#status] [#return]",
       "jswindow w 1 +* 2", "show syntax [#status]", "show error [#return]",
       "jswindow w new Date(0).getTime() === 0 ? null : 1", "show null [#status] <[#return]>",
       "jswindow w document.body", "show object [#status]", "jswindow w throw 'bad thing'",
       "show thrown [#return]", "jswindow nowindow 1", "show missing [#status]", "return"});
  ScriptWindow* w = host->window("w");
  EXPECT_EQ(w->windowTitle(), QString("Hello - Powered by velmar.org"));
  EXPECT_EQ(w->geometry(), QRect(100, 50, 640, 480));
  EXPECT_TRUE(w->isVisible());
  // The second openwindow kept the first window and its page.
  EXPECT_EQ(w->page()->url().toString().toStdString(), page);
  SaveShot(w, "script_window");

  ASSERT_TRUE(Trigger("eval", "2:title 1 Test Page"));
  ASSERT_TRUE(Shown("2:global 1 from page function"));
  ASSERT_TRUE(Shown("2:syntax 0"));
  ASSERT_TRUE(Shown("2:null 1 <>"));
  const auto error = std::find_if(shown().begin(), shown().end(),
                                  [](const auto& e) { return e.rfind("2:error ", 0) == 0; });
  ASSERT_NE(error, shown().end()) << Dump(shown());
  EXPECT_EQ(error->rfind("2:error Error: SyntaxError", 0), 0u) << *error;
  EXPECT_NE(error->find("; in line 1"), std::string::npos) << *error;
  ASSERT_TRUE(Shown("2:object 0"));
  ASSERT_TRUE(Shown("2:thrown Error: bad thing, throw 'bad thing'; in line 1"));
  ASSERT_TRUE(Shown("2:missing 0"));  // no window: `status` kept from the call before
  host->stopScript(*s);
  EXPECT_TRUE(Ended(s));
  env.observer = nullptr;
  std::lock_guard<std::mutex> lock(observer.mutex);
  // The window without a page evaluated nothing and is not on record.
  EXPECT_EQ(
      observer.heard,
      (std::vector<std::string>{
          "w|document.title|= Test Page", "w|pageGlobal + ' ' + typeof alert|= from page function",
          "w|1 +* 2|failed Error: SyntaxError", "w|new Date(0).getTime() === 0 ? null : 1|= ",
          "w|document.body|failed Error: the value h",
          "w|throw 'bad thing'|failed Error: bad thing, "}));
}

TEST_F(QtWindowTest, PosRulesForTwoThreeOrBadNumbers) {
  Start("s", Lines({"openwindow p about:blank", "setwindow p pos 100<<<50<<<640<<<480", "show a",
                    "setwindow p pos 30<<<40<<<500", "show b", "setwindow p pos 7", "show c",
                    "setwindow p pos abc<<<99999999999<<<-5<<<1e9", "show d",
                    "setwindow p POS 12<<<13<<<300<<<200", "show e", "setwindow p frobnicate 1",
                    "show f"}));
  ASSERT_TRUE(Shown("2:f"));
  ScriptWindow* p = host->window("p");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->geometry(), QRect(12, 13, 300, 200));
}

TEST_F(QtWindowTest, ClicksLinksAndLoadsBecomeEvents) {
  OpenScript({}, {"<on_w_window_click>", "show clicked [#window_value]", "return",
                  "<on_w_document_complete>", "show loaded [#window_value]", "return"});
  ClickAt({20, 20});
  ASSERT_TRUE(EventSeen("window_click", "box"));
  ASSERT_TRUE(Shown("2:clicked box"));
  // An image counts as its parent.
  ClickAt({130, 20});
  ASSERT_TRUE(EventSeen("window_click", "holder"));
  // A link to another target is reported and opens nothing.
  ClickAt({20, 70});
  ASSERT_TRUE(EventSeen("window_new", next));
  // The first load sent nothing; a link into the same window navigates and
  // its load is reported.
  EXPECT_TRUE(std::none_of(events.begin(), events.end(),
                           [](const auto& e) { return e.eventName == "document_complete"; }));
  ClickAt({20, 120});
  ASSERT_TRUE(EventSeen("window_click", "self"));
  ASSERT_TRUE(EventSeen("document_complete", next));
  ASSERT_TRUE(Shown("2:loaded " + next));
  EXPECT_EQ(host->window("w")->page()->url().toString().toStdString(), next);
}

TEST_F(QtWindowTest, WindowManagerRequestsBecomeEventsAndChangeNothing) {
  OpenScript({}, {"<on_w_window_minimize>", "setwindow w minimize", "show minimized", "return"});
  ScriptWindow* w = host->window("w");
  w->close();  // the close box
  ASSERT_TRUE(EventSeen("window_close", ""));
  EXPECT_TRUE(w->isVisible());
  // A user's maximise: reported and turned back.
  w->setWindowState(Qt::WindowMaximized);
  ASSERT_TRUE(EventSeen("window_maximize", ""));
  ASSERT_TRUE(WaitUntil([&] { return !(w->windowState() & Qt::WindowMaximized); }));
  // A user's minimise: the script decides and minimises it itself.
  w->setWindowState(Qt::WindowMinimized);
  ASSERT_TRUE(EventSeen("window_minimize", ""));
  ASSERT_TRUE(Shown("2:minimized"));
  ASSERT_TRUE(WaitUntil([&] { return (w->windowState() & Qt::WindowMinimized) != 0; }));
}

TEST_F(QtWindowTest, WriteClearBorderTaskbarHideAndClose) {
  OpenScript({}, {"<on_t_write>",
                  "setwindow w clear",
                  "setwindow w write <p id=\"x\">written</p>",
                  "setwindow w border none",
                  "setwindow w taskbar none",
                  "hidewindow w",
                  "jswindow w document.getElementById('x').textContent",
                  "show wrote [#return]",
                  "return",
                  "<on_t_back>",
                  "setwindow w border NORMAL",
                  "setwindow w taskbar normal",
                  "showwindow w",
                  "show back",
                  "return",
                  "<on_t_close>",
                  "closewindow w",
                  "closewindow w",
                  "setwindow w title gone",
                  "jswindow w 1",
                  "show closed [#status]",
                  "return"});
  ASSERT_TRUE(Trigger("write", "2:wrote written"));
  ScriptWindow* w = host->window("w");
  EXPECT_FALSE(w->hasBorder());
  EXPECT_FALSE(w->inTaskbar());
  EXPECT_FALSE(w->isVisible());
  ASSERT_TRUE(Trigger("back", "2:back")) << Dump(shown());
  EXPECT_TRUE(w->hasBorder());
  EXPECT_TRUE(w->inTaskbar());
  EXPECT_TRUE(w->isVisible());
  ASSERT_TRUE(Trigger("close", "2:closed 1"));  // `status` kept from the page call before
  EXPECT_EQ(host->window("w"), nullptr);
}

// A page whose watcher reports a thousand clicks a second: every event
// reaches the script, and the UI thread keeps answering its requests
// meanwhile. (Sent from the host's own world, the only one that can.)
TEST_F(QtWindowTest, AThousandEventsASecondKeepTheHostResponsive) {
  OpenScript({}, {"<on_w_window_click>", "show click", "return"});
  host->window("w")->page()->runJavaScript(
      QStringLiteral(R"(
    var sent = 0;
    var timer = setInterval(function () {
      for (var i = 0; i < 10; ++i) {
        console.log(%1 + "window_click\u0001box");
        ++sent;
      }
      if (sent >= 1000) clearInterval(timer);
    }, 10);)")
          .arg(JsStringLiteral(ScriptPage::EventTag())),
      QWebEngineScript::ApplicationWorld);
  const auto clicks = [&] {
    return std::count_if(events.begin(), events.end(),
                         [](const auto& e) { return e.eventName == "window_click"; });
  };
  // The script's own requests are answered in the middle of the flood (it
  // sees the events it has time for: a later event replaces an earlier one).
  ASSERT_TRUE(
      WaitUntil([&] { return std::count(shown().begin(), shown().end(), "2:click") >= 20; }));
  ASSERT_TRUE(WaitUntil([&] { return clicks() == 1000; })) << clicks();
}

// However the content arrived, a click on it is reported: a script's write
// into the first blank page, into a loaded page, after a clear, and a
// document the page opened and wrote itself.
TEST_F(QtWindowTest, ClicksOnWrittenDocumentsAreReported) {
  const char* button = "<button id=\"b\" style=\"position:absolute;left:0;top:0;"
                       "width:100px;height:40px\">b</button>";
  const std::string written = std::string("setwindow blank write ") + button;
  Start("s", Lines({"openwindow blank", written.c_str(), "showwindow blank", "show ready",
                    "while 1", "{", "pause 20", "}"}));
  ASSERT_TRUE(Shown("2:ready"));
  ASSERT_TRUE(WaitUntil([&] { return host->window("blank") && host->window("blank")->loadedOnce(); }));
  const auto clickOn = [&](const char* name) {
    QTest::mouseClick(host->window(name)->view()->focusProxy(), Qt::LeftButton, Qt::NoModifier,
                      {30, 20});
  };
  const auto clicked = [&](const char* name, const char* id) {
    // The written page may still be on its way: click until it is there.
    return WaitUntil([&] {
      clickOn(name);
      QTest::qWait(50);
      return std::any_of(events.begin(), events.end(), [&](const auto& e) {
        return e.sourceName == name && e.eventName == "window_click" && e.value == id;
      });
    });
  };
  ASSERT_TRUE(clicked("blank", "b"));

  OpenScript({}, {"<on_t_write>",
                  "setwindow w write <p id=\"late\" style=\"margin:0;height:90px\">late</p>",
                  "show wrote",
                  "return", "<on_t_clear>", "setwindow w clear",
                  (std::string("setwindow w write ") + button).c_str(), "show cleared", "return"});
  // Written into a finished page: a new document in its place.
  ASSERT_TRUE(Trigger("write", "2:wrote"));
  ASSERT_TRUE(clicked("w", "late"));
  ASSERT_TRUE(Trigger("clear", "2:cleared"));
  events.clear();
  ASSERT_TRUE(clicked("w", "b"));

  // The page replaces its own document.
  events.clear();
  host->window("w")->page()->runJavaScript(
      "document.open(); document.write('<div id=\"own\" style=\"height:100px\">own</div>');"
      "document.close();");
  ASSERT_TRUE(clicked("w", "own"));
  SaveShot(host->window("w"), "script_window_written");
}

// A page cannot make up events: events it dispatches itself are not the
// user's, and the reports go where the page cannot look (wrapping its own
// console learns nothing to replay).
TEST_F(QtWindowTest, APageCannotRaiseOrReadEvents) {
  OpenScript({}, {"<on_w_window_click>", "show clicked [#window_value]", "return"});
  ScriptWindow* w = host->window("w");
  w->page()->runJavaScript(R"(
    var learned = [];
    var original = console.log;
    console.log = function () { learned.push(String(arguments[0])); original.apply(console, arguments); };
    window.addEventListener("mouseup", function () {
      setTimeout(function () {
        for (var i = 0; i < learned.length; ++i) console.log(learned[i].replace("box", "forged"));
      }, 0);
    });)");
  ClickAt({20, 20});
  ASSERT_TRUE(EventSeen("window_click", "box"));
  w->page()->runJavaScript(R"(
    for (var i = 0; i < 5; ++i)
      window.dispatchEvent(new MouseEvent("mouseup", {button: 0, clientX: 20, clientY: 20}));)");
  QString learned;
  w->page()->runJavaScript("learned.join('|') + ':' + typeof window.__velmarWatch",
                           [&](const QVariant& v) { learned = v.toString(); });
  ASSERT_TRUE(WaitUntil([&] { return !learned.isEmpty(); }));
  EXPECT_EQ(learned, ":undefined");
  // The script saw the one real click only.
  QTest::qWait(500);
  for (const auto& e : events) {
    if (e.eventName == "window_click") EXPECT_EQ(e.value, "box");
  }
  EXPECT_EQ(std::count(shown().begin(), shown().end(), "2:clicked box"), 1);
}

TEST_F(QtWindowTest, StopEndsAPageCallThatWouldRunForLong) {
  ScriptInstance* s = OpenScript(
      {}, {"<on_t_spin>", "show spinning", "jswindow w while(true){}", "show after", "return"});
  ASSERT_TRUE(Trigger("spin", "2:spinning"));
  host->stopScript(*s);  // the page call would wait the default ten seconds
  ASSERT_TRUE(WaitUntil([&] { return !s->worker.alive(); }, 5000));
  EXPECT_EQ(std::count(shown().begin(), shown().end(), "2:after"), 0);
}

// A server on loopback that takes connections (the kernel does) and never
// answers: a page from it never finishes loading.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() {
    if (fd_ >= 0) ::close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(QtWindowTest, APageThatNeverFinishesLoadingLeavesEverythingUsable) {
  SilentServer server;
  ASSERT_NE(server.port(), 0);
  const std::string open =
      "openwindow slow http://127.0.0.1:" + std::to_string(server.port()) + "/never";
  ScriptInstance* s = Start("s", Lines({open.c_str(), "var [#return] before",
                                        "jswindow slow 1+1", "show early [#status] [#return]",
                                        "setwindow slow write kept until a load that never comes",
                                        "setwindow slow title Slow", "showwindow slow",
                                        "closewindow slow", "show closed"}));
  // Before any completed load a page call answers at once with status 0 and
  // leaves return alone; the window can still be used and closed.
  EXPECT_TRUE(Shown("2:early 0 before")) << Dump(shown());
  EXPECT_TRUE(Shown("2:closed")) << Dump(shown());
  EXPECT_TRUE(Ended(s));
  EXPECT_EQ(host->window("slow"), nullptr);
}

TEST_F(QtWindowTest, OddNamesHugeWritesAndPageCallsThatNeverAnswer) {
  dir.Write("Config.ini", "[setting]\r\njstimeout=5\r\n");
  env = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
  host = std::make_unique<QtHost>(env, QtHost::kRunnerCaption);
  host->onText = nullptr;
  std::vector<std::string> seen;
  host->onText = [&](ScriptInstance*, int32_t, const std::string& text) { seen.push_back(text); };
  const std::string longName(10 * 1024, 'n');
  // 10 MB in lines of 128 bytes: what the host hands the page is the size
  // that matters here, not how long the page takes to lay out one word of
  // ten million letters.
  std::string line(127, 'y');
  line += '\n';
  std::string big;
  for (int i = 0; i < 10 * 1024 * 1024 / 128; ++i) big += line;
  dir.Write("big.txt", big);
  const std::string openLong = "openwindow " + longName + " about:blank";
  const std::string readBig = "var [#big] [@readfile<<<" + (dir.path() / "big.txt").string() + "]";
  const std::string openChinese = "openwindow 窗口 " + page;
  // The page answers when it is ready: before its first load a call gives
  // status 0 at once, and while it takes in the 10 MB a call can run longer
  // than jstimeout on a busy machine, which gives status 0 too. So each call
  // is asked again every 50 ms until it is answered, bounded by the test's
  // time limit rather than by a count that assumes an idle machine; the
  // answer, once there, must be exact. (`break` would leave only the `if`
  // block: the loop ends by its counter.)
  auto untilAnswered = [](const std::string& call, const std::string& show) {
    return "var [#n] 0\nwhile ([#n]<100000)\n{\n" + call +
           "\nvar [#n] ([#n]+1)\nif ([#status]==1)\n{\nvar [#n] 100000\n}\npause 50\n}\n" + show +
           " [#return]\n";
  };
  const std::string script =
      Lines({openLong.c_str(), openChinese.c_str(), "openwindow", readBig.c_str()}) +
      untilAnswered("jswindow 窗口 document.title + '标题'", "show chinese") +
      Lines({"setwindow 窗口 write [#big]", "show wrote"}) +
      untilAnswered("jswindow 窗口 document.body.textContent.split('y').length - 1", "show written") +
      untilAnswered("jswindow 窗口 'z'.repeat(3000000).length", "show length") +
      Lines({"jswindow 窗口 'z'.repeat(20000000)", "show huge [#status]",
             "jswindow 窗口 while(true){}", "show forever [#status]"});
  ScriptInstance* s = Start("s", script);
  // Generous: a 10 MB document and page calls that time out take long on a
  // busy machine.
  ASSERT_TRUE(WaitUntil(
      [&] { return std::find(seen.begin(), seen.end(), "forever 0") != seen.end(); }, 400000))
      << Dump(seen);
  EXPECT_NE(host->window(longName), nullptr);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "chinese Test Page标题"), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "written " + std::to_string(81920 * 127)),
            seen.end())
      << Dump(seen);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "length 3000000"), seen.end()) << Dump(seen);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "huge 0"), seen.end());
  EXPECT_TRUE(Ended(s));
}

}  // namespace
}  // namespace velmar::testing
