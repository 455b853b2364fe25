// The main window: its layout, the commands from buttons and menus, the
// columns the scripts write, dropped files and the exit rules.

#include <QAction>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QStyledItemDelegate>
#include <filesystem>

#include "http/http_client.h"
#include "manager/add_script_dialog.h"
#include "manager/manager_texts.h"
#include "manager_fixture.h"
#include "ui/qt_host.h"

namespace velmar::testing {
namespace {

const char kLoop[] =
    "<main>\nvar [#n] 0\nwhile (1)\n{\n  var [#n] ([#n]+1)\n  show tick [#n]\n  pause 20\n}\n";

QStringList ActionTexts(const QMenu* menu) {
  QStringList texts;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) texts << action->text();
  }
  return texts;
}

using MainWindowTest = ManagerTest;

TEST_F(MainWindowTest, LayoutMenusAndStatusBarAsTheManagerShowsThem) {
  MainWindow& w = Window();
  EXPECT_EQ(w.windowTitle(), "Velmar 1.5");
  const QStringList headers = {"脚本", "最新消息", "成功", "失败", "状态"};
  const int widths[] = {108, 250, 40, 40, 40};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(w.model().headerData(i, Qt::Horizontal, Qt::DisplayRole).toString(), headers[i]);
    EXPECT_EQ(w.list()->columnWidth(i), widths[i]) << i;
  }
  EXPECT_EQ(w.list()->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(w.list()->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_TRUE(w.list()->showGrid());
  const std::pair<int, const char*> buttons[] = {
      {1002, "添加脚本"}, {1003, "删除脚本"}, {1004, "删除所有"},
      {1005, "导出脚本"}, {1006, "导入脚本"}, {1007, "执行脚本"},
      {1008, "暂停执行"}, {1009, "停止退出"}, {1010, "重新加载"}};
  for (const auto& [id, caption] : buttons) {
    ASSERT_NE(w.button(id), nullptr);
    EXPECT_EQ(w.button(id)->text(), QString::fromUtf8(caption));
  }
  QStringList titles;
  for (QAction* action : w.menuBar()->actions()) titles << action->text();
  EXPECT_EQ(titles, QStringList({"文件(&F)", "工具(&T)", "帮助(&H)"}));
  QStringList entries;
  for (QAction* action : w.menuBar()->actions()) entries << ActionTexts(action->menu());
  EXPECT_EQ(entries,
            QStringList({"添加脚本(&A)", "删除所有", "导入脚本(&I)", "导出脚本(&E)",
                         "重新执行(&G)", "全部停止(&T)", "退出(&Q)",
                         "参数配置(&C)..", "正则表达式测试(&R)", "脚本打包器(&P)", "使用手册(&U)",
                         "在线讨论(&B)..", "&About Tamarind..."}));
  EXPECT_EQ(ActionTexts(w.contextMenu()),
            QStringList({"添加脚本(&A)", "删除脚本(&D)", "删除所有", "执行脚本(&R)", "暂停执行(&P)",
                         "停止退出(&S)", "重新执行(&G)", "导入脚本(&I)", "导出脚本(&E)",
                         "错误详情(&W)", "记录运行(&L)", "查看上次运行(&V)"}));
  EXPECT_EQ(w.contextMenu()->defaultAction(), w.contextMenu()->actions().first());
  EXPECT_EQ(ActionTexts(w.trayMenu()),
            QStringList({"显示主界面(&S)", "全部停止(&T)", "退出(&Q)", "正则表达式测试(&R)",
                         "脚本打包器(&P)",
                         "帮助(&H)", "在线讨论(&B).."}));
  EXPECT_EQ(w.statusBar()->height(), 20);
  EXPECT_NE(w.statusBar()->findChild<QLabel*>()->text().indexOf("https://velmar.org/"), -1);

  // The about entry opens "Velmar 1.5" with OK.
  w.menuAction(MainWindow::kAbout)->trigger();
  auto* about = w.findChild<QMessageBox*>();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->windowTitle(), "About Tamarind");
  EXPECT_EQ(about->text(), "Velmar 1.5");
  EXPECT_EQ(about->informativeText(), QString("版本 ") + VELMAR_VERSION);
  EXPECT_EQ(about->buttons().size(), 1);
  about->close();
}

