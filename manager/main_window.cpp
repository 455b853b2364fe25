#include "manager/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QLibraryInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "engine/engine_environment.h"
#include "manager/add_script_dialog.h"
#include "manager/manager_texts.h"
#include "manager/project_file.h"
#include "manager/regex_tester.h"
#include "manager/run_records.h"
#include "manager/script_list_model.h"
#include "manager/trace_viewer.h"
#include "tooling/trace_folder.h"
#include "manager/settings_dialog.h"
#include "ui/program_icon.h"
#include "ui/product_info.h"
#include "ui/qt_host.h"
#include "values/messages.h"
#include "values/version.h"
#include "ui/qt_text.h"
#include "ui/tray_icon.h"

#ifndef VELMAR_BUILD_MANUAL
#define VELMAR_BUILD_MANUAL ""
#endif

namespace velmar {
namespace {

// A script may `show` megabytes; the row keeps a readable start of it, cut
// at a character boundary before it is converted.
constexpr std::size_t kMaxShownBytes = ScriptListModel::kMaxCellChars * 4;

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Column 1 first shows the script's path: when it does not fit, the middle
// gives way so the file name stays visible. Texts the script shows later
// are cut at the end as usual.
class PathCellDelegate : public QStyledItemDelegate {
 public:
  PathCellDelegate(const ScriptListModel& model, QObject* parent)
      : QStyledItemDelegate(parent), model_(model) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (model_.showsPath(index.row())) option->textElideMode = Qt::ElideMiddle;
  }

 private:
  const ScriptListModel& model_;
};

// Qt's own dialogs (file dialogs, standard buttons, the overwrite prompt)
// speak the interface's language, Chinese, when the translations are
// installed.
void LoadQtTranslations() {
  static bool loaded = false;
  if (loaded || !QCoreApplication::instance()) return;
  loaded = true;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                       QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
  } else {
    delete translator;
  }
}

struct CommandEntry {
  int id;
  const char* caption;        // in the menus
  const char* buttonCaption;  // on its button, where it has one
};

}  // namespace

MainWindow::MainWindow(const EngineEnvironment& environment, QWidget* parent)
    : QMainWindow(parent),
      env_(environment),
      host_(std::make_unique<QtHost>(environment, QtHost::kManagerCaption)),
      model_(new ScriptListModel(this)),
      icon_(ProgramIcon(QStringLiteral("tamarind"), QLatin1Char('T'), IconShape::kRound)) {
  programFolder = QCoreApplication::applicationDirPath();
  LoadQtTranslations();
  chooseProjectFile = [this](bool save) {
    const QString filter = QString::fromUtf8(manager_text::kProjectFilter);
    if (save) {
      QFileDialog dialog(this, QString(), scriptFolder() + QStringLiteral("/*.tmpro"), filter);
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setDefaultSuffix(QStringLiteral("tmpro"));
      return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    }
    return QFileDialog::getOpenFileName(this, QString(), scriptFolder(), filter);
  };
  openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  // Not quit(): that asks every window to close first and gives up when one
  // refuses, and script windows refuse their close box by design. Exit has
  // closed them itself by then.
  quit = [] { QCoreApplication::exit(0); };
  trayAvailable = [] { return TrayIcon::desktopHasTray(); };

  setWindowTitle(QString::fromUtf8(manager_text::kCaption));
  setWindowIcon(icon_);
  settings_ = ManagerSettings::Read(env_.config);
  hotKeyText_ = settings_.hotKey;
  model_->setRecordTip(QString::fromUtf8(manager_text::kRecordsTip).arg(traceFolder()));
  connect(&hotKey_, &GlobalHotKey::activated, this, &MainWindow::bossKey);
  RegisterHotKey();

  BuildActions();
  BuildMenus();
  setCentralWidget(BuildCentral());
  status_ = new QLabel(Utf8(kProductSiteAddress));
  statusBar()->addWidget(status_, 1);
  statusBar()->setFixedHeight(kStatusBarHeight);
  statusBar()->setSizeGripEnabled(true);

  tray_ = std::make_unique<TrayIcon>(icon_);
  tray_->setMenu(trayMenu_);
  connect(tray_.get(), &TrayIcon::clicked, this, [this] {
    RemoveTray();
    ShowMainWindow();
  });
  UpdateTrayTip();
  connect(model_, &QAbstractItemModel::rowsInserted, this, &MainWindow::UpdateTrayTip);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &MainWindow::UpdateTrayTip);

  host_->onText = [this](ScriptInstance* instance, int32_t code, const std::string& text) {
    ShowText(instance, code, text);
  };
  host_->onScriptError = [this](ScriptInstance* instance, const std::string& report) {
    if (model_->instanceAt(instance->row) != instance) return;
    const CodePage& cp = *env_.codePage;
    QString reason = ToQString(cp.CutAtCharacter(report, kMaxShownBytes), cp);
    reason.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    model_->setError(instance->row, reason);
  };
  setAcceptDrops(true);
  resize(kInitialWidth, kInitialHeight);
  RestoreColumnWidths();
  connect(model_, &QAbstractItemModel::rowsInserted, this, &MainWindow::ScheduleKeptListSave);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &MainWindow::ScheduleKeptListSave);
  LoadKeptList();
  connect(list_->horizontalHeader(), &QHeaderView::sectionResized, this,
          [this] { if (!settingWidths_) SaveColumnWidths(); });
  // Never smaller than the window opens: the buttons and the columns'
  // headers stay readable.
  setMinimumSize(kInitialWidth, kInitialHeight);
}

