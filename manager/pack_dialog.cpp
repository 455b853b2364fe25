#include "manager/pack_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "manager/manager_texts.h"
#include "ui/product_info.h"

namespace velmar {

namespace {

std::filesystem::path ToPath(const QString& text) {
  return std::filesystem::path(QFile::encodeName(text.trimmed()).toStdString());
}

QString FromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

// An empty field leaves the packer's own default (Config.ini, the main
// script's name).
// The text itself is kept as typed: a hot key's last byte is its key.
std::optional<std::string> Optional(const QLineEdit* field) {
  if (field->text().trimmed().isEmpty()) return std::nullopt;
  return field->text().toStdString();
}

}  // namespace

PackDialog::PackDialog(const std::filesystem::path& home, std::filesystem::path runnerProgram,
                       QWidget* parent, const QString& managerHotKey)
    : QDialog(parent),
      runnerProgram_(std::move(runnerProgram)),
      scriptFolder_(new QLineEdit(this)),
      output_(new QLineEdit(this)),
      appName_(new QLineEdit(this)),
      // No site the person did not choose: empty leaves the home's own.
      homepage_(new QLineEdit(this)),
      hotKey_(new QLineEdit(QString::fromUtf8(
                                managerHotKey == QString::fromUtf8(kDefaultHotKey) ? kOtherHotKey
                                                                                   : kDefaultHotKey),
                            this)),
      boot_(new QLineEdit(this)),
      bootBrowse_(new QPushButton(QString::fromUtf8(manager_text::kBrowse), this)),
      archive_(new QCheckBox(QString::fromUtf8(manager_text::kPackArchive), this)),
      scriptBrowse_(new QPushButton(QString::fromUtf8(manager_text::kBrowse), this)),
      outputBrowse_(new QPushButton(QString::fromUtf8(manager_text::kBrowse), this)),
      pack_(new QPushButton(QString::fromUtf8(manager_text::kPackButton), this)),
      close_(new QPushButton(QString::fromUtf8(manager_text::kClose), this)) {
  setWindowTitle(QString::fromUtf8(manager_text::kPackerCaption));
  chooseFolder = [this](const QString& caption, const QString& start) {
    return QFileDialog::getExistingDirectory(this, caption, start);
  };
  chooseFile = [this](const QString& caption, const QString& start) {
    return QFileDialog::getOpenFileName(this, caption, start,
                                        QString::fromUtf8(manager_text::kBootFilter));
  };

  // The home folder packs its Script/ together with its Config.ini (code
  // page and all); a home without scripts leaves the choice to the person.
  std::error_code ec;
  if (std::filesystem::is_directory(home / "Script", ec)) scriptFolder_->setText(FromPath(home));
  appName_->setPlaceholderText(QString::fromUtf8(manager_text::kPackAppNameHint));
  homepage_->setPlaceholderText(QString::fromUtf8(manager_text::kPackHomepageHint));
  boot_->setPlaceholderText(QString::fromUtf8(manager_text::kPackBootHint));
  SuggestOutput();

  auto* form = new QFormLayout;
  auto row = [this](QLineEdit* field, QPushButton* browse) {
    auto* layout = new QHBoxLayout;
    layout->addWidget(field, 1);
    layout->addWidget(browse);
    return layout;
  };
  form->addRow(QString::fromUtf8(manager_text::kPackScriptFolder), row(scriptFolder_, scriptBrowse_));
  form->addRow(QString::fromUtf8(manager_text::kPackOutputFolder), row(output_, outputBrowse_));
  form->addRow(QString::fromUtf8(manager_text::kPackBoot), row(boot_, bootBrowse_));
  form->addRow(QString::fromUtf8(manager_text::kPackAppName), appName_);
  form->addRow(QString::fromUtf8(manager_text::kPackHomepage), homepage_);
  form->addRow(QString::fromUtf8(manager_text::kPackHotKey), hotKey_);
  form->addRow(QString(), archive_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(pack_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  scriptFolder_->setMinimumWidth(320);
  pack_->setDefault(true);
  close_->setAutoDefault(false);
  scriptBrowse_->setAutoDefault(false);
  outputBrowse_->setAutoDefault(false);
  bootBrowse_->setAutoDefault(false);
  connect(bootBrowse_, &QPushButton::clicked, this, [this] {
    const QString start = boot_->text().trimmed().isEmpty() ? scriptFolder_->text() : boot_->text();
    const QString chosen = chooseFile(QString::fromUtf8(manager_text::kPackChooseBoot), start);
    if (!chosen.isEmpty()) boot_->setText(QDir::toNativeSeparators(chosen));
  });

  connect(pack_, &QPushButton::clicked, this, &PackDialog::Pack);
  connect(close_, &QPushButton::clicked, this, &PackDialog::reject);
  connect(scriptBrowse_, &QPushButton::clicked, this,
          [this] { Browse(scriptFolder_, QString::fromUtf8(manager_text::kPackChooseScripts)); });
  connect(outputBrowse_, &QPushButton::clicked, this,
          [this] { Browse(output_, QString::fromUtf8(manager_text::kPackChooseOutput)); });
  connect(appName_, &QLineEdit::textChanged, this, [this] { SuggestOutput(); });
  connect(output_, &QLineEdit::textEdited, this, [this] { outputChosen_ = true; });
}

PackDialog::~PackDialog() {
  // The packer runs to its end (it cleans up its staging folder itself).
  if (worker_) worker_->wait();
}

void PackDialog::SuggestOutput() {
  if (outputChosen_) return;
  QString name = appName_->text().trimmed();
  if (name.isEmpty()) name = QString::fromUtf8(kDefaultAppName);
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  output_->setText(QDir::homePath() + QLatin1Char('/') + name);
}

void PackDialog::Browse(QLineEdit* field, const QString& caption) {
  const QString start = field->text().trimmed().isEmpty() ? QDir::homePath() : field->text();
  const QString chosen = chooseFolder(caption, start);
  if (chosen.isEmpty()) return;
  field->setText(QDir::toNativeSeparators(chosen));
  if (field == output_) outputChosen_ = true;
}

PackOptions PackDialog::options(const std::filesystem::path& bootFolder, std::string* error) const {
  PackOptions o;
  o.scriptFolder = ToPath(scriptFolder_->text());
  o.output = ToPath(output_->text());
  o.archive = archive_->isChecked();
  o.appName = Optional(appName_);
  o.homepage = Optional(homepage_);
  o.hotKey = Optional(hotKey_);
  o.textsInUtf8 = true;
  o.runnerProgram = runnerProgram_;
  const QString boot = boot_->text().trimmed();
  if (boot.isEmpty()) return o;
  const std::filesystem::path chosen = ToPath(boot);
  if (chosen.extension() != ".vlm") {
    o.bootFile = chosen;  // a boot file, used as it is
    return o;
  }
  // A script: the package starts it, named after it, from its place under
  // the packed Script/ folder.
  std::error_code ec;
  const std::filesystem::path root = std::filesystem::is_directory(o.scriptFolder / "Script", ec)
                                         ? o.scriptFolder / "Script"
                                         : o.scriptFolder;
  const std::filesystem::path relative =
      std::filesystem::weakly_canonical(chosen, ec).lexically_relative(
          std::filesystem::weakly_canonical(root, ec));
  if (relative.empty() || *relative.begin() == "..") {
    if (error) *error = "the boot script " + chosen.string() + " is not in " + root.string();
    return o;
  }
  if (bootFolder.empty()) return o;
  const std::filesystem::path file = bootFolder / "Velmar.boot";
  QFile out(FromPath(file));
  if (!out.open(QIODevice::WriteOnly) ||
      out.write(QByteArray::fromStdString(relative.stem().string() + "^" +
                                          relative.generic_string() + "^\n")) < 0) {
    if (error) *error = "cannot write " + file.string();
    return o;
  }
  out.close();
  o.bootFile = file;
  return o;
}

QString PackDialog::OutcomeText(const PackResult& result) {
  QString text;
  if (result.ok) {
    text = QString::fromUtf8(manager_text::kPackDone).arg(FromPath(result.folder));
    if (!result.archive.empty()) {
      text += QString::fromUtf8(manager_text::kPackArchiveDone).arg(FromPath(result.archive));
    }
  } else {
    text = QString::fromUtf8(manager_text::kPackFailed);
    bool noMain = false;
    for (const std::string& error : result.errors) {
      text += QLatin1Char('\n') + QString::fromStdString(error);
      noMain = noMain || error.find("give --boot FILE") != std::string::npos;
    }
    // What the command line asks for is a field here.
    if (noMain) text += QString::fromUtf8(manager_text::kPackChooseMain);
  }
  if (!result.warnings.empty()) {
    text += QString::fromUtf8(manager_text::kPackWarnings);
    for (const std::string& warning : result.warnings) {
      text += QStringLiteral("\n- ") + QString::fromStdString(warning);
    }
  }
  return text;
}

void PackDialog::Pack() {
  if (worker_) return;
  if (box_) box_->close();
  bootFolder_ = std::make_unique<QTemporaryDir>();
  std::string error;
  const PackOptions o = options(ToPath(bootFolder_->path()), &error);
  if (o.scriptFolder.empty() || !error.empty()) {
    result_ = PackResult{};
    result_.errors.push_back(o.scriptFolder.empty() ? "no script folder given" : error);
    Finish();
    return;
  }
  // Copying and compressing may take a while: the window stays responsive.
  pack_->setEnabled(false);
  close_->setEnabled(false);
  worker_ = QThread::create([this, o] { result_ = PackApplication(o); });
  connect(worker_, &QThread::finished, this, &PackDialog::Finish);
  worker_->start();
}

void PackDialog::Finish() {
  if (worker_) {
    worker_->wait();
    worker_->deleteLater();
    worker_ = nullptr;
  }
  pack_->setEnabled(true);
  close_->setEnabled(true);
  const bool ok = result_.ok;
  auto* box = new QMessageBox(ok && result_.warnings.empty() ? QMessageBox::Information
                                                             : QMessageBox::Warning,
                              QString::fromUtf8(manager_text::kPackerCaption), OutcomeText(result_), QMessageBox::Ok,
                              this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box_ = box;
  box->open();
  Q_EMIT packed(ok);
}

void PackDialog::closeEvent(QCloseEvent* event) {
  // A package half made is finished first; the window waits for it.
  if (worker_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void PackDialog::reject() {
  if (worker_) return;
  QDialog::reject();
}

}  // namespace velmar