// Every button lies right of the list, inside the window, clear of each
// other; and so at the minimum size too.
void ExpectNothingOverlaps(MainWindow& w) {
  const QRect list = w.list()->geometry();
  EXPECT_GT(list.width(), 300);
  EXPECT_GT(list.height(), 200);
  QRect previous;
  for (int id : {1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010,
                 static_cast<int>(MainWindow::kRunAgain)}) {
    QPushButton* b = w.button(id);
    ASSERT_TRUE(b->isVisible());
    const QRect r(b->mapTo(&w, QPoint(0, 0)), b->size());
    EXPECT_GT(r.left(), w.list()->mapTo(&w, QPoint(0, 0)).x() + list.width()) << id;
    EXPECT_LE(r.right(), w.width()) << id;
    EXPECT_LE(r.bottom(), w.statusBar()->mapTo(&w, QPoint(0, 0)).y()) << id;
    EXPECT_FALSE(previous.intersects(r)) << id;
    previous = r;
  }
}

// A command is one action wherever it is offered: the menu bar, the list's
// context menu, the tray menu and its button all reach it, and its state
// shows in every one of them.
TEST_F(MainWindowTest, EachCommandIsOneActionSharedByMenusTrayAndButton) {
  MainWindow& w = Window();
  const auto holders = [&](QAction* action) {
    QStringList where;
    for (QAction* menu : w.menuBar()->actions()) {
      if (menu->menu()->actions().contains(action)) where << "menu";
    }
    if (w.contextMenu()->actions().contains(action)) where << "context";
    if (w.trayMenu()->actions().contains(action)) where << "tray";
    return where;
  };
  EXPECT_EQ(holders(w.menuAction(MainWindow::kStopAll)), QStringList({"menu", "tray"}));
  EXPECT_EQ(holders(w.menuAction(MainWindow::kRunAgain)), QStringList({"menu", "context"}));
  EXPECT_EQ(holders(w.menuAction(MainWindow::kRunScript)), QStringList({"context"}));
  EXPECT_EQ(holders(w.menuAction(MainWindow::kShowMain)), QStringList({"tray"}));

  // A button triggers its command's action, once per click.
  QAction* runAgain = w.menuAction(MainWindow::kRunAgain);
  int triggered = 0;
  QObject::connect(runAgain, &QAction::triggered, [&] { ++triggered; });
  QTest::mouseClick(w.button(MainWindow::kRunAgain), Qt::LeftButton);
  EXPECT_EQ(triggered, 1);
  // The button shows the caption without the access key, and follows the
  // action's state.
  EXPECT_EQ(runAgain->iconText(), QStringLiteral("重新执行"));
  runAgain->setEnabled(false);
  EXPECT_FALSE(w.button(MainWindow::kRunAgain)->isEnabled());
  QTest::mouseClick(w.button(MainWindow::kRunAgain), Qt::LeftButton);
  EXPECT_EQ(triggered, 1);
  runAgain->setEnabled(true);
  EXPECT_TRUE(w.button(MainWindow::kRunAgain)->isEnabled());

  // The tray's manual entry has its own caption and stands for the manual's
  // action.
  QAction* manual = w.menuAction(MainWindow::kManual);
  QAction* trayManual = w.trayMenu()->actions().at(5);
  ASSERT_EQ(trayManual->text(), QStringLiteral("帮助(&H)"));
  int manualTriggered = 0;
  QObject::connect(manual, &QAction::triggered, [&] { ++manualTriggered; });
  w.openUrl = [](const QUrl&) { return true; };
  trayManual->trigger();
  EXPECT_EQ(manualTriggered, 1);
  manual->setEnabled(false);
  EXPECT_FALSE(trayManual->isEnabled());
  manual->setEnabled(true);
}