MainWindow::~MainWindow() {
  if (keptListSavePending_) SaveKeptList();
  host_->onText = nullptr;
  host_->onScriptError = nullptr;
  if (regexTester_) delete regexTester_.data();
  if (trayShown_) tray_->hide();
  hotKey_.unregisterKey();
  // The host stops what still runs (a window destroyed without the exit
  // command) and waits while answering requests.
  host_.reset();
}

void MainWindow::BuildActions() {
  namespace t = manager_text;
  // One action per command: the menus, the list's context menu, the tray
  // menu and the buttons all hold this one, so a command is the same
  // wherever it is chosen. The buttons show the caption without its access
  // key.
  static constexpr CommandEntry kCommands[] = {
      {kAddScript, t::kAddScript, t::kAddScriptButton},
      {kDeleteScript, t::kDeleteScript, t::kDeleteScriptButton},
      {kDeleteAll, t::kDeleteAll, t::kDeleteAll},
      {kExportProject, t::kExportProject, t::kExportProjectButton},
      {kImportProject, t::kImportProject, t::kImportProjectButton},
      {kRunScript, t::kRunScript, t::kRunScriptButton},
      {kPauseScript, t::kPauseScript, t::kPauseScriptButton},
      {kStopScript, t::kStopScript, t::kStopScriptButton},
      {kReloadScript, t::kReloadScript, t::kReloadScript},
      {kRunAgain, t::kRunAgain, t::kRunAgainButton},
      {kStopAll, t::kStopAll, nullptr},
      {kErrorDetails, t::kErrorDetails, nullptr},
      {kRecordRun, t::kRecordRun, nullptr},
      {kViewLastRun, t::kViewLastRun, nullptr},
      {kExit, t::kExit, nullptr},
      {kSettings, t::kSettings, nullptr},
      {kRegexTest, t::kRegexTest, nullptr},
      {kPacker, t::kPacker, nullptr},
      {kManual, t::kManual, nullptr},
      {kWebSite, t::kWebSite, nullptr},
      {kAbout, t::kAbout, nullptr},
      {kShowMain, t::kShowMain, nullptr},
  };
  for (const CommandEntry& entry : kCommands) {
    auto* a = new QAction(QString::fromUtf8(entry.caption), this);
    if (entry.buttonCaption) a->setIconText(QString::fromUtf8(entry.buttonCaption));
    const int id = entry.id;
    connect(a, &QAction::triggered, this, [this, id] { command(id); });
    actions_[id] = a;
  }
  // The switch shows the first selected row's state; the command sets it.
  actions_.at(kRecordRun)->setCheckable(true);
  actions_.at(kRecordRun)->setEnabled(false);
  actions_.at(kViewLastRun)->setEnabled(false);
}

void MainWindow::BuildMenus() {
  namespace t = manager_text;
  const auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
    for (const int id : ids) {
      if (id == 0) {
        menu->addSeparator();
      } else {
        menu->addAction(actions_.at(id));
      }
    }
  };
  // 0 stands for a separator.
  add(menuBar()->addMenu(QString::fromUtf8(t::kFileMenu)),
      {kAddScript, kDeleteAll, kImportProject, kExportProject, 0, kRunAgain, kStopAll, 0, kExit});
  add(menuBar()->addMenu(QString::fromUtf8(t::kToolsMenu)), {kSettings, kRegexTest, kPacker});
  // No system menu to extend here: the about entry joins the help menu.
  add(menuBar()->addMenu(QString::fromUtf8(t::kHelpMenu)), {kManual, kWebSite, 0, kAbout});

  contextMenu_ = new QMenu(this);
  add(contextMenu_, {kAddScript, kDeleteScript, kDeleteAll, kRunScript, kPauseScript, kStopScript,
                     kRunAgain, kImportProject, kExportProject, kErrorDetails, 0, kRecordRun,
                     kViewLastRun});
  contextMenu_->setDefaultAction(actions_.at(kAddScript));
  connect(contextMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateRowActions);

  trayMenu_ = new QMenu(this);
  add(trayMenu_, {kShowMain, kStopAll, kExit, kRegexTest, kPacker});
  // The tray names the manual by another caption: an entry that stands for
  // the manual's action, keeping its state.
  QAction* manual = actions_.at(kManual);
  QAction* manualInTray = trayMenu_->addAction(QString::fromUtf8(t::kManualInTray));
  connect(manualInTray, &QAction::triggered, manual, &QAction::trigger);
  connect(manual, &QAction::changed, manualInTray, [manual, manualInTray] {
    manualInTray->setEnabled(manual->isEnabled());
    manualInTray->setVisible(manual->isVisible());
  });
  add(trayMenu_, {kWebSite});
  trayMenu_->setDefaultAction(actions_.at(kShowMain));
}

