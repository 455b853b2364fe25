// The manager as a person uses it on a desktop with a window manager and a
// tray: pointer clicks and keys from xdotool, the window manager's own
// minimise and close, pictures of the whole screen.

#include <QCursor>
#include <QLoggingCategory>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>

#include "desktop_session.h"
#include "http/test_servers.h"
#include "manager/manager_texts.h"
#include "manager/trace_viewer.h"
#include "tooling/trace_reader.h"
#include "manager/regex_tester.h"
#include "manager_fixture.h"
#include "ui/qt_host.h"
#include "ui/script_window.h"
#include "ui/tray_icon.h"

namespace velmar::testing {
namespace {

#define VELMAR_NEEDS_DESKTOP()                                                   \
  do {                                                                           \
    if (!DesktopSession::Missing().empty()) VELMAR_SKIP_WITHOUT(DesktopSession::Missing()); \
  } while (false)

class SessionTest : public ManagerTest {
 protected:
  // The window as the window manager has it: mapped, framed and placed
  // (until then its widgets' places on the screen are not known).
  static void Framed(QWidget* w) {
    EXPECT_TRUE(WaitUntil([&] {
      return DesktopSession::Viewable(w) && w->geometry().top() > w->frameGeometry().top();
    })) << w->metaObject()->className() << " viewable " << DesktopSession::Viewable(w)
        << ", top " << w->geometry().top() << ", frame top " << w->frameGeometry().top();
    QTest::qWait(200);
  }
  MainWindow& Shown() {
    MainWindow& w = Window();
    Framed(&w);
    DesktopSession::Xdotool({"windowactivate", "--sync", DesktopSession::WindowId(&w)});
    return w;
  }
  static QPoint Center(const QWidget* widget) {
    return widget->mapToGlobal(widget->rect().center());
  }
  void ClickButton(int id) { DesktopSession::ClickAt(Center(Window().button(id))); }
  // A right click on the row, and a click on the context menu's entry for
  // the command.
  void ChooseFromRowMenu(int row, int id, const QString& shot = {}) {
    QTableView* list = Window().list();
    const QRect cell = list->visualRect(Window().model().index(row, 0));
    DesktopSession::ClickAt(list->viewport()->mapToGlobal(cell.center()), 3);
    QMenu* menu = Window().contextMenu();
    ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
    QTest::qWait(200);  // a menu has no frame to wait for
    if (!shot.isEmpty()) DesktopSession::Shot(shot);
    QAction* action = Window().menuAction(id);
    ASSERT_TRUE(action->isEnabled()) << action->text().toStdString();
    DesktopSession::ClickAt(menu->mapToGlobal(menu->actionGeometry(action).center()));
    ASSERT_TRUE(WaitUntil([&] { return !menu->isVisible(); }));
  }
  void ClickRow(int row) {
    QTableView* list = Window().list();
    const QRect cell = list->visualRect(Window().model().index(row, 0));
    DesktopSession::ClickAt(list->viewport()->mapToGlobal(cell.center()));
  }
  // The centre of an element of a script window's page on the screen, once
  // the page has it.
  QPoint ElementOnScreen(ScriptWindow* window, const QString& id) {
    QPoint found;
    WaitUntil([&] {
      bool answered = false;
      window->page()->runJavaScript(
          QStringLiteral("(function(){var e=document.getElementById('%1');"
                         "if(!e)return '';var r=e.getBoundingClientRect();"
                         "return Math.round(r.left+r.width/2)+','+Math.round(r.top+r.height/2);})()")
              .arg(id),
          [&](const QVariant& v) {
            const QStringList xy = v.toString().split(QLatin1Char(','));
            if (xy.size() == 2) found = QPoint(xy[0].toInt(), xy[1].toInt());
            answered = true;
          });
      WaitUntil([&] { return answered; }, 5000);
      return !found.isNull();
    });
    return window->view()->mapToGlobal(found);
  }
};

// The shipped example: the row counts the clicks on its buttons, and the
// window's close box (Alt+F4 through the window manager) lets the script
// close it and end.
TEST_F(SessionTest, TheWindowExampleCountsRealClicksAndClosesOnAltF4) {
  VELMAR_NEEDS_DESKTOP();
  MainWindow& w = Shown();
  w.addScript("clicks", std::string(VELMAR_SOURCE_DIR) + "/examples/Script/window_clicks.vlm", "");
  ClickRow(0);
  ClickButton(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 4, "run"));
  ScriptWindow* page = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    page = w.host().window("main");
    return page && page->isVisible() && DesktopSession::Viewable(page);
  }));
  Framed(page);
  const QPoint count = ElementOnScreen(page, "count");
  DesktopSession::ClickAt(count);
  ASSERT_TRUE(CellBecomes(0, 1, "1 clicks so far")) << Cell(0, 1).toStdString();
  DesktopSession::ClickAt(count);
  ASSERT_TRUE(CellBecomes(0, 1, "2 clicks so far")) << Cell(0, 1).toStdString();
  DesktopSession::Shot("desktop_window_example");

  DesktopSession::Xdotool({"windowactivate", "--sync", DesktopSession::WindowId(page)});
  DesktopSession::Keys("alt+F4");
  ASSERT_TRUE(CellBecomes(0, 1, "2 clicks, bye")) << Cell(0, 1).toStdString();
  EXPECT_EQ(w.host().window("main"), nullptr);
  EXPECT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
}

