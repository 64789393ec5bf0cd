#pragma once
// Whether the panel is dark: "AppleInterfaceStyle" in the program's own
// preferences when a user stored one (vantorel-defaults), else the desktop's
// colour scheme (the settings portal's org.freedesktop.appearance
// color-scheme, 1 meaning dark), else light. The windows follow it (a dark
// palette while dark); a change of either posts the theme notification.
// Main thread only.

#include <QObject>

#include <cstdint>
#include <optional>

class QDBusVariant;

namespace vantorel {

class Appearance : public QObject {
  Q_OBJECT

public:
  explicit Appearance(QObject* parent = nullptr);
  ~Appearance() override;

  bool IsDark() const;
  // The appearance the last Appearance applied (light before any): what the
  // popover and the menus it makes take their palette from. Main thread.
  static bool CurrentIsDark();

private slots:
  void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
  void SetPortalScheme(const QVariant& value);
  void Changed();
  // Every window follows: a dark palette for the application while dark,
  // the platform's own again when light.
  void Apply();

  std::optional<bool> portalDark_;
  std::uint64_t preferenceObserver_ = 0;
};

}  // namespace vantorel
