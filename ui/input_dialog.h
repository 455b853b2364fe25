#pragma once
// The input dialog of `prompt`: the prompt's HTML above one line of answer,
// an OK button; always on top, placed at the bottom-right of the primary
// screen. It never waits itself: the answer (or the empty text for Esc and
// the close box) goes to the handler, and the host closes the dialog.

#include <QDialog>
#include <QTextBrowser>
#include <functional>

class QLineEdit;
class QPushButton;

namespace velmar {

// Shows the prompt's HTML; images are read from local files, written as
// paths with `/` or `\` or as file: URLs (a captcha saved by the script).
class PromptView : public QTextBrowser {
 public:
  explicit PromptView(QWidget* parent = nullptr);
  QVariant loadResource(int type, const QUrl& name) override;
};

class InputDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kBottomGap = 30;

  explicit InputDialog(const QString& html);
  // Gets the answer once: the text on OK or Enter, the empty text on Esc and
  // the close box.
  void setAnswerHandler(std::function<void(const QString&)> onAnswer) {
    onAnswer_ = std::move(onAnswer);
  }

  // Shows the dialog at its place, the answer field with the focus.
  void present();
  // Closes the dialog for good without giving an answer.
  void dismiss();

  QLineEdit* answerField() const { return answer_; }
  PromptView* view() const { return view_; }
  QPushButton* okButton() const { return ok_; }

 protected:
  void done(int result) override;

 private:
  PromptView* view_;
  QLineEdit* answer_;
  QPushButton* ok_;
  std::function<void(const QString&)> onAnswer_;
  bool dismissed_ = false;
};

}  // namespace velmar