// Exit with a script window open (its script stopped): the window closes
// with the program, and the program's event loop ends.
TEST_F(SessionTest, ExitClosesScriptWindowsAndEndsTheProgram) {
  VELMAR_NEEDS_DESKTOP();
  // Built the way the program builds it, with its own way to end.
  MainWindow w(env);
  w.show();
  ASSERT_TRUE(WaitUntil([&] { return DesktopSession::Viewable(&w); }));
  w.addScript("win", Script("win", "<main>\nopenwindow stay\nshowwindow stay\nwhile 1\n{\npause 20\n}\n"),
              "");
  w.selectRows({0});
  w.command(MainWindow::kRunScript);
  ASSERT_TRUE(WaitUntil([&] { return w.host().window("stay") && w.host().window("stay")->isVisible(); }));
  QPointer<ScriptWindow> page = w.host().window("stay");
  w.command(MainWindow::kStopScript);
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
  // A stopped script's window still only reports its close box.
  DesktopSession::Xdotool({"windowactivate", "--sync", DesktopSession::WindowId(page)});
  DesktopSession::Keys("alt+F4");
  QTest::qWait(300);
  ASSERT_TRUE(page);
  EXPECT_TRUE(page->isVisible());
  EXPECT_EQ(w.host().lastWindowEvent().eventName, "window_close");

  // The person closes the manager from its file menu.
  DesktopSession::Xdotool({"windowactivate", "--sync", DesktopSession::WindowId(&w)});
  QTimer::singleShot(0, &w, [] { DesktopSession::Keys("alt+f q"); });
  // An exit that ends nothing would hang here: end it from outside then.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  guard.start(20000);
  const int status = QCoreApplication::exec();
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(w.exited());
  EXPECT_TRUE(page.isNull());
  EXPECT_EQ(w.host().window("stay"), nullptr);
}

