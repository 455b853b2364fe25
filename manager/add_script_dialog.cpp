#include "manager/add_script_dialog.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmar {

AddScriptDialog::AddScriptDialog(QWidget* parent, QString startFolder)
    : QDialog(parent),
      name_(new QLineEdit(this)),
      path_(new QLineEdit(this)),
      param_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("浏览.."), this)),
      ok_(new QPushButton(QStringLiteral("确定"), this)),
      startFolder_(std::move(startFolder)) {
  setWindowTitle(QStringLiteral("添加资源.."));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("脚本名称:"), name_);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(browse_);
  form->addRow(QStringLiteral("选择脚本:"), pathRow);
  form->addRow(QStringLiteral("参数:"), param_);
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
    auto* dialog = new QFileDialog(this, windowTitle(), startFolder_, QString::fromUtf8(kFilter));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString& file) { path_->setText(file); });
    dialog->open();
  });
}

}  // namespace velmar