TEST_F(MainWindowTest, RendersAtTheInitialAndTheMinimumSizeAndGrowsTheMessageColumn) {
  MainWindow& w = Window();
  Add("first", kLoop);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  ExpectNothingOverlaps(w);
  SaveShot(&w, "manager_initial");
  const int rightGap = w.width() - w.button(1002)->mapTo(&w, QPoint(0, 0)).x();

  w.resize(w.width() + 200, w.height() + 100);
  ASSERT_TRUE(WaitUntil([&] { return w.list()->columnWidth(1) == 450; }));
  EXPECT_EQ(w.width() - w.button(1002)->mapTo(&w, QPoint(0, 0)).x(), rightGap);
  ExpectNothingOverlaps(w);

  w.resize(10, 10);  // clamped to the minimum
  ASSERT_TRUE(WaitUntil([&] { return w.width() == MainWindow::kInitialWidth; }));
  EXPECT_EQ(w.height(), MainWindow::kInitialHeight);
  EXPECT_EQ(w.list()->columnWidth(1), 250);
  ExpectNothingOverlaps(w);
  SaveShot(&w, "manager_minimum");
}

TEST_F(MainWindowTest, AddDialogAddsARowWithTheHttpDefaultsAndReadyColumns) {
  MainWindow& w = Window();
  const std::string path = Script("a", "show hi\n");
  w.menuAction(MainWindow::kAddScript)->trigger();
  AddScriptDialog* dialog = w.addDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), "添加资源..");
  EXPECT_EQ(QString::fromUtf8(manager_text::kScriptFilter), "Tamarind Script (*.vlm);;All (*.*)");
  SaveShot(dialog, "manager_add_dialog");
  // OK with an empty path adds nothing.
  QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
  EXPECT_EQ(Rows(), 0);

  Click(MainWindow::kAddScript);
  dialog = w.addDialog();
  ASSERT_NE(dialog, nullptr);
  dialog->nameField()->setText("采集");
  dialog->pathField()->setText(QString::fromStdString(path));
  dialog->paramField()->setText("p=1");
  QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Cell(0, 0), "采集");
  EXPECT_EQ(Cell(0, 1), QString::fromStdString(path));
  EXPECT_EQ(Cell(0, 2), "0");
  EXPECT_EQ(Cell(0, 3), "0");
  EXPECT_EQ(Cell(0, 4), "ready");
  ScriptInstance* s = w.model().instanceAt(0);
  EXPECT_EQ(s->param, "p=1");
  EXPECT_EQ(s->variables["param"], "p=1");
  // Defaults of an empty Config.ini: no proxy, no time-outs, the manager's
  // user agent and language.
  EXPECT_EQ(s->http.proxyAddress(), "");
  EXPECT_EQ(s->http.receiveTimeout(), 0);
  EXPECT_EQ(s->http.userAgent(), "Tamarind/1.4 (https://velmar.org/)");
  EXPECT_EQ(s->http.acceptLanguage(), "zh-cn");
}

TEST_F(MainWindowTest, ColumnsFollowTheScriptsRequestsAndHugeTextsAreCut) {
  MainWindow& w = Window();
  std::string big;
  for (int line = 0; line < 10 * 1024; ++line) big += std::string(1022, 'x') + "\r\n";
  const std::string bigFile = dir.Write("big.txt", big).string();
  Add("s", "show 第一步\nright 7\nleft 2\nstate 采集中\npause 300\nshow [@readfile<<<" + bigFile +
               "]\n");
  w.selectRows({0});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(0, 4, "sleep"));
  EXPECT_EQ(Cell(0, 1), "第一步");
  EXPECT_EQ(Cell(0, 2), "7");
  EXPECT_EQ(Cell(0, 3), "2");
  ASSERT_TRUE(CellBecomes(0, 4, "exit"));
  // The 10 MB text arrived, cut for the row.
  const QString shown = Cell(0, 1);
  EXPECT_EQ(shown.size(), ScriptListModel::kMaxCellChars);
  EXPECT_TRUE(shown.startsWith("xxxx"));
}

