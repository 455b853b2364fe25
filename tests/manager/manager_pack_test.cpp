// The packer entry as a person uses it: the dialog opened from the tools
// menu, filled by typing and clicking, packing with the same packer as
// `velmar pack`, and a message box saying where the package went or what
// stopped it.

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <filesystem>

#include "manager/pack_dialog.h"
#include "manager_fixture.h"
#include "values/profile.h"

namespace velmar::testing {
namespace {

namespace fs = std::filesystem;

class PackTest : public ManagerTest {
 protected:
  PackDialog& Open() {
    MainWindow& w = Window();
    w.runnerProgram = QStringLiteral(VLMPACK_PATH);
    w.menuAction(MainWindow::kPacker)->trigger();
    PackDialog* dialog = w.packDialog();
    EXPECT_NE(dialog, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return dialog->isVisible(); }));
    return *dialog;
  }

  // Replaces a field's text the way a person does: click, select all, type.
  static void Type(QLineEdit* field, const QString& text) {
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    for (const QChar c : text) {
      // Characters beyond ASCII come as key events that carry their text,
      // as an input method delivers them.
      if (c.unicode() < 0x80) {
        QTest::keyClick(field, c.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
      }
    }
    EXPECT_EQ(field->text(), text);
  }

  // Waits for the outcome box, returns its text and closes it with Enter.
  static QString Outcome(PackDialog& dialog) {
    if (!WaitUntil([&] { return dialog.outcomeBox() && dialog.outcomeBox()->isVisible(); })) {
      return QStringLiteral("(no message box)");
    }
    QMessageBox* box = dialog.outcomeBox();
    const QString text = box->text();
    EXPECT_EQ(box->windowTitle(), "脚本打包器");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return dialog.outcomeBox() == nullptr; }));
    return text;
  }
};

TEST_F(PackTest, PacksTheHomeFolderIntoARunnableApplicationAndSaysWhere) {
  Script("main", "show packed [#param]\nexit\n");
  PackDialog& dialog = Open();
  EXPECT_EQ(dialog.windowTitle(), "脚本打包器");
  // Defaults: the home folder (its Script/ and Config.ini), no home page, a
  // key other than the manager's own boss key, no archive.
  EXPECT_EQ(fs::path(dialog.scriptFolderField()->text().toStdString()), dir.path());
  EXPECT_EQ(dialog.homepageField()->text(), "");
  EXPECT_EQ(Window().registeredHotKey(), "CTRL + 9");
  EXPECT_EQ(dialog.hotKeyField()->text(), "CTRL + ALT + 9");
  EXPECT_EQ(dialog.bootField()->text(), "");
  EXPECT_FALSE(dialog.archiveBox()->isChecked());
  EXPECT_TRUE(dialog.outputField()->text().endsWith("/VelmarApp"));
  // The output follows the name until the person chooses one.
  Type(dialog.appNameField(), QStringLiteral("单词工具"));
  EXPECT_TRUE(dialog.outputField()->text().endsWith("/单词工具"));

  const fs::path out = dir.path().parent_path() / (dir.path().filename().string() + "-app");
  Type(dialog.outputField(), QString::fromStdString(out.string()));
  Type(dialog.hotKeyField(), QStringLiteral("CTRL + ALT + W"));
  // On the box itself (the widget is as wide as the form).
  QStyleOptionButton option;
  option.initFrom(dialog.archiveBox());
  const QRect indicator = dialog.archiveBox()->style()->subElementRect(
      QStyle::SE_CheckBoxIndicator, &option, dialog.archiveBox());
  QTest::mouseClick(dialog.archiveBox(), Qt::LeftButton, {}, indicator.center());
  EXPECT_TRUE(dialog.archiveBox()->isChecked());
  SaveShot(&dialog, "manager_pack_dialog");

  // Enter presses the default button, 打包.
  QTest::keyClick(dialog.appNameField(), Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return dialog.outcomeBox() != nullptr; }));
  SaveShot(dialog.outcomeBox(), "manager_pack_outcome");
  const QString text = Outcome(dialog);
  EXPECT_TRUE(text.startsWith("打包完成: " + QString::fromStdString(out.string()))) << text.toStdString();
  EXPECT_TRUE(text.contains(".tar.gz")) << text.toStdString();
  EXPECT_TRUE(dialog.isVisible());  // open for the next package

  const Profile config(out / "Config.ini");
  EXPECT_EQ(config.GetString("appname"), "单词工具");  // UTF-8 home: the bytes as typed
  EXPECT_EQ(config.GetString("hotkey"), "CTRL + ALT + W");
  EXPECT_EQ(config.GetString("homepage"), "");
  EXPECT_TRUE(fs::is_regular_file(out.string() + ".tar.gz"));
  const ProcessResult run = RunProcess({(out / "vlmpack").string(), "--headless"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "show: packed \nstate: exit\n");

  // Packing again into the same folder: refused, nothing replaced.
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  const QString again = Outcome(dialog);
  EXPECT_TRUE(again.startsWith("打包失败:")) << again.toStdString();
  EXPECT_TRUE(again.contains("exists")) << again.toStdString();
  EXPECT_TRUE(fs::is_regular_file(out / "vlmpack"));
  fs::remove_all(out);
  fs::remove(out.string() + ".tar.gz");

  QTest::mouseClick(dialog.closeButton(), Qt::LeftButton);
  EXPECT_TRUE(WaitUntil([&] { return Window().packDialog() == nullptr; }));
}