QWidget* MainWindow::BuildCentral() {
  auto* central = new QWidget(this);
  list_ = new QTableView(central);
  list_->setModel(model_);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setShowGrid(true);
  list_->setWordWrap(false);
  list_->setSortingEnabled(false);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setAcceptDrops(false);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  list_->horizontalHeader()->setSectionsClickable(false);
  list_->horizontalHeader()->setHighlightSections(false);
  list_->horizontalHeader()->setStretchLastSection(false);
  for (int i = 0; i < 5; ++i) list_->setColumnWidth(i, kColumnWidths[i]);
  list_->setItemDelegateForColumn(1, new PathCellDelegate(*model_, list_));
  // A double click opens the row's script in the user's editor.
  connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (const ScriptInstance* instance = model_->instanceAt(index.row())) {
      openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(instance->path))));
    }
  });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &MainWindow::UpdateRowActions);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this] { contextMenu_->popup(QCursor::pos()); });

  static constexpr int kButtons[] = {kAddScript,    kDeleteScript, kDeleteAll, kExportProject,
                                     kImportProject, kRunScript,    kPauseScript, kStopScript,
                                     kReloadScript, kRunAgain};
  auto* column = new QVBoxLayout;
  column->setSpacing(4);
  for (const int id : kButtons) {
    // A push button (a tool button would look otherwise) that stands for
    // the command's action: its caption, its state, its trigger.
    QAction* action = actions_.at(id);
    auto* button = new QPushButton(action->iconText(), central);
    button->setFixedWidth(88);
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::changed, button, [action, button] {
      button->setText(action->iconText());
      button->setEnabled(action->isEnabled());
    });
    buttons_[id] = button;
    column->addWidget(button);
    // The project pair and the run group stand apart from the list edits.
    if (id == kDeleteAll || id == kImportProject) column->addSpacing(10);
  }
  column->addStretch(1);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(6, 6, 6, 2);
  layout->addWidget(list_, 1);
  layout->addLayout(column);
  return central;
}

QPushButton* MainWindow::button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

QAction* MainWindow::menuAction(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::command(int id) {
  switch (id) {
    case kAddScript: {
      if (addDialog_) {
        addDialog_->raise();
        return;
      }
      addDialog_ = new AddScriptDialog(this, scriptFolder());
      addDialog_->setAttribute(Qt::WA_DeleteOnClose);
      AddScriptDialog* dialog = addDialog_;
      connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const CodePage& cp = *env_.codePage;
        const QString path = dialog->pathField()->text();
        if (path.isEmpty()) return;
        addScript(FromQString(dialog->nameField()->text(), cp),
                  QFile::encodeName(path).toStdString(),
                  FromQString(dialog->paramField()->text(), cp));
      });
      dialog->open();
      return;
    }
    case kDeleteScript:
      DeleteSelected();
      return;
    case kDeleteAll:
      DeleteAll();
      return;
    case kExportProject:
      ExportCommand();
      return;
    case kImportProject:
      ImportCommand();
      return;
    case kRunScript:
      RunSelected();
      return;
    case kPauseScript:
      PauseSelected();
      return;
    case kStopScript:
      StopSelected();
      return;
    case kReloadScript:
      ReloadSelected();
      return;
    case kRunAgain:
      RunAgainSelected();
      return;
    case kStopAll:
      StopAll();
      return;
    case kErrorDetails:
      ShowErrorDetails();
      return;
    case kRecordRun:
      RecordSelected();
      return;
    case kViewLastRun:
      ViewLastRun();
      return;
    case kRegexTest:
      OpenRegexTester();
      return;
    case kExit:
      Exit();
      return;
    case kShowMain:
      RemoveTray();
      ShowMainWindow();
      return;
    case kManual:
      OpenManual();
      return;
    case kWebSite:
      openUrl(QUrl(Utf8(kProductSiteAddress)));
      return;
    case kSettings:
      OpenSettings();
      return;
    case kPacker:
      OpenPacker();
      return;
    case kAbout:
      About();
      return;
    default:
      return;
  }
}

ScriptInstance* MainWindow::addScript(const std::string& name, const std::string& path,
                                      const std::string& param, bool record) {
  ScriptInstance* instance = host_->startScript(name, path, param);
  // Not started yet, so the worker cannot read the client meanwhile.
  settings_.ApplyTo(instance->http);
  const CodePage& cp = *env_.codePage;
  model_->appendRow(instance, ToQString(cp.CutAtCharacter(name, kMaxShownBytes), cp),
                    QFile::decodeName(QByteArray::fromStdString(path)));
  if (record) model_->setRecording(instance->row, true);
  return instance;
}

ProjectEntry MainWindow::EntryOf(int row) const {
  const ScriptInstance* instance = model_->instanceAt(row);
  return {instance->displayName, instance->path, instance->param, model_->recording(row)};
}

QString MainWindow::traceFolder() const {
  const std::filesystem::path chosen(settings_.traceFolder);
  return QFile::decodeName(
      QByteArray::fromStdString((chosen.is_absolute() ? chosen : env_.home / chosen).string()));
}

QString MainWindow::traceSession() const {
  return QFile::decodeName(QByteArray::fromStdString(traceSession_));
}

void MainWindow::RecordSelected() {
  const std::vector<ScriptInstance*> selected = SelectedInstances();
  if (selected.empty()) {
    UpdateRowActions();
    return;
  }
  const bool on = !model_->recording(selected.front()->row);
  QStringList running;
  for (ScriptInstance* instance : selected) {
    model_->setRecording(instance->row, on);
    // A run that has started keeps the observer it started with.
    if (instance->worker.alive()) running << QString::fromUtf8(instance->displayName.c_str());
  }
  UpdateRowActions();
  ScheduleKeptListSave();
  if (!running.isEmpty()) {
    statusBar()->showMessage(
        QString::fromUtf8(manager_text::kRecordFromNextRun).arg(running.join("\", \"")), 8000);
  }
}

