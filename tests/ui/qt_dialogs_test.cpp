// Alerts, prompts and notes of the Qt host with real scripts and real
// widgets on the offscreen platform.

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <fstream>

#include "qt_fixture.h"
#include "ui/input_dialog.h"
#include "values/text_file_ops.h"

namespace velmar::testing {
namespace {

QMessageBox* AlertWithText(QtHost& host, const QString& text) {
  for (QMessageBox* box : host.openAlerts()) {
    if (box->text() == text) return box;
  }
  return nullptr;
}

using QtDialogsTest = QtHostTest;

TEST_F(QtDialogsTest, TwoAlertsStayOpenTogetherAndCloseInReverseOrder) {
  ScriptInstance* a = Start("a", Lines({"alert first box", "show a went on"}));
  ScriptInstance* b = Start("b", Lines({"alert second box", "show b went on"}));
  ASSERT_TRUE(WaitUntil([&] { return host->openAlerts().size() == 2; }));
  QMessageBox* first = AlertWithText(*host, "first box");
  QMessageBox* second = AlertWithText(*host, "second box");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->windowTitle(), QString::fromUtf8("提示窗口"));
  EXPECT_TRUE(first->isVisible());
  SaveShot(first, "alert");

  second->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(Shown("2:b went on"));
  EXPECT_TRUE(a->worker.alive());  // still inside its box
  EXPECT_EQ(std::count(shown().begin(), shown().end(), "2:a went on"), 0);
  first->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(Shown("2:a went on"));
  EXPECT_TRUE(Ended(a));
  EXPECT_TRUE(Ended(b));
}

TEST_F(QtDialogsTest, ScriptErrorsUseTheSameBoxAndStopClosesIt) {
  ScriptInstance* s = Start("s", Lines({"captcha nospace", "show after"}));
  ASSERT_TRUE(WaitUntil([&] { return host->openAlerts().size() == 1; }));
  QPointer<QMessageBox> box = host->openAlerts().front();
  EXPECT_TRUE(box->text().contains(QString::fromUtf8("格式有误")));
  host->stopScript(*s);
  ASSERT_TRUE(Ended(s));
  ASSERT_TRUE(WaitUntil([&] { return box.isNull() || !box->isVisible(); }));
  EXPECT_TRUE(host->openAlerts().empty());
}

TEST_F(QtDialogsTest, PromptShowsHtmlTakesTheAnswerAndSitsBottomRight) {
  QImage captcha(60, 20, QImage::Format_RGB32);
  captcha.fill(Qt::darkGreen);
  const auto imagePath = dir.path() / "Temp" / "captcha_1.png";
  std::filesystem::create_directories(imagePath.parent_path());
  ASSERT_TRUE(captcha.save(QString::fromStdString(imagePath.string())));
  const std::string promptLine =
      "prompt <b>Code</b> please<br><img src=\"" + imagePath.string() + "\">";
  ScriptInstance* s = Start("s", Lines({promptLine.c_str(), "show got [#input]"}));
  ASSERT_TRUE(WaitUntil([&] { return host->promptOf(*s) != nullptr; }));
  InputDialog* dialog = host->promptOf(*s);
  ASSERT_TRUE(WaitUntil([&] { return dialog->isVisible(); }));
  EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("请输入.."));
  EXPECT_EQ(dialog->okButton()->text(), QString::fromUtf8("确定"));
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dialog->focusWidget(), dialog->answerField());
  // The line break and the image arrived in the view.
  const QString html = dialog->view()->toHtml();
  EXPECT_TRUE(html.contains("<br />")) << html.toStdString();
  EXPECT_FALSE(dialog->view()
                   ->loadResource(QTextDocument::ImageResource,
                                  QUrl(QString::fromStdString(imagePath.string())))
                   .isNull());
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect frame = dialog->frameGeometry();
  EXPECT_EQ(frame.right(), screen.right());
  EXPECT_EQ(frame.bottom(), screen.bottom() - InputDialog::kBottomGap);
  EXPECT_TRUE(host->isPaused(*s));
  SaveShot(dialog, "prompt");

  QTest::keyClicks(dialog->answerField(), "x7Q9");
  QTest::keyClick(dialog->answerField(), Qt::Key_Return);
  ASSERT_TRUE(Shown("2:got x7Q9"));
  EXPECT_EQ(host->promptOf(*s), nullptr);
  EXPECT_TRUE(Ended(s));
}