// Minimised with "minimise to tray" on: the window leaves the screen, frame
// and all, and the tray icon brings it back.
TEST_F(SessionTest, MinimiseToTheTrayTakesTheWindowOffTheScreen) {
  VELMAR_NEEDS_DESKTOP();
  if (!DesktopSession::HasTray()) VELMAR_SKIP_WITHOUT("a running trayer");
  dir.Write("Config.ini", "[setting]\r\nminitotray=1\r\n");
  MainWindow& w = Shown();
  ASSERT_TRUE(w.settings().minimizeToTray);
  DesktopSession::Xdotool({"windowminimize", "--sync", DesktopSession::WindowId(&w)});
  ASSERT_TRUE(WaitUntil([&] { return w.trayShown(); }));
  // Still off the screen a while later: nothing maps it again.
  QTest::qWait(700);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(DesktopSession::Viewable(&w));
  DesktopSession::Shot("desktop_minimised_to_tray");

  // A click on the icon in the tray.
  QRect icon;
  ASSERT_TRUE(WaitUntil([&] {
    icon = w.tray().icon()->geometry();
    return icon.isValid() && icon.width() > 0 && icon.x() > 0;
  }));
  DesktopSession::ClickAt(icon.center());
  ASSERT_TRUE(WaitUntil([&] { return DesktopSession::Viewable(&w) && !w.trayShown(); }));
}

// Opened with the pointer near the bottom of the screen, the tester keeps
// 30 pixels free below its frame, not below its contents.
TEST_F(SessionTest, TheRegexTesterKeepsThirtyPixelsFreeBelowItsFrame) {
  VELMAR_NEEDS_DESKTOP();
  MainWindow& w = Shown();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  DesktopSession::MoveTo({120, area.bottom() - 4});
  DesktopSession::Keys("alt+t r");
  ASSERT_TRUE(WaitUntil([&] { return w.regexTester() && DesktopSession::Viewable(w.regexTester()); }));
  RegexTester* t = w.regexTester();
  QTest::qWait(500);  // the frame arrives, the window is placed again
  const QRect frame = t->frameGeometry();
  EXPECT_GT(t->geometry().top(), frame.top()) << "no frame from the window manager";
  EXPECT_EQ(frame.bottom() + 1, area.bottom() + 1 - RegexTester::kBottomMargin);
  EXPECT_EQ(frame.left(), 120);
  DesktopSession::Shot("desktop_regex_tester");
}

// A hundred looping scripts paused and run again by the buttons: every row
// reads what the command wrote, never a "sleep" the script queued before.
TEST_F(SessionTest, PausedRowsReadPause) {
  VELMAR_NEEDS_DESKTOP();
  MainWindow& w = Shown();
  constexpr int kScripts = 100;
  const std::string path = Script("loop", "<main>\nwhile 1\n{\npause 1\n}\n");
  for (int i = 0; i < kScripts; ++i) w.addScript("loop" + std::to_string(i), path, "");
  ClickRow(0);
  DesktopSession::Keys("ctrl+a");
  ASSERT_EQ(w.list()->selectionModel()->selectedRows().size(), kScripts);
  ClickButton(MainWindow::kRunScript);
  const auto all = [&](const QString& state) {
    for (int row = 0; row < kScripts; ++row) {
      if (Cell(row, 4) != state) return false;
    }
    return true;
  };
  ASSERT_TRUE(WaitUntil([&] { return all("sleep"); }));
  for (int round = 0; round < 3; ++round) {
    ClickButton(MainWindow::kPauseScript);
    QTest::qWait(600);
    for (int row = 0; row < kScripts; ++row) EXPECT_EQ(Cell(row, 4), "pause") << "row " << row;
    ClickButton(MainWindow::kRunScript);
    ASSERT_TRUE(WaitUntil([&] { return all("sleep"); }));
  }
  DesktopSession::Shot("desktop_paused_rows");
  ClickButton(MainWindow::kStopScript);
  ASSERT_TRUE(WaitUntil([&] { return all("exit"); }));
}

// A double click on a row opens its script in the user's editor.
TEST_F(SessionTest, ADoubleClickOpensTheScript) {
  VELMAR_NEEDS_DESKTOP();
  MainWindow& w = Shown();
  const std::string path = Script("edit me", "<main>\nshow x\n");
  w.addScript("edit me", path, "");
  QTableView* list = w.list();
  const QRect cell = list->visualRect(w.model().index(0, 0));
  DesktopSession::MoveTo(list->viewport()->mapToGlobal(cell.center()));
  DesktopSession::Xdotool({"click", "--repeat", "2", "--delay", "80", "1"});
  ASSERT_TRUE(WaitUntil([&] { return !urls.empty(); }));
  EXPECT_EQ(urls[0].toLocalFile().toStdString(), path);
}