TEST_F(PackTest, MissingIncludesAndAnEmptyFolderAreReportedInTheBox) {
  const fs::path source = dir.Write("other/main.vlm", "using lib.absent\nshow x\n").parent_path();
  PackDialog& dialog = Open();
  QString asked;
  dialog.chooseFolder = [&](const QString& caption, const QString&) {
    asked = caption;
    return QString::fromStdString(source.string());
  };
  QTest::mouseClick(dialog.scriptBrowseButton(), Qt::LeftButton);
  EXPECT_EQ(asked, "选择脚本文件夹");
  EXPECT_EQ(dialog.scriptFolderField()->text().toStdString(), source.string());
  const fs::path out = dir.path().parent_path() / (dir.path().filename().string() + "-inc");
  Type(dialog.outputField(), QString::fromStdString(out.string()));
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  const QString text = Outcome(dialog);
  // Made, with the missing include named.
  EXPECT_TRUE(text.startsWith("打包完成")) << text.toStdString();
  EXPECT_TRUE(text.contains("missing include")) << text.toStdString();
  EXPECT_TRUE(text.contains("lib.absent")) << text.toStdString();
  fs::remove_all(out);

  // A folder without any script: nothing made, the reason shown.
  fs::create_directories(dir.path() / "empty");
  Type(dialog.scriptFolderField(), QString::fromStdString((dir.path() / "empty").string()));
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  const QString empty = Outcome(dialog);
  EXPECT_TRUE(empty.startsWith("打包失败:")) << empty.toStdString();
  EXPECT_FALSE(fs::exists(out));

  Type(dialog.scriptFolderField(), QString());
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  EXPECT_TRUE(Outcome(dialog).startsWith("打包失败:"));
  // Esc closes the dialog.
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(WaitUntil([&] { return Window().packDialog() == nullptr; }));
}

// Two scripts and no main.vlm: the packer cannot tell which one starts, and
// the dialog's boot script field answers that. The proposed hot key keeps
// clear of the manager's boss key whichever it is.
TEST_F(PackTest, TheBootScriptFieldChoosesWhatThePackageStarts) {
  dir.Write("Config.ini", "[setting]\r\nhotkey=CTRL + ALT + 9\r\n");
  Script("first", "show first\nexit\n");
  const std::string second = Script("second", "show second [#param]\nexit\n");
  PackDialog& dialog = Open();
  EXPECT_EQ(dialog.hotKeyField()->text(), "CTRL + ALT + 8");
  const fs::path out = dir.path().parent_path() / (dir.path().filename().string() + "-boot");
  Type(dialog.outputField(), QString::fromStdString(out.string()));
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  const QString refused = Outcome(dialog);
  EXPECT_TRUE(refused.startsWith("打包失败:")) << refused.toStdString();
  EXPECT_TRUE(refused.contains("启动脚本")) << refused.toStdString();
  EXPECT_FALSE(fs::exists(out));

  QString asked;
  dialog.chooseFile = [&](const QString& caption, const QString&) {
    asked = caption;
    return QString::fromStdString(second);
  };
  QTest::mouseClick(dialog.bootBrowseButton(), Qt::LeftButton);
  EXPECT_EQ(asked, "选择启动脚本");
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  const QString made = Outcome(dialog);
  EXPECT_TRUE(made.startsWith("打包完成")) << made.toStdString();
  const ProcessResult run = RunProcess({(out / "vlmpack").string(), "--headless"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "show: second \nstate: exit\n");
  fs::remove_all(out);

  // A script outside the folder cannot start the package.
  const fs::path stray = dir.Write("elsewhere/stray.vlm", "show x\n");
  Type(dialog.bootField(), QString::fromStdString(stray.string()));
  QTest::mouseClick(dialog.packButton(), Qt::LeftButton);
  const QString outside = Outcome(dialog);
  EXPECT_TRUE(outside.contains("not in")) << outside.toStdString();
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(PackTest, WithoutTheRunnerTheEntrySaysThePackerIsMissing) {
  MainWindow& w = Window();
  w.runnerProgram = QString::fromStdString((dir.path() / "bin" / "vlmpack").string());
  w.menuAction(MainWindow::kPacker)->trigger();
  EXPECT_EQ(w.packDialog(), nullptr);
  EXPECT_EQ(w.lastMessage(), "脚本打包器未安装．");
}

}  // namespace
}  // namespace velmar::testing
