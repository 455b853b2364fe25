#pragma once
// "正则表达式测试": runs an expression over a text as a script's `match`
// does and shows the same report as `velmar regex`.

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace velmar {

class CodePage;

class RegexTester : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMaxChars = 100000000;
  // Room kept free below the window (a task bar).
  static constexpr int kBottomMargin = 30;

  RegexTester(const CodePage& cp, QWidget* parent = nullptr);

  // Where a window of `size` opens at `cursor` so that it stays inside
  // `screen` with kBottomMargin free below it.
  static QPoint Placement(QPoint cursor, QSize size, QRect screen);

  void test();
  QPlainTextEdit* contentField() const { return content_; }
  QLineEdit* patternField() const { return pattern_; }
  QPlainTextEdit* resultField() const { return result_; }
  QPushButton* testButton() const { return test_; }
  QPushButton* closeButton() const { return close_; }

 private:
  const CodePage& cp_;
  QPlainTextEdit* content_;
  QLineEdit* pattern_;
  QPlainTextEdit* result_;
  QPushButton* test_;
  QPushButton* close_;
};

}  // namespace velmar
