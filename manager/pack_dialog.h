#pragma once
// "脚本打包器": packs a folder of scripts into an application folder with the
// same packer as `velmar pack`, and says in a message box what came of it.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <memory>
#include <filesystem>
#include <functional>

#include "runner/app_packer.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QThread;

namespace velmar {

class PackDialog : public QDialog {
  Q_OBJECT
 public:
  // The packed program's boss key unless the person types another; never
  // the manager's own (both would grab the same key).
  static constexpr char kDefaultHotKey[] = "CTRL + ALT + 9";
  static constexpr char kOtherHotKey[] = "CTRL + ALT + 8";
  static constexpr char kDefaultAppName[] = "VelmarApp";

  // `home` is the manager's home folder: packed by default (its Script/ and
  // Config.ini). `runnerProgram` is the vlmpack copied into the package.
  // `managerHotKey` is the boss key the manager holds.
  PackDialog(const std::filesystem::path& home, std::filesystem::path runnerProgram,
             QWidget* parent = nullptr, const QString& managerHotKey = QString());
  ~PackDialog() override;

  // Asks for a folder; the default opens the desktop's folder dialog. Tests
  // replace it. Returns an empty text when the person cancels.
  std::function<QString(const QString& caption, const QString& start)> chooseFolder;
  // Asks for the boot script the same way.
  std::function<QString(const QString& caption, const QString& start)> chooseFile;

  QLineEdit* scriptFolderField() const { return scriptFolder_; }
  QLineEdit* outputField() const { return output_; }
  QLineEdit* appNameField() const { return appName_; }
  QLineEdit* homepageField() const { return homepage_; }
  QLineEdit* hotKeyField() const { return hotKey_; }
  // The script the package starts (a .vlm under the script folder) or a
  // boot file to use as it is; empty: the packer finds the main script.
  QLineEdit* bootField() const { return boot_; }
  QPushButton* bootBrowseButton() const { return bootBrowse_; }
  QCheckBox* archiveBox() const { return archive_; }
  QPushButton* scriptBrowseButton() const { return scriptBrowse_; }
  QPushButton* outputBrowseButton() const { return outputBrowse_; }
  QPushButton* packButton() const { return pack_; }
  QPushButton* closeButton() const { return close_; }
  // The box that shows the last outcome while it is open.
  QMessageBox* outcomeBox() const { return box_; }
  bool packing() const { return worker_ != nullptr; }

  // The options the fields give (what the pack button hands the packer). A
  // boot script becomes a one-line boot file in `bootFolder`; an error text
  // when the fields cannot make one.
  PackOptions options(const std::filesystem::path& bootFolder = {},
                      std::string* error = nullptr) const;
  // The text of the outcome box for a result.
  static QString OutcomeText(const PackResult& result);

 Q_SIGNALS:
  // The packer is done and its outcome box is open.
  void packed(bool ok);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void Pack();
  void Finish();
  void Browse(QLineEdit* field, const QString& caption);
  void SuggestOutput();

  std::filesystem::path runnerProgram_;
  QLineEdit* scriptFolder_;
  QLineEdit* output_;
  QLineEdit* appName_;
  QLineEdit* homepage_;
  QLineEdit* hotKey_;
  QLineEdit* boot_;
  QPushButton* bootBrowse_;
  QCheckBox* archive_;
  QPushButton* scriptBrowse_;
  QPushButton* outputBrowse_;
  QPushButton* pack_;
  QPushButton* close_;
  QPointer<QMessageBox> box_;
  QThread* worker_ = nullptr;
  std::unique_ptr<QTemporaryDir> bootFolder_;
  PackResult result_;
  // Once the person has typed an output folder it is no longer derived
  // from the application's name.
  bool outputChosen_ = false;
};

}  // namespace velmar