TEST_F(MainWindowTest, TheRowTooltipShowsWhereTheLastScriptErrorHappened) {
  MainWindow& w = Window();
  Add("a", "show a\n");
  ScriptInstance* b = Add("b", "show b\n");
  ASSERT_NE(b, nullptr);
  const QModelIndex cell = w.model().index(1, 1);
  const QString before = w.model().data(cell, Qt::ToolTipRole).toString();
  w.recordScriptError(b->id, {"Script/b.vlm", 3, "CALL <x>", "use of an undefined section name"});
  EXPECT_EQ(w.model().data(cell, Qt::ToolTipRole).toString(),
            before + "\nScript/b.vlm:3: error: use of an undefined section name");
  // Only that script's row; the cell text itself is unchanged.
  EXPECT_EQ(w.model().lastError(0), "");
  EXPECT_EQ(w.model().data(cell, Qt::DisplayRole).toString(), before);

  // The details entry shows where and why for the selected row, and says so
  // for a row without an error.
  w.selectRows({1});
  w.menuAction(MainWindow::kErrorDetails)->trigger();
  EXPECT_EQ(w.lastMessage(), "Script/b.vlm:3: error: use of an undefined section name");
  w.selectRows({0});
  w.menuAction(MainWindow::kErrorDetails)->trigger();
  EXPECT_EQ(w.lastMessage(), "该脚本没有出错．");
  for (QMessageBox* box : w.findChildren<QMessageBox*>()) box->close();
}

TEST_F(MainWindowTest, RunPauseStopAndReloadFollowTheirEdgeCases) {
  MainWindow& w = Window();
  ScriptInstance* s = Add("loop", kLoop);
  Add("other", kLoop);
  // Reload of a script that never ran: a fresh row at the end, "ready".
  w.selectRows({0});
  EXPECT_TRUE(w.model().instanceAt(0) == s);

  w.selectRows({0, 1});
  Click(MainWindow::kRunScript);
  EXPECT_EQ(Cell(0, 4), "run");
  EXPECT_EQ(Cell(1, 4), "run");
  ASSERT_TRUE(WaitUntil([&] { return Cell(0, 1).startsWith("tick"); }));
  ASSERT_TRUE(CellBecomes(0, 4, "sleep"));

  // Run on a running row changes nothing: the script's own state stays.
  w.selectRows({0});
  w.contextMenu()->actions()[3]->trigger();  // 执行脚本(&R)
  EXPECT_EQ(Cell(0, 4), "sleep");

  // Reload of a running script does nothing.
  Click(MainWindow::kReloadScript);
  EXPECT_EQ(w.model().instanceAt(0), s);
  // Delete of a running script does nothing.
  Click(MainWindow::kDeleteScript);
  EXPECT_EQ(Rows(), 2);

  // Pause, then run resumes and shows "run".
  Click(MainWindow::kPauseScript);
  EXPECT_EQ(Cell(0, 4), "pause");
  EXPECT_TRUE(w.host().isPaused(*s));
  // A `show` the script made just before the pause reached it may still be
  // on its way to the window: the cell counts as frozen once it has stood
  // still for a while (a running loop changes it every 20 ms).
  QString frozen = Cell(0, 1);
  QElapsedTimer still;
  still.start();
  ASSERT_TRUE(WaitUntil([&] {
    if (Cell(0, 1) != frozen) {
      frozen = Cell(0, 1);
      still.restart();
    }
    return still.elapsed() >= 300;
  }));
  QTest::qWait(200);
  EXPECT_EQ(Cell(0, 1), frozen);
  Click(MainWindow::kRunScript);
  EXPECT_EQ(Cell(0, 4), "run");
  ASSERT_TRUE(WaitUntil([&] { return Cell(0, 1) != frozen; }));

  // Pause then stop: the stop gets through and the script ends.
  Click(MainWindow::kPauseScript);
  w.contextMenu()->actions()[5]->trigger();  // 停止退出(&S)
  ASSERT_TRUE(WaitUntil([&] { return !s->worker.alive(); }));
  ASSERT_TRUE(CellBecomes(0, 4, "exit"));
  // Run on an ended script changes nothing.
  Click(MainWindow::kRunScript);
  EXPECT_EQ(Cell(0, 4), "exit");
  EXPECT_FALSE(s->worker.alive());

  // Reload of the stopped one: a fresh "ready" row replaces it.
  Click(MainWindow::kReloadScript);
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 0), "other");
  EXPECT_EQ(Cell(1, 0), "loop");
  EXPECT_EQ(Cell(1, 4), "ready");
  EXPECT_EQ(w.model().instanceAt(1)->row, 1);
  EXPECT_EQ(w.model().instanceAt(0)->row, 0);

  // Delete all leaves the running one.
  Click(MainWindow::kDeleteAll);
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Cell(0, 0), "other");
  w.selectRows({0});
  Click(MainWindow::kStopScript);
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(0)->worker.alive(); }));
  Click(MainWindow::kDeleteAll);
  EXPECT_EQ(Rows(), 0);
  Click(MainWindow::kDeleteAll);  // on an empty list: nothing
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(w.host().instanceCount(), 0u);
}

