#pragma once
// Downloads the list of help articles while the help menu is open: one
// request with a 20-second time-out, the body saved to the user's cache
// and read back as articles. Close() ends it whatever its state; nothing is
// reported after that. A request that fails (no connection, an HTTP error,
// a time-out) is written to the diagnostic output and reported as failed, as
// is a body that is not a list of articles; an empty body reports nothing.
// Main thread only.

#include <QNetworkReply>
#include <QObject>
#include <QPointer>

#include <functional>

#include "desktop/popover/HelpArticles.h"

namespace vantorel {

class HelpCenter : public QObject {
public:
  static constexpr int kTimeout = 20000;  // milliseconds

  struct Delegate {
    std::function<void()> didLoad;  // saved, about to be read
    std::function<void(const HelpArticle&)> didReceiveArticle;
    std::function<void()> failed;   // not downloaded, not a list, or could not be saved
  };

  HelpCenter(const QString& address, Delegate delegate, QObject* parent);
  ~HelpCenter() override;

  void Close();
  bool IsLoading() const { return reply_ != nullptr; }

private:
  void Finished();

  Delegate delegate_;
  QPointer<QNetworkReply> reply_;
};

}  // namespace vantorel