// The exit refusal as a person meets it: Enter keeps the program open;
// the second button stops every script and exits.
TEST_F(SessionTest, TheRefusalBoxStopsEverythingAndExitsOnItsSecondButton) {
  VELMAR_NEEDS_DESKTOP();
  MainWindow w(env);
  w.show();
  Framed(&w);
  DesktopSession::Xdotool({"windowactivate", "--sync", DesktopSession::WindowId(&w)});
  const std::string loop = Script("loop", "<main>\nwhile 1\n{\npause 20\n}\n");
  for (int i = 0; i < 3; ++i) w.addScript("loop" + std::to_string(i), loop, "");
  w.selectRows({0, 1, 2});
  DesktopSession::ClickAt(Center(w.button(MainWindow::kRunScript)));
  ASSERT_TRUE(WaitUntil([&] { return w.model().instanceAt(2)->worker.alive(); }));
  DesktopSession::Keys("alt+f q");
  ASSERT_TRUE(WaitUntil([&] { return w.refusalBox() && w.refusalBox()->isVisible(); }));
  Framed(w.refusalBox());
  DesktopSession::Shot("desktop_exit_refused");
  DesktopSession::Keys("Return");
  ASSERT_TRUE(WaitUntil([&] { return w.refusalBox() == nullptr; }));
  EXPECT_TRUE(w.model().instanceAt(0)->worker.alive());
  EXPECT_FALSE(w.exited());

  DesktopSession::Keys("alt+f q");
  ASSERT_TRUE(WaitUntil([&] { return w.refusalBox() && w.refusalBox()->isVisible(); }));
  Framed(w.refusalBox());
  QAbstractButton* stopAll = nullptr;
  for (QAbstractButton* b : w.refusalBox()->buttons()) {
    if (b->text() == QString::fromUtf8(manager_text::kStopAllAndExit)) stopAll = b;
  }
  ASSERT_NE(stopAll, nullptr);
  const QPoint target = Center(stopAll);
  QTimer::singleShot(0, &w, [target] { DesktopSession::ClickAt(target); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  guard.start(20000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(w.exited());
  EXPECT_EQ(w.model().rowCount(), 0);
}

// "Stop all" from the tray's menu, and "run again" from its button.
TEST_F(SessionTest, StopAllFromTheTrayAndRunAgainFromItsButton) {
  VELMAR_NEEDS_DESKTOP();
  if (!DesktopSession::HasTray()) VELMAR_SKIP_WITHOUT("a running trayer");
  MainWindow& w = Shown();
  const std::string loop = Script("counting", "<main>\nwhile 1\n{\npause 20\n}\n");
  w.addScript("a", loop, "");
  w.addScript("b", loop, "");
  ClickRow(0);
  DesktopSession::Keys("ctrl+a");
  ClickButton(MainWindow::kRunScript);
  ASSERT_TRUE(WaitUntil([&] {
    return w.model().instanceAt(0)->worker.alive() && w.model().instanceAt(1)->worker.alive();
  }));
  // Run again on running rows: nothing, and the status bar says why.
  ClickButton(MainWindow::kRunScript);
  EXPECT_NE(w.statusBar()->currentMessage().indexOf(QStringLiteral("正在运行")), -1);

  // The close box hides to the tray (closeto=1 by default).
  DesktopSession::Keys("alt+F4");
  ASSERT_TRUE(WaitUntil([&] { return w.trayShown() && !w.isVisible(); }));
  QRect icon;
  // Until the tray has taken the icon in, it stands at the screen's corner.
  ASSERT_TRUE(WaitUntil([&] {
    icon = w.tray().icon()->geometry();
    return icon.isValid() && icon.width() > 0 && icon.x() > 0;
  }));
  DesktopSession::ClickAt(icon.center(), 3);
  ASSERT_TRUE(WaitUntil([&] { return w.trayMenu()->isVisible(); }));
  QTest::qWait(200);  // a menu has no frame to wait for
  DesktopSession::Shot("desktop_tray_menu");
  QAction* stopAll = nullptr;
  for (QAction* a : w.trayMenu()->actions()) {
    if (a->text() == QStringLiteral("全部停止(&T)")) stopAll = a;
  }
  ASSERT_NE(stopAll, nullptr);
  DesktopSession::ClickAt(w.trayMenu()->mapToGlobal(w.trayMenu()->actionGeometry(stopAll).center()));
  ASSERT_TRUE(WaitUntil([&] {
    return !w.model().instanceAt(0)->worker.alive() && !w.model().instanceAt(1)->worker.alive();
  }));

  // Back from the tray, run one of them again.
  DesktopSession::ClickAt(icon.center());
  Framed(&w);
  ClickRow(1);
  ClickButton(MainWindow::kRunAgain);
  ASSERT_TRUE(WaitUntil([&] { return w.model().instanceAt(1)->worker.alive(); }));
  EXPECT_EQ(Cell(1, 0), "b");
  EXPECT_EQ(Cell(1, 4), "sleep");
  DesktopSession::Shot("desktop_run_again");
  ClickButton(MainWindow::kStopScript);
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(1)->worker.alive(); }));
}