TEST_F(MainWindowTest, DeleteSelectedRenumbersTheRowsBelow) {
  MainWindow& w = Window();
  for (const char* name : {"a", "b", "c", "d"}) Add(name, "show x\n");
  w.selectRows({1, 3});
  w.contextMenu()->actions()[1]->trigger();  // 删除脚本(&D)
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(0, 0), "a");
  EXPECT_EQ(Cell(1, 0), "c");
  EXPECT_EQ(w.model().instanceAt(1)->row, 1);
  EXPECT_EQ(w.host().instanceAt(1), w.model().instanceAt(1));
}

TEST_F(MainWindowTest, DroppedFilesAreAddedAndFoldersAndUnreadableFilesAreNot) {
  MainWindow& w = Window();
  const QString a = QString::fromStdString(Script("甲", "show 1\n"));
  const QString b = QString::fromStdString(Script("b", "show 2\n"));
  const QString c = QString::fromStdString(Script("c", "show 3\n"));
  w.addDroppedFiles({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b), QUrl::fromLocalFile(c)});
  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(Cell(0, 0), "甲.vlm");
  EXPECT_EQ(Cell(2, 0), "c.vlm");
  for (int row = 0; row < 3; ++row) EXPECT_EQ(w.model().instanceAt(row)->param, "");
  EXPECT_EQ(w.model().instanceAt(1)->path, b.toStdString());

  const QString folder = QString::fromStdString((dir.path() / "Script").string());
  const QString missing = QString::fromStdString((dir.path() / "gone.vlm").string());
  w.addDroppedFiles({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(missing)});
  EXPECT_EQ(Rows(), 3);
  EXPECT_NE(w.lastMessage().indexOf(folder), -1);
  EXPECT_NE(w.lastMessage().indexOf(missing), -1);
}

