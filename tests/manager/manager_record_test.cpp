// Recorded runs in the manager: the row's switch, where its traces go, the
// switch in project files (and older readers of them), the latest trace of
// a row and the viewer of it, and what is said when the trace is gone.

#include <sys/stat.h>

#include <QFile>
#include <QStatusBar>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "http/test_servers.h"
#include "manager/manager_texts.h"
#include "manager/project_file.h"
#include "manager/run_records.h"
#include "manager/trace_viewer.h"
#include "manager_fixture.h"
#include "tooling/trace_folder.h"
#include "tooling/trace_reader.h"

namespace velmar::testing {
namespace {

namespace fs = std::filesystem;

// A reader as project files have always been read: split at every "^", a
// line of at least three pieces is a script, pieces one to three its name,
// path and parameter, the rest ignored.
std::vector<std::array<std::string, 3>> OlderReader(const std::string& text) {
  std::vector<std::array<std::string, 3>> scripts;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> pieces;
    for (std::size_t from = 0;;) {
      const std::size_t caret = line.find('^', from);
      pieces.push_back(line.substr(from, caret == std::string::npos ? caret : caret - from));
      if (caret == std::string::npos) break;
      from = caret + 1;
    }
    if (pieces.size() >= 3) scripts.push_back({pieces[0], pieces[1], pieces[2]});
  }
  return scripts;
}

TEST(ProjectRecordField, OnlyRecordingScriptsGetTheFourthFieldAndOlderReadersReadAsBefore) {
  const std::vector<ProjectEntry> entries = {{"采集", "/s/a.vlm", "页=1", true},
                                             {"b", "/s/b.vlm", "", false},
                                             {"c", "/s/c.vlm", "", true}};
  const std::string text = ProjectText(entries);
  EXPECT_EQ(text, "采集^/s/a.vlm^页=1^record\r\nb^/s/b.vlm^\r\nc^/s/c.vlm^^record\r\n");
  // A list without recording scripts is the file it always was.
  EXPECT_EQ(ProjectText({entries[1]}), "b^/s/b.vlm^\r\n");

  const auto older = OlderReader(text);
  ASSERT_EQ(older.size(), 3u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(older[i][0], entries[i].name);
    EXPECT_EQ(older[i][1], entries[i].path);
    EXPECT_EQ(older[i][2], entries[i].param) << "an older reader took the field as the parameter";
  }

  const auto back = ParseProject(text);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_TRUE(back[0].record);
  EXPECT_FALSE(back[1].record);
  EXPECT_TRUE(back[2].record);
  EXPECT_EQ(back[2].param, "");
  // A file of an older writer, a fourth field of another meaning, pieces
  // past the fourth: none of them records, or loses its parameter.
  const auto other = ParseProject("a^/a.vlm^p\r\nb^/b.vlm^q^1\r\nc^/c.vlm^r^record^more\n");
  ASSERT_EQ(other.size(), 3u);
  EXPECT_FALSE(other[0].record);
  EXPECT_FALSE(other[1].record);
  EXPECT_EQ(other[1].param, "q");
  EXPECT_TRUE(other[2].record);
  EXPECT_EQ(other[2].param, "r");
}

std::string RunLine(const std::string& script) {
  return "{\"trace\":\"velmar\",\"version\":1}\n{\"ev\":\"run\",\"t\":0,\"script\":\"" + script +
         "\",\"id\":1}\n";
}

TEST(RunRecords, TheLatestTraceIsTheNewestOfThisVeryScript) {
  TempDir dir;
  const fs::path root = dir.path() / "Trace";
  EXPECT_FALSE(LatestRunTrace(root, "/s/a.vlm")) << "no folder, no trace";
  const auto write = [&](const std::string& file, const std::string& text, int age) {
    const fs::path path = dir.Write("Trace/" + file, text);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(age));
    return path;
  };
  const fs::path old = write("20260101-000000/a-1.trace", RunLine("/s/a.vlm"), 30);
  const fs::path latest = write("20260102-000000/a-4.trace", RunLine("/s/a.vlm"), 20);
  // Newer, but of another script: one of the same name elsewhere, one whose
  // name starts alike, a file that is no trace, one with no run line.
  write("20260103-000000/a-2.trace", RunLine("/other/a.vlm"), 10);
  write("20260103-000000/a-b-3.trace", RunLine("/s/a.vlm"), 10);
  write("20260103-000000/a-5.trace", "not a trace\n", 10);
  write("20260103-000000/a-6.trace", "{\"trace\":\"velmar\",\"version\":1}\n", 10);
  write("a-7.trace", RunLine("/s/a.vlm"), 1);  // not in a session folder
  ASSERT_TRUE(LatestRunTrace(root, "/s/a.vlm"));
  EXPECT_EQ(*LatestRunTrace(root, "/s/a.vlm"), latest);
  EXPECT_EQ(*LatestRunTrace(root, "/other/a.vlm"), root / "20260103-000000/a-2.trace");
  fs::remove(latest);
  EXPECT_EQ(*LatestRunTrace(root, "/s/a.vlm"), old);