TEST_F(QtDialogsTest, EscapeAndTheCloseBoxGiveTheEmptyAnswer) {
  ScriptInstance* s = Start("s", Lines({"var [#input] old", "prompt one?", "show one <[#input]>",
                                        "prompt two?", "show two <[#input]>"}));
  ASSERT_TRUE(WaitUntil([&] { return host->promptOf(*s) != nullptr; }));
  InputDialog* dialog = host->promptOf(*s);
  QTest::keyClicks(dialog->answerField(), "typed");
  QTest::keyClick(dialog, Qt::Key_Escape);
  ASSERT_TRUE(Shown("2:one <>"));
  ASSERT_TRUE(WaitUntil([&] { return host->promptOf(*s) != nullptr; }));
  host->promptOf(*s)->close();
  ASSERT_TRUE(Shown("2:two <>"));
  EXPECT_TRUE(Ended(s));
}

TEST_F(QtDialogsTest, AnEventWhileThePromptIsOpenRunsAndTheLaterAnswerStillArrives) {
  ScriptInstance* s =
      Start("s", Lines({"<main>", "prompt code?", "show after prompt", "while 1", "{", "pause 20",
                        "show input [#input]", "}", "<on_w_ping>", "show pong", "return"}));
  ASSERT_TRUE(WaitUntil([&] { return host->promptOf(*s) != nullptr; }));
  QPointer<InputDialog> dialog = host->promptOf(*s);
  ASSERT_TRUE(WaitUntil([&] { return dialog->isVisible(); }));
  host->sendWindowEvent("w", "ping", "");
  ASSERT_TRUE(Shown("2:pong"));
  ASSERT_TRUE(Shown("2:after prompt"));
  // The box stays open for the person and still answers the script.
  ASSERT_FALSE(dialog.isNull());
  EXPECT_TRUE(dialog->isVisible());
  QTest::keyClicks(dialog->answerField(), "1234");
  QTest::keyClick(dialog->answerField(), Qt::Key_Return);
  ASSERT_TRUE(Shown("2:input 1234"));
  ASSERT_TRUE(WaitUntil([&] { return dialog.isNull() || !dialog->isVisible(); }));
  host->stopScript(*s);
  EXPECT_TRUE(Ended(s));
}

TEST_F(QtDialogsTest, StopDuringPromptClosesItAndLargePromptsStayUsable) {
  std::string big(1 << 20, 'x');
  for (std::size_t i = 1000; i < big.size(); i += 1000) big[i] = ' ';
  const std::string read = "var [#t] [@readfile<<<" + dir.Write("big.txt", big).string() + "]";
  ScriptInstance* s = Start("s", Lines({read.c_str(), "prompt [#t]", "show after"}));
  ASSERT_TRUE(WaitUntil([&] { return host->promptOf(*s) != nullptr; }));
  QPointer<InputDialog> dialog = host->promptOf(*s);
  host->stopScript(*s);
  EXPECT_EQ(host->promptOf(*s), nullptr);
  ASSERT_TRUE(Ended(s));
  ASSERT_TRUE(WaitUntil([&] { return dialog.isNull(); }));
  EXPECT_EQ(std::count(shown().begin(), shown().end(), "2:after"), 0);
}

TEST_F(QtDialogsTest, NoteWritesTheFileOfTheInstanceAndOpensIt) {
  ScriptInstance* s = Start("s", Lines({"note line one", "show noted"}));
  ASSERT_TRUE(Shown("2:noted"));
  const std::string path =
      (dir.path() / "Temp" / ("note_" + std::to_string(s->id) + ".txt")).string();
  ASSERT_EQ(opened, std::vector<std::string>{path});
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "line one");
}

}  // namespace
}  // namespace velmar::testing