TEST_F(MainWindowTest, ExitIsRefusedWhileAScriptRunsEvenPausedAndFreesEverythingAfter) {
  MainWindow& w = Window();
  ScriptInstance* s = Add("loop", kLoop);
  Add("idle", "show x\n");
  w.selectRows({0});
  Click(MainWindow::kRunScript);
  Click(MainWindow::kPauseScript);
  ASSERT_TRUE(w.host().isPaused(*s));
  w.command(MainWindow::kRegexTest);
  w.menuAction(MainWindow::kExit)->trigger();
  EXPECT_EQ(w.lastMessage(), "仍有线程在运行中，请先停止再退出．");
  EXPECT_EQ(quits, 0);
  EXPECT_EQ(Rows(), 2);

  Click(MainWindow::kStopScript);
  ASSERT_TRUE(WaitUntil([&] { return !s->worker.alive(); }));
  w.command(MainWindow::kExit);
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(w.host().instanceCount(), 0u);
  EXPECT_EQ(w.regexTester(), nullptr);
}

// The refusal keeps its text and its OK (the default, which changes
// nothing); its second button stops every script, waits for them and exits.
TEST_F(MainWindowTest, TheRefusalBoxCanStopEverythingAndExit) {
  MainWindow& w = Window();
  ScriptInstance* a = Add("a", kLoop);
  ScriptInstance* b = Add("b", kLoop);
  w.selectRows({0, 1});
  Click(MainWindow::kRunScript);
  Click(MainWindow::kPauseScript);  // a paused script counts as running
  w.command(MainWindow::kExit);
  QMessageBox* box = w.refusalBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QString::fromUtf8(manager_text::kExitRefused));
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
  QTest::keyClick(box, Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return w.refusalBox() == nullptr; }));
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(a->worker.alive());

  w.command(MainWindow::kExit);
  box = w.refusalBox();
  ASSERT_NE(box, nullptr);
  QAbstractButton* stopAll = nullptr;
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == QString::fromUtf8(manager_text::kStopAllAndExit)) stopAll = button;
  }
  ASSERT_NE(stopAll, nullptr);
  QTest::mouseClick(stopAll, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return quits == 1; }));
  EXPECT_EQ(Rows(), 0);
  (void)b;
}

// "Stop all" from the file menu and the tray menu; "run again" reloads an
// ended script and runs it, while "run" on a running row says in the status
// bar why nothing happened.
TEST_F(MainWindowTest, StopAllRunAgainAndWhyRunDidNothing) {
  MainWindow& w = Window();
  Add("a", kLoop);
  Add("b", kLoop);
  Add("once", "<main>\nshow ran once\n");
  w.selectRows({0, 1});
  Click(MainWindow::kRunScript);
  Click(MainWindow::kRunScript);
  EXPECT_NE(w.statusBar()->currentMessage().indexOf("\"a\", \"b\""), -1)
      << w.statusBar()->currentMessage().toStdString();
  w.menuAction(MainWindow::kStopAll)->trigger();
  ASSERT_TRUE(WaitUntil([&] {
    return !w.model().instanceAt(0)->worker.alive() && !w.model().instanceAt(1)->worker.alive();
  }));
  EXPECT_TRUE(CellBecomes(0, 4, "exit"));

  w.selectRows({2});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(CellBecomes(2, 1, "ran once"));
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(2)->worker.alive(); }));
  dir.Write("Script/once.vlm", "<main>\nshow ran again\n");
  ASSERT_NE(w.button(MainWindow::kRunAgain), nullptr);
  Click(MainWindow::kRunAgain);
  // Read anew and run: the row (now the last) shows the new text.
  ASSERT_TRUE(CellBecomes(2, 1, "ran again")) << Cell(2, 1).toStdString();
  EXPECT_EQ(Cell(2, 0), "once");
  EXPECT_EQ(Rows(), 3);
}

