#pragma once
// One scan's window: a busy indicator, the path being examined (home as "~",
// elided in the middle), "Found N transfers." (hidden at 0) and Cancel. The
// close box cancels too; the window closes itself when the scan stops.

#include <QWidget>

class QLabel;

namespace vantorel {

class TScanner;
class ElidedLabel;

class ScannerWindow : public QWidget {
public:
  explicit ScannerWindow(TScanner& scanner);
  ~ScannerWindow() override;

  void SetPath(const QString& path);
  void SetResults(const QString& results);
  // The scan has stopped: the window goes (without cancelling anything).
  void Finish();

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  TScanner& scanner_;
  ElidedLabel* pathField_;
  QLabel* resultsField_;
  bool finished_ = false;
};

}  // namespace vantorel