  // Two starts in one second get two folders.
  const std::time_t now = std::time(nullptr);
  const fs::path first = NewRecordSession(root, now);
  fs::create_directories(first);
  const fs::path second = NewRecordSession(root, now);
  EXPECT_NE(first, second);
  EXPECT_EQ(second.filename().string(), first.filename().string() + "-2");
}

int OpenFiles() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A program that runs scripts again and again keeps no file open for the
// runs that have ended.
TEST(RunRecords, AnEndedRunLeavesNoFileOpen) {
  TempDir dir;
  TraceFolder folder((dir.path() / "t").string(), false, nullptr);
  std::string reason;
  ASSERT_TRUE(folder.Prepare(reason)) << reason;
  const int before = OpenFiles();
  for (int id = 1; id <= 50; ++id) {
    folder.RunStarted(id, "/s/loop.vlm");
    folder.Diagnostic("x");
    folder.RunEnded(id);
  }
  EXPECT_EQ(OpenFiles(), before);
  TraceFile trace;
  ASSERT_TRUE(ReadTraceFile((dir.path() / "t/loop-50.trace").string(), trace, reason)) << reason;
  ASSERT_FALSE(trace.events.empty());
  EXPECT_EQ(trace.events.back().value("ev", ""), "end");
}

class RecordTest : public ManagerTest {
 protected:
  RecordTest()
      : server([](int fd, const std::string&) {
          const std::string body = "<html><p>price: 42</p></html>";
          SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body);
        }) {}
  std::string FetchScript() {
    return Script("fetch", "<main>\nget " + server.url("/page?q=1") + "\nshow fetched\n");
  }
  // The trace files under the home's trace folder.
  std::vector<fs::path> Traces() {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir.path() / "Trace", ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->path().extension() == ".trace") found.push_back(it->path());
    }
    return found;
  }
  bool ViewerLoaded(TraceViewer* viewer) {
    bool loaded = false;
    QObject::connect(viewer, &TraceViewer::pageLoaded, [&](bool ok) { loaded = ok; });
    return WaitUntil([&] { return loaded; }, 30000);
  }
  QString PageText(TraceViewer* viewer) {
    QString text;
    bool answered = false;
    viewer->view()->page()->runJavaScript(QStringLiteral("document.body.innerText"),
                                          [&](const QVariant& v) {
                                            text = v.toString();
                                            answered = true;
                                          });
    WaitUntil([&] { return answered; }, 10000);
    return text;
  }
  RawServer server;
};