// The manager starts without the browser engine: none of its processes and
// nothing of its set-up on the terminal; the engine starts with the first
// script window, and its set-up report stays off the terminal then too.
TEST_F(SessionTest, TheManagerStartsQuietlyWithoutTheBrowserEngine) {
  VELMAR_NEEDS_DESKTOP();
  QProcess tamarind;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("VELMAR_HOME", QString::fromStdString(dir.path().string()));
  // What a desktop session has.
  const std::filesystem::path runtime = dir.path() / "runtime";
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
  environment.remove("QT_LOGGING_RULES");
  tamarind.setProcessEnvironment(environment);
  tamarind.start(TAMARIND_PATH, {});
  ASSERT_TRUE(tamarind.waitForStarted(10000));
  const QString pid = QString::number(tamarind.processId());
  ASSERT_TRUE(WaitUntil([&] {
    return !DesktopSession::Xdotool({"search", "--onlyvisible", "--pid", pid}).isEmpty();
  }));
  QTest::qWait(2000);
  const QString errors = QString::fromLocal8Bit(tamarind.readAllStandardError());
  QProcess children;
  children.start("pgrep", {"-P", pid});
  children.waitForFinished(10000);
  const QString childPids = QString::fromLocal8Bit(children.readAllStandardOutput()).trimmed();
  DesktopSession::Shot("desktop_manager_started");
  tamarind.kill();
  tamarind.waitForFinished(10000);
  EXPECT_TRUE(errors.trimmed().isEmpty()) << errors.toStdString();
  EXPECT_TRUE(childPids.isEmpty()) << "processes started: " << childPids.toStdString();

  // In this process: no engine until a script opens a window.
  MainWindow& w = Window();
  EXPECT_EQ(w.host().profile(), nullptr);
  w.addScript("win", Script("win", "<main>\nopenwindow one\nshow opened\n"), "");
  w.selectRows({0});
  w.command(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "opened"));
  EXPECT_NE(w.host().profile(), nullptr);
  const QLoggingCategory setUp("qt.webenginecontext");
  EXPECT_FALSE(setUp.isInfoEnabled());
  EXPECT_TRUE(setUp.isWarningEnabled());
}