void MainWindow::AttachRecorder(ScriptInstance* instance) {
  const int row = instance->row;
  instance->observer = env_.observer;
  if (!model_->recording(row)) return;
  if (!traces_) {
    const std::filesystem::path root = QFile::encodeName(traceFolder()).toStdString();
    const std::string session = NewRecordSession(root, std::time(nullptr)).string();
    QPointer<MainWindow> self(this);
    // Told on a worker's thread when a trace cannot be written (any more);
    // the run goes on without it.
    auto folder = std::make_unique<TraceFolder>(session, false, [self](std::string_view why) {
      std::fprintf(stderr, "tamarind: %.*s\n", static_cast<int>(why.size()), why.data());
      const QString reason = QString::fromUtf8(why.data(), static_cast<qsizetype>(why.size()));
      QMetaObject::invokeMethod(
          self, [self, reason] { if (self) self->NotRecording(reason); }, Qt::QueuedConnection);
    });
    std::string reason;
    if (!folder->Prepare(reason)) {
      // Tried again with the next recording run: the folder may be fixed.
      std::fprintf(stderr, "tamarind: not recording a trace: %s\n", reason.c_str());
      NotRecording(QString::fromStdString(reason));
      return;
    }
    traces_ = std::move(folder);
    traceSession_ = session;
  }
  instance->observer = traces_.get();
  // The name the run's trace gets, as the folder makes it; a script without
  // statements never starts a run and so leaves none.
  if (instance->program && !instance->program->commands.empty()) {
    const std::string& script =
        instance->program->files.empty() ? instance->path : instance->program->files.front();
    model_->setLastTrace(row, QFile::decodeName(QByteArray::fromStdString(
                                  TraceFolder::FileOf(traceSession_, instance->id, script))));
  }
}

void MainWindow::NotRecording(const QString& reason) {
  statusBar()->showMessage(QString::fromUtf8(manager_text::kNotRecording).arg(reason), 8000);
}

QString MainWindow::LatestTraceOf(int row) {
  const ScriptInstance* instance = model_->instanceAt(row);
  if (!instance) return {};
  if (!model_->traceLooked(row)) {
    model_->setTraceLooked(row);
    const auto found =
        LatestRunTrace(QFile::encodeName(traceFolder()).toStdString(), instance->path);
    if (found) model_->setLastTrace(row, QFile::decodeName(QByteArray::fromStdString(found->string())));
  }
  return model_->lastTrace(row);
}

void MainWindow::UpdateRowActions() {
  const std::vector<ScriptInstance*> selected = SelectedInstances();
  QAction* record = actions_.at(kRecordRun);
  QAction* view = actions_.at(kViewLastRun);
  record->setEnabled(!selected.empty());
  record->setChecked(!selected.empty() && model_->recording(selected.front()->row));
  view->setEnabled(!selected.empty() && !LatestTraceOf(selected.front()->row).isEmpty());
}

void MainWindow::ViewLastRun() {
  const std::vector<ScriptInstance*> selected = SelectedInstances();
  if (selected.empty()) return;
  const int row = selected.front()->row;
  const QString file = LatestTraceOf(row);
  if (file.isEmpty()) {
    UpdateRowActions();
    return;
  }
  const QString name = model_->text(row, 0);
  if (!QFileInfo::exists(file)) {
    // Looked for again next time: an older trace may still be there.
    model_->forgetTrace(row);
    Message(QString::fromUtf8(manager_text::kTraceMissing).arg(name, file));
    UpdateRowActions();
    return;
  }
  // One viewer window, shown once its page is made; asked again meanwhile,
  // it makes the newer page instead.
  if (!traceViewer_) {
    traceViewer_ = new TraceViewer(this);
    TraceViewer* viewer = traceViewer_;
    connect(viewer, &TraceViewer::ready, this, [this, viewer](int problems) {
      statusBar()->clearMessage();
      viewer->show();
      viewer->raise();
      viewer->activateWindow();
      if (problems > 0) {
        statusBar()->showMessage(QString::fromUtf8(manager_text::kTraceDamaged)
                                     .arg(viewer->shownTrace())
                                     .arg(problems),
                                 8000);
      }
    });
  }
  TraceViewer* viewer = traceViewer_;
  disconnect(viewer, &TraceViewer::failed, this, nullptr);
  connect(viewer, &TraceViewer::failed, this, [this, viewer, name](const QString& error) {
    // A viewer that never showed a page is not left behind, hidden.
    if (!viewer->isVisible()) viewer->deleteLater();
    Message(QString::fromUtf8(manager_text::kTraceUnreadable).arg(name, error));
  });
  statusBar()->showMessage(QString::fromUtf8(manager_text::kTraceLoading).arg(file), 8000);
  viewer->showTrace(file, name);
}


void MainWindow::recordScriptError(int32_t scriptId, const ScriptErrorReport& report) {
  QString text = report.file.empty() ? QString()
                                     : QString::fromStdString(report.file) + QLatin1Char(':') +
                                           QString::number(report.line) + QStringLiteral(": ");
  text += QStringLiteral("error: ") + QString::fromStdString(report.reason);
  for (int row = 0; row < model_->rowCount(); ++row) {
    const ScriptInstance* instance = model_->instanceAt(row);
    if (instance && instance->id == scriptId) model_->setLastError(row, text);
  }
}