TEST_F(RecordTest, ARecordingRowLeavesOneTraceARunAndKeepsItsSwitchAcrossStarts) {
  MainWindow& w = Window();
  w.addScript("fetch", FetchScript(), "");
  w.addScript("quiet", Script("quiet", "<main>\nshow quiet\n"), "");
  w.selectRows({0});
  QAction* record = w.menuAction(MainWindow::kRecordRun);
  QAction* view = w.menuAction(MainWindow::kViewLastRun);
  EXPECT_TRUE(record->isEnabled());
  EXPECT_FALSE(record->isChecked());
  EXPECT_FALSE(view->isEnabled()) << "no trace yet";
  w.command(MainWindow::kRecordRun);
  EXPECT_TRUE(record->isChecked());
  EXPECT_TRUE(w.model().recording(0));
  EXPECT_FALSE(w.model().data(w.model().index(0, 0), Qt::DecorationRole).isNull());
  EXPECT_TRUE(w.model().data(w.model().index(1, 0), Qt::DecorationRole).isNull());
  EXPECT_NE(w.model().data(w.model().index(0, 0), Qt::ToolTipRole).toString().indexOf(w.traceFolder()),
            -1);

  w.selectRows({0, 1});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "fetched"));
  ASSERT_TRUE(CellBecomes(1, 1, "quiet"));
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
  // One trace, of the recording row only, in this start's own folder.
  const std::vector<fs::path> traces = Traces();
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].parent_path().string(), w.traceSession().toStdString());
  EXPECT_EQ(traces[0].filename().string(), "fetch-1.trace");
  struct stat info {};
  ASSERT_EQ(::stat(traces[0].c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  TraceFile trace;
  std::string reason;
  ASSERT_TRUE(ReadTraceFile(traces[0].string(), trace, reason)) << reason;
  ASSERT_EQ(trace.Exchanges().size(), 1u);
  EXPECT_EQ(trace.Exchanges()[0]->value("url", ""), server.url("/page?q=1"));
  EXPECT_EQ(trace.Exchanges()[0]->value("status", 0), 200);
  w.selectRows({0});
  EXPECT_TRUE(view->isEnabled());
  w.selectRows({1});
  EXPECT_FALSE(view->isEnabled());
  EXPECT_FALSE(record->isChecked());

  // The kept list and an exported project hold the switch.
  QTest::qWait(20);
  EXPECT_NE(ReadFile(dir.path() / "scripts.tmpro").find(FetchScript() + "^^record\r\n"),
            std::string::npos);
  projectFile = QString::fromStdString((dir.path() / "list.tmpro").string());
  Click(MainWindow::kExportProject);
  EXPECT_EQ(ReadFile(dir.path() / "list.tmpro"),
            "fetch^" + FetchScript() + "^^record\r\nquiet^" + Script("quiet", "<main>\nshow quiet\n") +
                "^\r\n");

  // The next start: the switch is kept, and the trace of the last start is
  // found on the disk.
  window.reset();
  MainWindow& again = Window();
  ASSERT_EQ(Rows(), 2);
  EXPECT_TRUE(again.model().recording(0));
  EXPECT_FALSE(again.model().recording(1));
  again.selectRows({0});
  EXPECT_TRUE(again.menuAction(MainWindow::kRecordRun)->isChecked());
  EXPECT_TRUE(again.menuAction(MainWindow::kViewLastRun)->isEnabled());
  EXPECT_EQ(again.model().lastTrace(0).toStdString(), traces[0].string());
  // Imported, the project's switches come along.
  again.command(MainWindow::kDeleteAll);
  again.importProject(projectFile);
  ASSERT_EQ(Rows(), 2);
  EXPECT_TRUE(again.model().recording(0));
  EXPECT_FALSE(again.model().recording(1));

  // Run: a second trace, in this start's own folder, and the row's latest
  // is the new one.
  again.selectRows({0});
  again.command(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "fetched"));
  ASSERT_TRUE(WaitUntil([&] { return !again.model().instanceAt(0)->worker.alive(); }));
  EXPECT_EQ(Traces().size(), 2u);
  EXPECT_NE(again.traceSession().toStdString(), traces[0].parent_path().string());
  EXPECT_EQ(fs::path(again.model().lastTrace(0).toStdString()).parent_path().string(),
            again.traceSession().toStdString());

  // Run again makes a fresh row: it keeps the switch and the latest trace.
  const QString latest = again.model().lastTrace(0);
  again.command(MainWindow::kRunAgain);
  const int row = Rows() - 1;
  ASSERT_TRUE(CellBecomes(row, 1, "fetched"));
  ASSERT_TRUE(WaitUntil([&] { return !again.model().instanceAt(row)->worker.alive(); }));
  EXPECT_EQ(Traces().size(), 3u);
  EXPECT_TRUE(again.model().recording(row));
  EXPECT_NE(again.model().lastTrace(row), latest);

  // Switched off: the next run leaves nothing, the kept list no field.
  again.selectRows({row});
  again.command(MainWindow::kRecordRun);
  EXPECT_FALSE(again.model().recording(row));
  again.command(MainWindow::kRunAgain);
  ASSERT_TRUE(CellBecomes(Rows() - 1, 1, "fetched"));
  ASSERT_TRUE(WaitUntil([&] { return !again.model().instanceAt(Rows() - 1)->worker.alive(); }));
  EXPECT_EQ(Traces().size(), 3u);
  QTest::qWait(20);
  EXPECT_EQ(ReadFile(dir.path() / "scripts.tmpro").find("record"), std::string::npos);
}

