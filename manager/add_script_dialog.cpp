#include "manager/add_script_dialog.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/manager_texts.h"

namespace velmar {

AddScriptDialog::AddScriptDialog(QWidget* parent, QString startFolder)
    : QDialog(parent),
      name_(new QLineEdit(this)),
      path_(new QLineEdit(this)),
      param_(new QLineEdit(this)),
      browse_(new QPushButton(QString::fromUtf8(manager_text::kBrowse), this)),
      ok_(new QPushButton(QString::fromUtf8(manager_text::kOk), this)),
      startFolder_(std::move(startFolder)) {
  setWindowTitle(QString::fromUtf8(manager_text::kAddTitle));
  auto* form = new QFormLayout;
  form->addRow(QString::fromUtf8(manager_text::kAddName), name_);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(browse_);
  form->addRow(QString::fromUtf8(manager_text::kAddPath), pathRow);
  form->addRow(QString::fromUtf8(manager_text::kAddParam), param_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  path_->setMinimumWidth(260);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(browse_, &QPushButton::clicked, this, [this] {
    auto* dialog = new QFileDialog(this, windowTitle(), startFolder_, QString::fromUtf8(manager_text::kScriptFilter));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& file) { path_->setText(file); });
    dialog->open();
  });
}

}  // namespace velmar