// A script that ended on an error shows it in its state cell (marked, the
// engine's report in the tip).
TEST_F(MainWindowTest, AFailedRowIsMarked) {
  MainWindow& w = Window();
  Add("fine", "<main>\nshow ok\n");
  Add("bad", "<main>\nshow before\ngoto nowhere\n");
  w.selectRows({0, 1});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(WaitUntil([&] { return !w.model().error(1).isEmpty(); }));
  SaveShot(&w, "manager_failed_row");
  // The report waits for its OK before the script ends.
  for (QMessageBox* box : w.host().openAlerts()) box->close();
  ASSERT_TRUE(WaitUntil([&] { return !w.model().instanceAt(1)->worker.alive(); }));
  const QModelIndex failed = w.model().index(1, 4);
  const QString tip = failed.data(Qt::ToolTipRole).toString();
  EXPECT_NE(tip.indexOf("GOTO nowhere"), -1) << tip.toStdString();
  EXPECT_NE(tip.indexOf("使用了未定义的代码段名称"), -1) << tip.toStdString();
  EXPECT_TRUE(failed.data(Qt::BackgroundRole).isValid());
  EXPECT_FALSE(w.model().index(0, 4).data(Qt::BackgroundRole).isValid());
  EXPECT_TRUE(w.model().error(0).isEmpty());

}

// The list keeps the widths a person dragged for the next start; the path
// column gives way in the middle, keeping the file name in sight; the
// dialogs start in the home's Script/ folder and Qt's own texts are
// Chinese.
TEST_F(MainWindowTest, DraggedWidthsAreKeptAndPathsAreCutInTheMiddle) {
  MainWindow& w = Window();
  w.addScript("deep", "/a/very/long/folder/name/that/does/not/fit/in/the/column/at/all/x.vlm", "");
  w.list()->horizontalHeader()->resizeSection(0, 150);
  w.list()->horizontalHeader()->resizeSection(1, 120);
  QStyleOptionViewItem option;
  option.initFrom(w.list());
  option.textElideMode = w.list()->textElideMode();  // as the view hands it over
  auto* delegate = w.list()->itemDelegateForColumn(1);
  ASSERT_NE(delegate, nullptr);
  QStyleOptionViewItem used = option;
  struct Probe : QStyledItemDelegate {
    using QStyledItemDelegate::initStyleOption;
  };
  static_cast<Probe*>(static_cast<QStyledItemDelegate*>(delegate))->initStyleOption(&used, w.model().index(0, 1));
  EXPECT_EQ(used.textElideMode, Qt::ElideMiddle);
  w.model().setText(0, 1, "a message the script showed");
  used = option;
  static_cast<Probe*>(static_cast<QStyledItemDelegate*>(delegate))->initStyleOption(&used, w.model().index(0, 1));
  EXPECT_NE(used.textElideMode, Qt::ElideMiddle);

  EXPECT_EQ(w.scriptFolder().toStdString(), (dir.path() / "Script").string());
  // Qt's own buttons speak the interface's language.
  QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Cancel | QMessageBox::Save);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "取消");
  window.reset();
  MainWindow& again = Window();
  EXPECT_EQ(again.list()->columnWidth(0), 150);
  EXPECT_EQ(again.list()->columnWidth(1), 120);
  EXPECT_EQ(again.list()->columnWidth(2), 40);

  // A damaged file gives the starting widths back.
  window.reset();
  dir.Write("tamarind.columns", "garbage");
  EXPECT_EQ(Window().list()->columnWidth(0), 108);
}

TEST_F(MainWindowTest, AScriptThatCannotBeReadEndsAtOnceAndCanBeRemoved) {
  MainWindow& w = Window();
  w.addScript("gone", (dir.path() / "missing.vlm").string(), "");
  w.addScript("folder", dir.path().string(), "");
  w.selectRows({0, 1});
  Click(MainWindow::kRunScript);
  ASSERT_TRUE(WaitUntil([&] {
    return !w.model().instanceAt(0)->worker.alive() && !w.model().instanceAt(1)->worker.alive();
  }));
  Click(MainWindow::kDeleteScript);
  EXPECT_EQ(Rows(), 0);
}

}  // namespace
}  // namespace velmar::testing