// A row that records, as a person sets it up: the switch from the row's
// menu, a run against a local server, the trace on the disk, the switch kept
// in the project, and the last run in the viewer window.
TEST_F(SessionTest, ARecordedRunFromTheRowMenuOpensInTheViewer) {
  VELMAR_NEEDS_DESKTOP();
  RawServer server([](int fd, const std::string&) {
    const std::string body = "<html><p>price: 42</p></html>";
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  MainWindow& w = Shown();
  const std::string path = Script("prices", "<main>\nget " + server.url("/prices") +
                                                "\nregex price price: {[0-9]+}\n"
                                                "match price [#http_body]\nshow fetched\n");
  w.addScript("prices", path, "");
  ClickRow(0);
  EXPECT_FALSE(w.menuAction(MainWindow::kRecordRun)->isChecked());
  ChooseFromRowMenu(0, MainWindow::kRecordRun, "desktop_row_menu");
  ASSERT_TRUE(w.model().recording(0));
  ClickButton(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 1, "fetched"));
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
  DesktopSession::Shot("desktop_recording_row");

  // The trace holds the run's request and match.
  const std::string file = QFile::encodeName(w.model().lastTrace(0)).toStdString();
  TraceFile trace;
  std::string reason;
  ASSERT_TRUE(ReadTraceFile(file, trace, reason)) << reason;
  ASSERT_EQ(trace.Exchanges().size(), 1u);
  EXPECT_EQ(trace.Exchanges()[0]->value("url", ""), server.url("/prices"));
  bool matched = false;
  for (const auto& event : trace.events) matched |= event.value("ev", "") == "match";
  EXPECT_TRUE(matched);

  // Saved as a project and opened in a fresh window: the switch is kept.
  projectFile = QString::fromStdString((dir.path() / "prices.tmpro").string());
  ClickButton(MainWindow::kExportProject);
  EXPECT_NE(ReadFile(dir.path() / "prices.tmpro").find("^record\r\n"), std::string::npos);
  {
    MainWindow other(env);
    other.importProject(projectFile);
    ASSERT_EQ(other.model().rowCount(), 2);  // the kept list's row and the imported one
    EXPECT_TRUE(other.model().recording(1));
  }

  // The last run in the viewer, from the row's menu.
  ChooseFromRowMenu(0, MainWindow::kViewLastRun, "desktop_row_menu_recording");
  TraceViewer* viewer = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    viewer = w.traceViewer();
    return viewer && DesktopSession::Viewable(viewer);
  }));
  Framed(viewer);
  EXPECT_EQ(viewer->windowTitle(),
            QStringLiteral("运行记录 - prices (%1)").arg(QFileInfo(QString::fromStdString(file)).fileName()));
  const auto pageText = [&] {
    QString text;
    bool answered = false;
    viewer->view()->page()->runJavaScript(QStringLiteral("document.body.innerText"),
                                          [&](const QVariant& v) {
                                            text = v.toString();
                                            answered = true;
                                          });
    WaitUntil([&] { return answered; }, 10000);
    return text;
  };
  ASSERT_TRUE(WaitUntil([&] { return pageText().contains(QStringLiteral("/prices")); }, 30000))
      << pageText().left(2000).toStdString();
  QTest::qWait(300);
  EXPECT_EQ(viewer->size(), QSize(TraceViewer::kInitialWidth, TraceViewer::kInitialHeight));
  DesktopSession::Shot("desktop_trace_viewer");
  DesktopSession::Xdotool({"windowsize", "--sync", DesktopSession::WindowId(viewer), "100", "100"});
  ASSERT_TRUE(WaitUntil([&] {
    return viewer->size() == QSize(TraceViewer::kMinimumWidth, TraceViewer::kMinimumHeight);
  })) << viewer->width() << "x" << viewer->height();
  QTest::qWait(500);
  DesktopSession::Shot("desktop_trace_viewer_smallest");
  viewer->close();
}

}  // namespace
}  // namespace velmar::testing