void MainWindow::ShowText(ScriptInstance* instance, int32_t code, const std::string& text) {
  if (!instance || code < REQ_SHOW || code > REQ_STATE) return;
  const int row = instance->row;
  if (model_->instanceAt(row) != instance) return;
  const CodePage& cp = *env_.codePage;
  model_->setText(row, code - REQ_SHOW + 1,
                  ToQString(cp.CutAtCharacter(text, kMaxShownBytes), cp));
}

void MainWindow::SetState(ScriptInstance* instance, const char* state) {
  model_->setText(instance->row, 4, QString::fromLatin1(state));
}

void MainWindow::ShowErrorDetails() {
  const std::vector<ScriptInstance*> selected = SelectedInstances();
  if (selected.empty()) return;
  const int row = selected.front()->row;
  QStringList parts;
  if (!model_->lastError(row).isEmpty()) parts << model_->lastError(row);
  if (!model_->error(row).isEmpty()) parts << model_->error(row);
  Message(parts.isEmpty() ? QString::fromUtf8(manager_text::kNoError) : parts.join(QStringLiteral("\n\n")));
}

std::vector<ScriptInstance*> MainWindow::SelectedInstances() const {
  std::vector<int> rows;
  for (const QModelIndex& index : list_->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  std::vector<ScriptInstance*> instances;
  for (int row : rows) {
    if (ScriptInstance* instance = model_->instanceAt(row)) instances.push_back(instance);
  }
  return instances;
}

void MainWindow::selectRows(const std::vector<int>& rows) {
  list_->clearSelection();
  for (int row : rows) {
    list_->selectionModel()->select(model_->index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

bool MainWindow::RemoveInstance(ScriptInstance* instance) {
  const int row = instance->row;
  if (!host_->removeScript(*instance)) return false;
  model_->removeRowAt(row);
  return true;
}

void MainWindow::DeleteSelected() {
  auto instances = SelectedInstances();
  // From the last row up, so the rows still to do keep their numbers.
  for (auto it = instances.rbegin(); it != instances.rend(); ++it) RemoveInstance(*it);
}

void MainWindow::DeleteAll() {
  for (int row = model_->rowCount() - 1; row >= 0; --row) RemoveInstance(model_->instanceAt(row));
}

void MainWindow::RunSelected() {
  QStringList unchanged;
  for (ScriptInstance* instance : SelectedInstances()) {
    // Running or ended: the state the script reports stays as it is.
    if (instance->worker.started() && !host_->isPaused(*instance)) {
      unchanged << QString::fromUtf8(instance->displayName.c_str());
      continue;
    }
    if (!instance->worker.started()) AttachRecorder(instance);
    if (!host_->run(*instance)) {
      // The trace it would have written never comes; the disk tells the
      // latest one there is.
      model_->forgetTrace(instance->row);
      // No thread: the row stays as it was. At the limit the rest of the
      // selection would be refused too, so it is said once.
      if (host_->atRunningLimit()) {
        Message(QString::fromUtf8(msg::kTooManyRunningScripts));
        return;
      }
      continue;
    }
    host_->commandWroteState(*instance);
    SetState(instance, host_->isPaused(*instance) ? "pause" : "run");
  }
  // Nothing visible happened to these rows: say why, and what would.
  if (!unchanged.isEmpty()) {
    statusBar()->showMessage(QString::fromUtf8(manager_text::kStillRunning).arg(unchanged.join("\", \"")) +
                                 QString::fromUtf8(manager_text::kRunAgainHint),
                             8000);
  }
}

void MainWindow::PauseSelected() {
  for (ScriptInstance* instance : SelectedInstances()) {
    if (host_->isPaused(*instance) || !instance->worker.alive()) continue;
    host_->pause(*instance);
    host_->commandWroteState(*instance);
    SetState(instance, host_->isPaused(*instance) ? "pause" : "run");
  }
}

void MainWindow::StopSelected() {
  for (ScriptInstance* instance : SelectedInstances()) host_->stopScript(*instance);
}

void MainWindow::ReloadSelected() {
  for (ScriptInstance* instance : SelectedInstances()) {
    if (instance->worker.alive()) continue;
    const std::string name = instance->displayName;
    const std::string path = instance->path;
    const std::string param = instance->param;
    const bool record = model_->recording(instance->row);
    const QString trace = model_->lastTrace(instance->row);
    if (!RemoveInstance(instance)) continue;
    ScriptInstance* fresh = addScript(name, path, param, record);
    if (!trace.isEmpty()) model_->setLastTrace(fresh->row, trace);
  }
}

void MainWindow::RunAgainSelected() {
  // Reload and run in one step, for rows whose scripts have ended; rows that
  // never ran are simply run, running ones are left alone.
  std::vector<ScriptInstance*> started;
  std::vector<int> rows;
  for (ScriptInstance* instance : SelectedInstances()) {
    if (instance->worker.alive()) continue;
    if (!instance->worker.started()) {
      started.push_back(instance);
      continue;
    }
    const std::string name = instance->displayName;
    const std::string path = instance->path;
    const std::string param = instance->param;
    const bool record = model_->recording(instance->row);
    const QString trace = model_->lastTrace(instance->row);
    if (!RemoveInstance(instance)) continue;
    // Like reload, the fresh row comes last.
    started.push_back(addScript(name, path, param, record));
    if (!trace.isEmpty()) model_->setLastTrace(started.back()->row, trace);
  }
  rows.clear();
  for (ScriptInstance* instance : started) {
    AttachRecorder(instance);
    if (!host_->run(*instance)) {
      model_->forgetTrace(instance->row);
      continue;
    }
    host_->commandWroteState(*instance);
    SetState(instance, "run");
    rows.push_back(instance->row);
  }
  // The selection follows the rows, so the command can be given again.
  selectRows(rows);
}

void MainWindow::StopAll() {
  for (int row = 0; row < model_->rowCount(); ++row) {
    ScriptInstance* instance = model_->instanceAt(row);
    if (instance->worker.alive()) host_->stopScript(*instance);
  }
}

void MainWindow::StopAllAndExit() {
  StopAll();
  host_->stopAllAndWait(QtHost::kExitWaitMs);
  if (AnyScriptAlive()) {
    // A script that does not end within the wait keeps the program open:
    // exiting would pull its instance from under its thread.
    Message(QString::fromUtf8(manager_text::kExitRefused));
    return;
  }
  Exit();
}

void MainWindow::addDroppedFiles(const QList<QUrl>& urls) {
  QStringList refused;
  for (const QUrl& url : urls) {
    const QString file = url.toLocalFile();
    const QFileInfo info(file);
    if (file.isEmpty() || !info.isFile() || !info.isReadable()) {
      refused << (file.isEmpty() ? url.toString() : file);
      continue;
    }
    const CodePage& cp = *env_.codePage;
    addScript(FromQString(info.fileName(), cp),
              QFile::encodeName(info.absoluteFilePath()).toStdString(), std::string());
  }
  if (!refused.isEmpty()) {
    Message(QString::fromUtf8(manager_text::kNotAddedFiles) +
            refused.join(QLatin1Char('\n')));
  }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasUrls()) return;
  event->acceptProposedAction();
  addDroppedFiles(event->mimeData()->urls());
}

void MainWindow::ExportCommand() {
  std::vector<ProjectEntry> entries;
  for (int row = 0; row < model_->rowCount(); ++row) entries.push_back(EntryOf(row));
  if (entries.empty()) return;
  std::optional<std::size_t> bad;
  ProjectText(entries, &bad);
  if (bad) {
    Message(QStringLiteral(
                "第 %1 行的脚本 \"%2\" 的名称、路径或参数含有 ^ 或换行，无法保存到项目文件．")
                .arg(*bad + 1)
                .arg(model_->text(static_cast<int>(*bad), 0)));
    return;
  }
  const QString file = chooseProjectFile(true);
  if (!file.isEmpty()) exportProject(file);
}

void MainWindow::exportProject(const QString& file) {
  std::vector<ProjectEntry> entries;
  for (int row = 0; row < model_->rowCount(); ++row) entries.push_back(EntryOf(row));
  std::optional<std::size_t> bad;
  const std::string text = ProjectText(entries, &bad);
  if (text.empty()) return;
  WriteProjectFile(QFile::encodeName(file).toStdString(), text);
}

void MainWindow::ImportCommand() {
  const QString file = chooseProjectFile(false);
  if (!file.isEmpty()) importProject(file);
}

void MainWindow::importProject(const QString& file) {
  const auto text = ReadProjectFile(QFile::encodeName(file).toStdString());
  if (!text) return;
  for (const ProjectEntry& entry : ParseProject(*text))
    addScript(entry.name, entry.path, entry.param, entry.record);
}

namespace {

// What the window manager adds around a window's contents (caption bar,
// borders); empty while the window has not been framed yet.
QMargins FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect inside = window.geometry();
  return {inside.left() - frame.left(), inside.top() - frame.top(),
          frame.right() - inside.right(), frame.bottom() - inside.bottom()};
}

}  // namespace

void MainWindow::OpenRegexTester() {
  if (regexTester_) delete regexTester_.data();
  regexTester_ = new RegexTester(*env_.codePage, this);
  regexTester_->setAttribute(Qt::WA_DeleteOnClose);
  const QPoint cursor = QCursor::pos();
  QScreen* screen = QGuiApplication::screenAt(cursor);
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  // The rule is about the whole window as it stands on the screen, frame
  // included. A window that is not shown has no frame yet, so it is taken
  // to get the frame this window got from the same window manager, and
  // placed again should its own turn out different.
  const QMargins estimate = FrameMargins(*this);
  const auto place = [cursor, area](RegexTester* tester, const QMargins& frame) {
    tester->move(RegexTester::Placement(cursor, tester->size().grownBy(frame), area));
  };
  place(regexTester_, estimate);
  regexTester_->show();
  QPointer<RegexTester> tester = regexTester_;
  QTimer::singleShot(100, this, [tester, estimate, place] {
    if (!tester) return;
    const QMargins own = FrameMargins(*tester);
    if (own != estimate && !own.isNull()) place(tester, own);
  });
}

void MainWindow::OpenSettings() {
  if (settingsDialog_) {
    settingsDialog_->raise();
    return;
  }
  // The page captures the key presses, the boss key among them.
  hotKey_.unregisterKey();
  settingsDialog_ = new SettingsDialog(settings_, hotKeyText_, this);
  settingsDialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(settingsDialog_, &QDialog::finished, this, &MainWindow::SettingsClosed);
  settingsDialog_->open();
}

void MainWindow::SettingsClosed(int result) {
  if (result == QDialog::Accepted && settingsDialog_) {
    WriteSettings(env_.config, settingsDialog_->edit(), hotKeyText_);
    settings_ = ManagerSettings::Read(env_.config);
    hotKeyText_ = settings_.hotKey;
    model_->setRecordTip(QString::fromUtf8(manager_text::kRecordsTip).arg(traceFolder()));
  }
  RegisterHotKey();
}

void MainWindow::RegisterHotKey() {
  hotKey_.registerKey(hotKeyText_);
}

void MainWindow::OpenManual() {
  const QStringList candidates = {
      programFolder + QStringLiteral("/../share/velmar/manual/index.html"),
      programFolder + QStringLiteral("/share/velmar/manual/index.html"),
      QStringLiteral(VELMAR_BUILD_MANUAL),
  };
  for (const QString& candidate : candidates) {
    const QString file = QDir::cleanPath(candidate);
    if (!candidate.isEmpty() && QFileInfo(file).isFile()) {
      openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
      return;
    }
  }
  Message(QString::fromUtf8(manager_text::kManualMissing));
}

void MainWindow::OpenPacker() {
  if (packDialog_) {
    packDialog_->raise();
    packDialog_->activateWindow();
    return;
  }
  if (runnerProgram.isEmpty()) {
    const QString beside = programFolder + QStringLiteral("/vlmpack");
    runnerProgram = QFileInfo(beside).isExecutable()
                        ? beside
                        : QFile::decodeName(QByteArray::fromStdString(DefaultRunnerProgram().string()));
  }
  // Packages carry the runner: without it there is nothing to pack with.
  if (!QFileInfo(runnerProgram).isExecutable()) {
    Message(QString::fromUtf8(manager_text::kPackerMissing));
    return;
  }
  packDialog_ = new PackDialog(env_.home, QFile::encodeName(runnerProgram).toStdString(), this,
                               QString::fromStdString(hotKeyText_));
  packDialog_->setAttribute(Qt::WA_DeleteOnClose);
  packDialog_->open();
}

void MainWindow::About() {
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(manager_text::kAboutTitle),
                              QString::fromUtf8(manager_text::kCaption), QMessageBox::Ok, this);
  // The caption's fixed text stays the box's title line; the release the
  // build names goes beneath it, as --version says it.
  box->setInformativeText(QString::fromUtf8(manager_text::kVersionPrefix) + QString::fromUtf8(velmar::kVersion));
  box->setIconPixmap(icon_.pixmap(32, 32));
  box->setAttribute(Qt::WA_DeleteOnClose);
  lastMessage_ = box->text();
  box->open();
}

void MainWindow::Message(const QString& text) {
  lastMessage_ = text;
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(QtHost::kManagerCaption),
                              text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

bool MainWindow::AnyScriptAlive() const {
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (model_->instanceAt(row)->worker.alive()) return true;
  }
  return false;
}

QString MainWindow::keptListFile() const {
  return QFile::decodeName(QByteArray::fromStdString((env_.home / "scripts.tmpro").string()));
}

void MainWindow::LoadKeptList() {
  const std::string file = QFile::encodeName(keptListFile()).toStdString();
  keepListQuiet_ = true;
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    const std::optional<std::string> text = ReadProjectFile(file);
    std::vector<ProjectEntry> entries;
    std::size_t lines = 0;
    if (text) {
      entries = ParseProject(*text);
      for (std::string_view rest = *text; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) ++lines;
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      }
    }
    if (!text || entries.size() != lines) {
      // Damaged or unreadable: kept aside as it is, never overwritten; what
      // could be read is loaded.
      std::string aside = file + ".damaged";
      for (int n = 2; std::filesystem::exists(aside, ec); ++n) aside = file + ".damaged" + std::to_string(n);
      std::filesystem::rename(file, aside, ec);
      Message(QString::fromUtf8(manager_text::kKeptListDamaged)
                  .arg(keptListFile(), QFile::decodeName(QByteArray::fromStdString(aside)))
                  .arg(entries.size()));
      keptListSavePending_ = true;
    }
    for (const ProjectEntry& entry : entries)
      addScript(entry.name, entry.path, entry.param, entry.record);
  }
  keepListQuiet_ = false;
  if (keptListSavePending_) SaveKeptList();
}

