// Project files: export in list order with CR LF, import of CR LF and LF
// files, and the files that are broken, huge, binary or missing.

#include <QMessageBox>
#include <filesystem>

#include "manager/project_file.h"
#include "manager_fixture.h"

namespace velmar::testing {
namespace {

using ProjectTest = ManagerTest;

// The list comes back at the next start, also after the exit command (which
// empties the window, not the kept list); deleting rows is kept too.
TEST_F(ProjectTest, TheScriptListIsKeptAcrossStarts) {
  MainWindow& w = Window();
  Add("第一", "<main>\nshow 1\n", "p=1");
  Add("second", "<main>\nshow 2\n");
  Add("third", "<main>\nshow 3\n");
  QTest::qWait(20);  // the write of this turn's changes
  const std::string kept = ReadFile(dir.path() / "scripts.tmpro");
  EXPECT_NE(kept.find("第一^" + (dir.path() / "Script/第一.vlm").string() + "^p=1\r\n"),
            std::string::npos)
      << kept;
  w.command(MainWindow::kExit);
  EXPECT_EQ(quits, 1);
  window.reset();

  ASSERT_EQ(Rows(), 3);
  EXPECT_EQ(Cell(0, 0), "第一");
  EXPECT_EQ(Window().model().instanceAt(0)->param, "p=1");
  EXPECT_EQ(Cell(2, 0), "third");
  EXPECT_EQ(Cell(1, 4), "ready");
  Window().selectRows({1});
  Click(MainWindow::kDeleteScript);
  window.reset();  // closed right after the change
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 0), "third");
  // No temporary files left beside it.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    files += entry.path().filename().string().rfind("scripts.tmpro", 0) == 0;
  }
  EXPECT_EQ(files, 1);
}

// A damaged list is reported and kept aside untouched; what can be read
// is loaded and written back as the new list.
TEST_F(ProjectTest, ADamagedKeptListIsReportedAndKeptAside) {
  const std::string path = Script("good", "<main>\nshow good\n");
  const std::string damaged = "good^" + path + "^\r\nthis line is no entry\r\n\xff\xfe^\r\n";
  dir.Write("scripts.tmpro", damaged);
  MainWindow& w = Window();
  ASSERT_EQ(Rows(), 1);
  EXPECT_EQ(Cell(0, 0), "good");
  EXPECT_NE(w.lastMessage().indexOf("scripts.tmpro.damaged"), -1) << w.lastMessage().toStdString();
  EXPECT_EQ(ReadFile(dir.path() / "scripts.tmpro.damaged"), damaged);
  EXPECT_EQ(ReadFile(dir.path() / "scripts.tmpro"), "good^" + path + "^\r\n");

  // Damaged again: the first copy aside stays as it is.
  window.reset();
  dir.Write("scripts.tmpro", "x");
  Window();
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(ReadFile(dir.path() / "scripts.tmpro.damaged"), damaged);
  EXPECT_EQ(ReadFile(dir.path() / "scripts.tmpro.damaged2"), "x");
}

TEST_F(ProjectTest, ExportAndImportRoundTripWithChineseText) {
  MainWindow& w = Window();
  const std::string a = Script("a", "show a\n");
  const std::string b = Script("脚本二", "show b\n");
  w.addScript("采集甲", a, "页=1");
  w.addScript("b", b, "");
  projectFile = QString::fromStdString((dir.path() / "list.tmpro").string());
  Click(MainWindow::kExportProject);
  EXPECT_EQ(projectDialogs, 1);
  EXPECT_EQ(ReadFile(dir.path() / "list.tmpro"), "采集甲^" + a + "^页=1\r\nb^" + b + "^\r\n");

  // Import keeps the rows there and adds the file's, the same script twice.
  w.menuAction(MainWindow::kImportProject)->trigger();
  ASSERT_EQ(Rows(), 4);
  EXPECT_EQ(Cell(2, 0), "采集甲");
  EXPECT_EQ(w.model().instanceAt(2)->path, a);
  EXPECT_EQ(w.model().instanceAt(2)->param, "页=1");
  EXPECT_EQ(Cell(3, 0), "b");
  EXPECT_EQ(w.model().instanceAt(3)->param, "");
  EXPECT_EQ(Cell(3, 4), "ready");
}

TEST_F(ProjectTest, AnEmptyListShowsNoDialogAndAFieldWithACaretIsRefused) {
  MainWindow& w = Window();
  projectFile = QString::fromStdString((dir.path() / "x.tmpro").string());
  Click(MainWindow::kExportProject);
  EXPECT_EQ(projectDialogs, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.tmpro"));

  w.addScript("ok", Script("ok", "show\n"), "");
  w.addScript("第二", Script("two", "show\n"), "a^b");
  Click(MainWindow::kExportProject);
  EXPECT_EQ(projectDialogs, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.tmpro"));
  EXPECT_NE(w.lastMessage().indexOf("第二"), -1);
  EXPECT_NE(w.lastMessage().indexOf("2"), -1);
}

TEST_F(ProjectTest, ImportReadsLfFilesAndSkipsShortLines) {
  MainWindow& w = Window();
  const std::string a = Script("a", "show a\n");
  dir.Write("p.tmpro", "a^b\n\nx^" + a + "^p1^extra\nonly\ny^" + a + "^\n^^\nlast^" + a + "^q");
  w.importProject(QString::fromStdString((dir.path() / "p.tmpro").string()));
  ASSERT_EQ(Rows(), 4);
  EXPECT_EQ(Cell(0, 0), "x");
  EXPECT_EQ(w.model().instanceAt(0)->param, "p1");
  EXPECT_EQ(Cell(1, 0), "y");
  EXPECT_EQ(Cell(2, 0), "");  // "^^": three empty pieces
  EXPECT_EQ(w.model().instanceAt(3)->param, "q");
}

TEST_F(ProjectTest, HugeBinaryAndMissingFilesNeitherCrashNorHang) {
  MainWindow& w = Window();
  std::string huge;
  for (int i = 0; i < 100000; ++i) huge += "broken line " + std::to_string(i) + "\r\n";
  const std::string a = Script("a", "show a\n");
  huge += "ok^" + a + "^\r\n";
  dir.Write("huge.tmpro", huge);
  w.importProject(QString::fromStdString((dir.path() / "huge.tmpro").string()));
  EXPECT_EQ(Rows(), 1);

  std::string binary("\x00\x01\xff\xfe^", 5);
  binary.push_back('\0');
  binary += "^\x80\x81\r\n\xff^\n";
  dir.Write("bin.tmpro", binary);
  w.importProject(QString::fromStdString((dir.path() / "bin.tmpro").string()));
  EXPECT_EQ(Rows(), 2);

  w.importProject(QString::fromStdString((dir.path() / "missing.tmpro").string()));
  w.importProject(QString::fromStdString(dir.path().string()));
  EXPECT_EQ(Rows(), 2);
  projectFile.clear();  // the dialog cancelled
  Click(MainWindow::kImportProject);
  EXPECT_EQ(Rows(), 2);
}

TEST(ProjectFile, TextAndParsingAgree) {
  std::optional<std::size_t> bad;
  const std::vector<ProjectEntry> entries = {{"n", "p", "x"}, {"m", "q", ""}};
  const std::string text = ProjectText(entries, &bad);
  EXPECT_FALSE(bad);
  const auto back = ParseProject(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].path, "q");
  EXPECT_EQ(ProjectText({{"a", "b", "c\nd"}}, &bad), "");
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(ProjectText({}, &bad), "");
  EXPECT_FALSE(bad);
}

}  // namespace
}  // namespace velmar::testing
