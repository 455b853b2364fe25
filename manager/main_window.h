#pragma once
// The manager's main window: the script list with its commands, the menus,
// the settings, projects, the regex tester, the boss key and the tray icon.
// Every command is one QAction, shared by the menus, the tray menu and its
// button, and goes through command().

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/engine_environment.h"
#include "manager/add_script_dialog.h"
#include "manager/manager_settings.h"
#include "manager/pack_dialog.h"
#include "manager/project_file.h"
#include "manager/regex_tester.h"
#include "manager/settings_dialog.h"
#include "manager/trace_viewer.h"
#include "ui/global_hot_key.h"

class QLabel;
class QMessageBox;
class QMenu;
class QPushButton;
class QTableView;

namespace velmar {

struct EngineEnvironment;
struct ScriptInstance;
class QtHost;
class ScriptListModel;
class TrayIcon;
class TraceFolder;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  enum Command {
    kAbout = 16,
    kAddScript = 1002,
    kDeleteScript = 1003,
    kDeleteAll = 1004,
    kExportProject = 1005,
    kImportProject = 1006,
    kRunScript = 1007,
    kPauseScript = 1008,
    kStopScript = 1009,
    kReloadScript = 1010,
    kRegexTest = 32803,
    kExit = 32814,
    kShowMain = 32816,
    kManual = 32822,
    kWebSite = 32826,
    kSettings = 32837,
    kPacker = 32839,
    // Commands of this program beyond the classic set.
    kRunAgain = 32901,
    kStopAll = 32902,
    kErrorDetails = 32903,
    // The row's record switch and the viewer of its latest trace.
    kRecordRun = 32904,
    kViewLastRun = 32905,
  };

  static constexpr int kInitialWidth = 640;
  static constexpr int kInitialHeight = 380;
  static constexpr int kStatusBarHeight = 20;
  static constexpr int kColumnWidths[5] = {108, 250, 40, 40, 40};

  explicit MainWindow(const EngineEnvironment& environment, QWidget* parent = nullptr);
  ~MainWindow() override;

  void command(int id);

  // Adds a script as the add command does: texts are bytes in the code page,
  // the path is the file system's bytes.
  // `record`: each run of the row leaves a trace.
  ScriptInstance* addScript(const std::string& name, const std::string& path,
                            const std::string& param, bool record = false);
  // Files dropped from a file manager.
  void addDroppedFiles(const QList<QUrl>& urls);
  // Project files by path (the commands ask for the path first).
  void exportProject(const QString& file);
  void importProject(const QString& file);
  // The boss key was pressed.
  void bossKey();
  // A script error of the script with this id: its row's tooltip shows
  // where and why. Runs on the UI thread.
  void recordScriptError(int32_t scriptId, const ScriptErrorReport& report);

  // What the desktop is asked to do. Tests replace them; the defaults open
  // dialogs, the desktop's applications and end the event loop.
  std::function<QString(bool save)> chooseProjectFile;
  std::function<bool(const QUrl&)> openUrl;
  std::function<void()> quit;
  // Where the tray is; the default asks the desktop. Tests where no tray
  // runs (the offscreen platform, Xvfb) set it to check the tray logic.
  std::function<bool()> trayAvailable;
  // Where the add and import dialogs start: the home folder's Script/.
  QString scriptFolder() const;
  // The script list kept across starts: a project file in the home folder,
  // rewritten after every change of the list, read at start.
  QString keptListFile() const;
  // Where the widths of the list's columns that the user dragged are kept.
  QString columnWidthsFile() const;
  // Where recorded runs go: one folder per start of the manager beneath it.
  QString traceFolder() const;
  // This start's folder of traces; empty until a row has recorded a run.
  QString traceSession() const;
  // Where the manual, the packer and the manual shipped with the build are
  // looked for.
  QString programFolder;
  // The vlmpack the packer copies into packages; empty until the packer is
  // first opened, then the one in programFolder or beside this program.
  QString runnerProgram;