void MainWindow::ScheduleKeptListSave() {
  if (keepListQuiet_ || keptListSavePending_) return;
  // One write for all the changes of one turn (an import adds many rows).
  keptListSavePending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (keptListSavePending_) SaveKeptList();
  });
}

void MainWindow::SaveKeptList() {
  keptListSavePending_ = false;
  if (keepListQuiet_) return;
  std::vector<ProjectEntry> entries;
  int refused = 0;
  for (int row = 0; row < model_->rowCount(); ++row) {
    ProjectEntry entry = EntryOf(row);
    std::optional<std::size_t> bad;
    ProjectText({entry}, &bad);
    if (bad) {
      ++refused;  // a "^" or a line end would read back as other scripts
      continue;
    }
    entries.push_back(std::move(entry));
  }
  const std::string text = ProjectText(entries);
  if (!ReplaceProjectFile(QFile::encodeName(keptListFile()).toStdString(), text)) {
    statusBar()->showMessage(QString::fromUtf8(manager_text::kKeptListUnsaved).arg(keptListFile()), 8000);
  } else if (refused > 0) {
    statusBar()->showMessage(
        QString::fromUtf8(manager_text::kKeptListRefused).arg(refused),
        8000);
  }
}

bool MainWindow::Exit() {
  if (AnyScriptAlive()) {
    if (refusal_) {
      refusal_->raise();
      return false;
    }
    lastMessage_ = QString::fromUtf8(manager_text::kExitRefused);
    refusal_ = new QMessageBox(QMessageBox::Information, QString::fromUtf8(QtHost::kManagerCaption),
                               lastMessage_, QMessageBox::Ok, this);
    QPushButton* stopAll =
        refusal_->addButton(QString::fromUtf8(manager_text::kStopAllAndExit), QMessageBox::DestructiveRole);
    refusal_->setDefaultButton(QMessageBox::Ok);
    refusal_->setEscapeButton(QMessageBox::Ok);
    refusal_->setAttribute(Qt::WA_DeleteOnClose);
    connect(refusal_, &QMessageBox::buttonClicked, this, [this, stopAll](QAbstractButton* b) {
      if (b == stopAll) QTimer::singleShot(0, this, &MainWindow::StopAllAndExit);
    });
    refusal_->open();
    return false;
  }
  // The list stays as it was for the next start.
  if (keptListSavePending_) SaveKeptList();
  keepListQuiet_ = true;
  for (int row = model_->rowCount() - 1; row >= 0; --row) RemoveInstance(model_->instanceAt(row));
  host_->stopAllAndWait(QtHost::kExitWaitMs);
  host_->closeAllWindows();
  if (regexTester_) delete regexTester_.data();
  if (traceViewer_) delete traceViewer_.data();
  RemoveTray();
  hotKey_.unregisterKey();
  exited_ = true;
  quit();
  return true;
}

