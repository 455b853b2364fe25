#include "ui/input_dialog.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "ui/ui_texts.h"

namespace velmar {

PromptView::PromptView(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
}

QVariant PromptView::loadResource(int type, const QUrl& name) {
  if (type != QTextDocument::ImageResource) return QTextBrowser::loadResource(type, name);
  QString path = name.isLocalFile() ? name.toLocalFile() : name.toString();
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (path.startsWith(QLatin1String("file:"))) path = QUrl(path).toLocalFile();
  QImage image;
  if (QFileInfo(path).isFile() && image.load(path)) return image;
  return {};
}

InputDialog::InputDialog(const QString& html)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromUtf8(ui_text::kInputTitle));
  setAttribute(Qt::WA_DeleteOnClose, false);
  view_ = new PromptView(this);
  view_->setHtml(html);
  answer_ = new QLineEdit(this);
  ok_ = new QPushButton(QString::fromUtf8(ui_text::kInputOk), this);
  ok_->setDefault(true);
  ok_->setAutoDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(view_, 0, 0, 1, 2);
  layout->addWidget(answer_, 1, 0);
  layout->addWidget(ok_, 1, 1);
  layout->setRowStretch(0, 1);
  // 186 by 92 dialog units of the classic 8-point dialog font.
  resize(280, 150);
}

void InputDialog::present() {
  show();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    const QSize outer = frameGeometry().size();
    move(area.left() + area.width() - outer.width(),
         area.top() + area.height() - outer.height() - kBottomGap);
  }
  answer_->setFocus(Qt::OtherFocusReason);
}

void InputDialog::dismiss() {
  dismissed_ = true;
  hide();
  deleteLater();
}

void InputDialog::done(int result) {
  if (dismissed_) return;
  const QString answer = result == QDialog::Accepted ? answer_->text() : QString();
  // Stays up until the host closes it, so the answer goes exactly once.
  dismissed_ = true;
  if (onAnswer_) onAnswer_(answer);
}

}  // namespace velmar