  QtHost& host() const { return *host_; }
  ScriptListModel& model() const { return *model_; }
  QTableView* list() const { return list_; }
  QPushButton* button(int id) const;
  // The command's action (the one the menus, the tray and its button share).
  QAction* menuAction(int id) const;
  QMenu* contextMenu() const { return contextMenu_; }
  QMenu* trayMenu() const { return trayMenu_; }
  AddScriptDialog* addDialog() const { return addDialog_; }
  SettingsDialog* settingsDialog() const { return settingsDialog_; }
  RegexTester* regexTester() const { return regexTester_; }
  PackDialog* packDialog() const { return packDialog_; }
  TraceViewer* traceViewer() const { return traceViewer_; }
  const ManagerSettings& settings() const { return settings_; }
  const std::string& registeredHotKey() const { return hotKeyText_; }
  GlobalHotKey& hotKey() { return hotKey_; }
  TrayIcon& tray() const { return *tray_; }
  bool trayShown() const { return trayShown_; }
  bool visibleFlag() const { return visible_; }
  bool exited() const { return exited_; }
  // The last message box the window opened (its text), for tests.
  QString lastMessage() const { return lastMessage_; }
  // The exit refusal box while it is open.
  QMessageBox* refusalBox() const { return refusal_; }
  void selectRows(const std::vector<int>& rows);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildActions();
  void BuildMenus();
  void RestoreColumnWidths();
  void LoadKeptList();
  void ScheduleKeptListSave();
  void SaveKeptList();
  void SaveColumnWidths();
  QWidget* BuildCentral();
  void ShowText(ScriptInstance* instance, int32_t code, const std::string& text);
  std::vector<ScriptInstance*> SelectedInstances() const;
  // The last script error of the first selected row, where and why, in a box.
  void ShowErrorDetails();
  // The row's switch: flips recording for the selected rows (after the
  // first selected row's state), effective from their next run.
  void RecordSelected();
  // Before a row's first run: a recording row gets the trace folder as the
  // observer of its run and remembers the trace it will write.
  void AttachRecorder(ScriptInstance* instance);
  void NotRecording(const QString& reason);
  // The row's latest trace: of a run of this start, else found in the trace
  // folder once; empty when it has none.
  QString LatestTraceOf(int row);
  void ViewLastRun();
  // The switch and the viewer command follow the first selected row.
  void UpdateRowActions();
  ProjectEntry EntryOf(int row) const;
  void DeleteSelected();
  void DeleteAll();
  void RunSelected();
  void PauseSelected();
  void StopSelected();
  void ReloadSelected();
  void RunAgainSelected();
  void StopAll();
  void StopAllAndExit();
  bool RemoveInstance(ScriptInstance* instance);
  void SetState(ScriptInstance* instance, const char* state);
  void ExportCommand();
  void ImportCommand();
  void OpenRegexTester();
  void OpenSettings();
  void SettingsClosed(int result);
  void RegisterHotKey();
  void OpenManual();
  void OpenPacker();
  void About();
  bool Exit();
  void ShowTray();
  void RemoveTray();
  void ShowMainWindow();
  void UpdateTrayTip();
  bool AnyScriptAlive() const;
  void Message(const QString& text);

  const EngineEnvironment& env_;
  std::unique_ptr<QtHost> host_;
  ScriptListModel* model_;
  QTableView* list_ = nullptr;
  std::map<int, QPushButton*> buttons_;
  std::map<int, QAction*> actions_;
  QMenu* contextMenu_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QLabel* status_ = nullptr;
  QPointer<AddScriptDialog> addDialog_;
  QPointer<SettingsDialog> settingsDialog_;
  QPointer<RegexTester> regexTester_;
  QPointer<PackDialog> packDialog_;
  QPointer<TraceViewer> traceViewer_;
  // Where every recording row's runs of this start go, made with the first
  // of them. The destructor ends the host, and so every worker that writes
  // into it, before it goes.
  std::unique_ptr<TraceFolder> traces_;
  std::string traceSession_;
  ManagerSettings settings_;
  std::string hotKeyText_;
  GlobalHotKey hotKey_;
  std::unique_ptr<TrayIcon> tray_;
  QIcon icon_;
  bool trayShown_ = false;
  bool visible_ = true;
  bool exited_ = false;
  QString lastMessage_;
  QPointer<QMessageBox> refusal_;
  // Column 1's width at the starting window width (the user may drag it).
  int columnOneBase_ = kColumnWidths[1];
  bool settingWidths_ = false;
  // While the kept list is read, and from exit on, changes are not saved.
  bool keepListQuiet_ = true;
  bool keptListSavePending_ = false;
};

}  // namespace velmar
