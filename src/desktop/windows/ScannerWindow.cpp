#include "desktop/windows/ScannerWindow.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "desktop/helpers/WidgetHelpers.h"
#include "shell/Scanner.h"

namespace vantorel {

// A one-line label that elides its text in the middle to fit.
class ElidedLabel : public QLabel {
public:
  using QLabel::QLabel;
  void SetFullText(const QString& text) {
    full_ = text;
    setToolTip(PlainToolTip(text));
    Fit();
  }
  QString FullText() const { return full_; }

protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Fit();
  }

private:
  void Fit() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, std::max(40, width()))); }
  QString full_;
};

ScannerWindow::ScannerWindow(TScanner& scanner) : scanner_(scanner) {
  setObjectName(QStringLiteral("scannerWindow"));
  setWindowTitle(QStringLiteral("Scanning for Transfers"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(420, 120);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 12);
  auto* row = new QHBoxLayout();
  auto* progressIndicator = new QProgressBar(this);
  progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
  progressIndicator->setRange(0, 0);  // busy: it spins until the window goes
  progressIndicator->setFixedWidth(48);
  progressIndicator->setTextVisible(false);
  row->addWidget(progressIndicator, 0, Qt::AlignTop);
  auto* fields = new QVBoxLayout();
  pathField_ = new ElidedLabel(this);
  pathField_->setObjectName(QStringLiteral("pathField"));
  pathField_->setTextFormat(Qt::PlainText);  // a path, whatever it looks like
  pathField_->setMinimumWidth(200);
  resultsField_ = new QLabel(this);
  resultsField_->setObjectName(QStringLiteral("resultsField"));
  resultsField_->setTextFormat(Qt::PlainText);
  resultsField_->hide();
  fields->addWidget(pathField_);
  fields->addWidget(resultsField_);
  row->addLayout(fields, 1);
  layout->addLayout(row);
  layout->addStretch();
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  connect(cancel, &QPushButton::clicked, this, [this] { scanner_.Cancel(); });
  // Escape cancels, as in a dialog; the button has the focus, so Return
  // and Space do too.
  connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, cancel, &QPushButton::click);
  cancel->setAutoDefault(true);
  cancel->setFocus();
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
}

ScannerWindow::~ScannerWindow() = default;

void ScannerWindow::SetPath(const QString& path) { pathField_->SetFullText(path); }

void ScannerWindow::SetResults(const QString& results) {
  resultsField_->setText(results);
  resultsField_->setVisible(!results.isEmpty());
}

void ScannerWindow::Finish() {
  finished_ = true;
  close();
}

void ScannerWindow::closeEvent(QCloseEvent* event) {
  // Closed by the user while the walk goes on: that is a Cancel. The scan
  // keeps itself alive until its thread ends.
  if (!finished_) scanner_.Cancel();
  event->accept();
}

}  // namespace vantorel