void MainWindow::ShowTray() {
  tray_->show();
  trayShown_ = true;
  UpdateTrayTip();
}

void MainWindow::RemoveTray() {
  if (!trayShown_) return;
  tray_->hide();
  trayShown_ = false;
}

void MainWindow::ShowMainWindow() {
  showNormal();
  raise();
  activateWindow();
}

void MainWindow::UpdateTrayTip() {
  tray_->setToolTip(QString::fromUtf8(manager_text::kTrayTip).arg(model_->rowCount()));
}

void MainWindow::bossKey() {
  if (!trayShown_) {
    if (visible_) {
      hide();
    } else {
      ShowMainWindow();
    }
  } else if (visible_) {
    RemoveTray();
  }
  visible_ = !visible_;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (exited_) {
    event->accept();
    return;
  }
  event->ignore();
  if (settings_.closeToTray && trayAvailable()) {
    ShowTray();
    hide();
    return;
  }
  // Hidden completely only while a boss key can bring the window back.
  if (settings_.hideOnClose && hotKey_.status() == GlobalHotKey::Result::kRegistered) {
    hide();
    visible_ = !visible_;
    return;
  }
  Exit();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized)) return;
  if (!settings_.minimizeToTray || !trayAvailable()) return;
  // Hidden after the state change has been handled. The minimised state
  // stays until the window is shown again (showNormal): taking it back here
  // would have the window system map the window again, an empty frame left
  // on the screen beside the tray icon.
  QTimer::singleShot(0, this, [this] {
    ShowTray();
    hide();
  });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The latest-message column takes what the window grows by.
  settingWidths_ = true;
  list_->setColumnWidth(1, columnOneBase_ + std::max(0, width() - kInitialWidth));
  settingWidths_ = false;
}

