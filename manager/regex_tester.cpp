#include "manager/regex_tester.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

#include "manager/manager_texts.h"
#include "regex/named_regex.h"
#include "ui/qt_text.h"

namespace velmar {

RegexTester::RegexTester(const CodePage& cp, QWidget* parent)
    : QDialog(parent),
      cp_(cp),
      content_(new QPlainTextEdit(this)),
      pattern_(new QLineEdit(this)),
      result_(new QPlainTextEdit(this)),
      test_(new QPushButton(QString::fromUtf8(manager_text::kTesterRun), this)),
      close_(new QPushButton(QString::fromUtf8(manager_text::kClose), this)) {
  setWindowTitle(QString::fromUtf8(manager_text::kTesterTitle));
  pattern_->setMaxLength(kMaxChars);
  content_->setLineWrapMode(QPlainTextEdit::NoWrap);
  result_->setLineWrapMode(QPlainTextEdit::NoWrap);
  result_->setReadOnly(true);
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QString::fromUtf8(manager_text::kTesterText), this), 0, 0, Qt::AlignTop);
  grid->addWidget(content_, 0, 1);
  grid->addWidget(new QLabel(QString::fromUtf8(manager_text::kTesterPattern), this), 1, 0);
  grid->addWidget(pattern_, 1, 1);
  grid->addWidget(new QLabel(QString::fromUtf8(manager_text::kTesterResult), this), 2, 0, Qt::AlignTop);
  grid->addWidget(result_, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(test_);
  buttons->addWidget(close_);
  grid->addLayout(buttons, 3, 0, 1, 2);
  grid->setRowStretch(0, 1);
  grid->setRowStretch(2, 1);
  test_->setDefault(true);
  resize(480, 400);
  connect(test_, &QPushButton::clicked, this, &RegexTester::test);
  connect(close_, &QPushButton::clicked, this, &QDialog::close);
}

QPoint RegexTester::Placement(QPoint cursor, QSize size, QRect screen) {
  int x = std::min(cursor.x(), screen.right() + 1 - size.width());
  int y = std::min(cursor.y(), screen.bottom() + 1 - kBottomMargin - size.height());
  // A window larger than the screen keeps its top-left corner visible.
  x = std::max(x, screen.left());
  y = std::max(y, screen.top());
  return {x, y};
}

void RegexTester::test() {
  const std::string report = RegexTesterText(cp_, FromQString(pattern_->text(), cp_),
                                             FromQString(content_->toPlainText(), cp_));
  // The report separates its lines with CR LF; the field shows LF lines.
  QString shown = ToQString(report, cp_);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result_->setPlainText(shown);
}

}  // namespace velmar