TEST_F(RecordTest, ViewLastRunShowsTheTracePageAndSaysWhenTheTraceIsGoneOrUnreadable) {
  MainWindow& w = Window();
  w.addScript("fetch", FetchScript(), "", true);
  w.selectRows({0});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "fetched"));
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
  w.selectRows({0});
  ASSERT_TRUE(w.menuAction(MainWindow::kViewLastRun)->isEnabled());
  const QString file = w.model().lastTrace(0);

  w.command(MainWindow::kViewLastRun);
  TraceViewer* viewer = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    viewer = w.traceViewer();
    return viewer && viewer->isVisible();
  })) << w.lastMessage().toStdString();
  EXPECT_EQ(viewer->windowTitle(), QStringLiteral("运行记录 - fetch (fetch-1.trace)"));
  ASSERT_TRUE(ViewerLoaded(viewer));
  EXPECT_NE(PageText(viewer).indexOf(QStringLiteral("/page?q=1")), -1)
      << PageText(viewer).left(2000).toStdString();
  // The page is in the viewer's own folder, for its owner only.
  EXPECT_TRUE(viewer->pageUrl().isLocalFile());
  EXPECT_EQ(QFile(viewer->pageUrl().toLocalFile()).permissions() &
                (QFile::ReadGroup | QFile::ReadOther),
            QFile::Permissions());

  // No page of the network takes its place: a navigation away is refused
  // before it sends anything.
  const std::size_t sent = server.requests().size();
  viewer->view()->page()->load(QUrl(QString::fromStdString(server.url("/from-the-viewer"))));
  QTest::qWait(1000);
  EXPECT_EQ(server.requests().size(), sent);
  EXPECT_EQ(viewer->view()->url(), viewer->pageUrl());

  // Damaged at its end (a killed run): the rest is shown, the damage told.
  {
    std::ofstream out(QFile::encodeName(file).toStdString(), std::ios::app | std::ios::binary);
    out << "{\"ev\":\"stmt\",\"t\":";
  }
  w.command(MainWindow::kViewLastRun);
  EXPECT_TRUE(WaitUntil([&] {
    return w.statusBar()->currentMessage().contains(QStringLiteral("1 行无法读取"));
  })) << w.statusBar()->currentMessage().toStdString();

  // No trace at all in the file: said, and no page.
  std::ofstream(QFile::encodeName(file).toStdString(), std::ios::trunc | std::ios::binary)
      << "this is no trace\n";
  w.command(MainWindow::kViewLastRun);
  EXPECT_TRUE(WaitUntil([&] { return w.lastMessage().contains(QStringLiteral("无法读取")); }))
      << w.lastMessage().toStdString();
  EXPECT_NE(w.lastMessage().indexOf(QStringLiteral("not a velmar trace")), -1)
      << w.lastMessage().toStdString();
  EXPECT_TRUE(viewer->isVisible()) << "the page shown before stays";

  // Deleted: said with its name; with no other trace left the command is
  // greyed again.
  fs::remove(QFile::encodeName(file).toStdString());
  w.command(MainWindow::kViewLastRun);
  EXPECT_NE(w.lastMessage().indexOf(QStringLiteral("已不存在")), -1) << w.lastMessage().toStdString();
  EXPECT_NE(w.lastMessage().indexOf(file), -1);
  EXPECT_FALSE(w.menuAction(MainWindow::kViewLastRun)->isEnabled());
}

// A trace that is no trace when it is first asked for: said in a box, and
// no hidden window is left behind.
TEST_F(RecordTest, AnUnreadableFirstTraceLeavesNoViewerBehind) {
  MainWindow& w = Window();
  w.addScript("fetch", FetchScript(), "", true);
  w.selectRows({0});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "fetched"));
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
  std::ofstream(QFile::encodeName(w.model().lastTrace(0)).toStdString(),
                std::ios::trunc | std::ios::binary)
      << "\x89PNG\r\n";
  w.command(MainWindow::kViewLastRun);
  ASSERT_TRUE(WaitUntil([&] { return w.lastMessage().contains(QStringLiteral("无法读取")); }));
  EXPECT_TRUE(WaitUntil([&] { return w.traceViewer() == nullptr; }));
}

// A trace folder that cannot be made: the run goes on, the status bar says
// it is not recording.
TEST_F(RecordTest, ATraceFolderThatCannotBeMadeLetsTheRunGoOn) {
  dir.Write("Config.ini", "[setting]\r\ntracefolder=blocked/Trace\r\n");
  dir.Write("blocked", "a file where the folder would be");
  MainWindow& w = Window();
  EXPECT_EQ(w.traceFolder().toStdString(), (dir.path() / "blocked/Trace").string());
  w.addScript("fetch", FetchScript(), "", true);
  w.selectRows({0});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "fetched"));
  EXPECT_NE(w.statusBar()->currentMessage().indexOf(QStringLiteral("无法记录运行")), -1)
      << w.statusBar()->currentMessage().toStdString();
  EXPECT_TRUE(w.traceSession().isEmpty());
}

}  // namespace
}  // namespace velmar::testing