QString MainWindow::scriptFolder() const {
  return QFile::decodeName(QByteArray::fromStdString((env_.home / "Script").string()));
}

QString MainWindow::columnWidthsFile() const {
  return QFile::decodeName(QByteArray::fromStdString((env_.home / "tamarind.columns").string()));
}

void MainWindow::RestoreColumnWidths() {
  QFile file(columnWidthsFile());
  if (!file.open(QIODevice::ReadOnly)) return;
  const QList<QByteArray> widths = file.readAll().trimmed().split(' ');
  if (widths.size() != 5) return;
  settingWidths_ = true;
  for (int i = 0; i < 5; ++i) {
    bool ok = false;
    const int width = widths[i].toInt(&ok);
    // A damaged file leaves the starting widths.
    if (ok && width >= 10 && width <= 4000) {
      list_->setColumnWidth(i, width);
      if (i == 1) columnOneBase_ = width;
    }
  }
  settingWidths_ = false;
}

void MainWindow::SaveColumnWidths() {
  // Column 1 is kept as it would be at the starting window width.
  columnOneBase_ = std::max(10, list_->columnWidth(1) - std::max(0, width() - kInitialWidth));
  QStringList widths;
  for (int i = 0; i < 5; ++i) widths << QString::number(i == 1 ? columnOneBase_ : list_->columnWidth(i));
  QSaveFile file(columnWidthsFile());
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(widths.join(QLatin1Char(' ')).toLatin1() + '\n');
  file.commit();  // written in full or not at all
}

}  // namespace velmar
