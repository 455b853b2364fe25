#pragma once
// "添加资源..": display name, script path (with 浏览..) and parameter of a
// script to add.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmar {

class AddScriptDialog : public QDialog {
  Q_OBJECT
 public:

  // "浏览.." starts in `startFolder` (the home folder's Script/).
  explicit AddScriptDialog(QWidget* parent = nullptr, QString startFolder = {});

  QLineEdit* nameField() const { return name_; }
  QLineEdit* pathField() const { return path_; }
  QLineEdit* paramField() const { return param_; }
  QPushButton* browseButton() const { return browse_; }
  QPushButton* okButton() const { return ok_; }

 private:
  QLineEdit* name_;
  QLineEdit* path_;
  QLineEdit* param_;
  QPushButton* browse_;
  QPushButton* ok_;
  QString startFolder_;
};

}  // namespace velmar
