#pragma once
// The update portal: asks the maker's portal for news about an update and
// shows a page it answers with in a modal window. Nothing at all happens
// while "portalLevel" is absent or 0. An empty answer closes the window
// unseen; a failure says so in one line and closes it. Done stores the date
// sent with the next request ("previousPortalRequest"); Remind Me Later
// does not. One window at a time.

#include <QDialog>

#include <optional>
#include <string>

#include "units/runtime/AbsoluteTime.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTextBrowser;

namespace vantorel {

inline constexpr const char* kPreferenceKeyPortalLevel = "portalLevel";
inline constexpr const char* kPreferenceKeyPreviousPortalRequest = "previousPortalRequest";

// The request's address: the endpoint, then sender, mode, size, appstore,
// level, and the previous request's seconds since 1970 when there was one;
// at most 255 bytes.
std::string PortalRequestAddress(const std::string& endpoint, const std::string& bundleName, const std::string& mode,
                                 double width, double height, std::int64_t level,
                                 std::optional<AbsoluteTime> previousRequest);

class UpdatePortalWindow : public QDialog {
public:
  // The window of the check running now, or null.
  static UpdatePortalWindow* Shared();
  // Whether checking means anything: a portal address and a "portalLevel"
  // other than 0. (Check for Updates is offered only then: a menu item that
  // does nothing misleads.)
  static bool IsConfigured(const std::string& endpoint);
  // Starts a check, unless one runs; false when nothing was asked for
  // ("portalLevel" absent or 0, or a check already running).
  static bool CheckForUpdates(const std::string& endpoint, int timeoutMilliseconds = 20000);

  // The largest body taken from the portal.
  static constexpr qint64 kLargestPage = 1 << 20;

protected:
  explicit UpdatePortalWindow(QWidget* parent = nullptr);
  ~UpdatePortalWindow() override;

private:
  bool Start(const std::string& address, int timeoutMilliseconds);
  void Finished();

  QNetworkAccessManager* network_;
  QNetworkReply* reply_ = nullptr;
  QTextBrowser* portalView_;
  std::string address_;
};

}  // namespace vantorel
