// testpad [TITLE] [--screenshot FILE]: a small application for the File Saver's tests under a virtual X server.
// A text field and a file-name field; Ctrl+S saves the text to the file of that name (relative
// to the working directory). It reports on its standard output, one line each: "ACTIVE" when
// its window has become the active one (keys typed now reach it), "SAVED <name>" or
// "NOT SAVED <name>" after each Ctrl+S. With --screenshot it writes a picture of its window
// to FILE (PNG) after each Ctrl+S.
#include <QApplication>
#include <QFile>
#include <QFormLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

namespace {

class TestPad : public QWidget {
 public:
  TestPad(const QString& title, const QString& screenshot) : screenshot_(screenshot) {
    setWindowTitle(title);
    auto* form = new QFormLayout;
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("text"));
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("fileName"));
    form->addRow(QStringLiteral("&Text:"), text_);
    form->addRow(QStringLiteral("&File name:"), name_);
    status_ = new QLabel(QStringLiteral("Ctrl+S saves the text to the file."), this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, &TestPad::Save);
    text_->setFocus();
  }

 protected:
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) Report("ACTIVE");
    QWidget::changeEvent(event);
  }

 private:
  void Save() {
    const QString name = name_->text();
    QFile file(name);
    const QByteArray bytes = text_->text().toUtf8();
    const bool ok = !name.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    file.write(bytes) == bytes.size() && file.flush();
    file.close();
    status_->setText(ok ? QStringLiteral("Saved to %1.").arg(name) : QStringLiteral("Cannot save to \"%1\".").arg(name));
    if (!screenshot_.isEmpty()) grab().save(screenshot_, "PNG");
    Report(QStringLiteral("%1 %2").arg(ok ? QStringLiteral("SAVED") : QStringLiteral("NOT SAVED"), name).toUtf8());
  }

  static void Report(const QByteArray& line) {
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
  }

  QLineEdit* text_;
  QLineEdit* name_;
  QLabel* status_;
  QString screenshot_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString title = QStringLiteral("Test Pad");
  QString screenshot;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == QStringLiteral("--screenshot") && i + 1 < args.size()) screenshot = args[++i];
    else title = args[i];
  }
  TestPad pad(title, screenshot);
  pad.setGeometry(120, 140, 420, 130);
  pad.show();
  pad.activateWindow();
  return app.exec();
}
