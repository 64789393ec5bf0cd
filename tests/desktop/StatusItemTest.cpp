// The tray icon as it is rendered, checked pixel by pixel (offscreen).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QListView>
#include <QStringListModel>
#include <QEventLoop>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QPainter>

#include "desktop/helpers/WidgetHelpers.h"
#include "desktop/status/PanelProbe.h"
#include "desktop/status/ProgressWheelPainter.h"
#include "desktop/status/StatusItem.h"
#include "support/TempDir.h"
#include "units/net/NetworkReachability.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::TempDir;

class StatusItemTest : public ::testing::Test {
protected:
  void SetUp() override {
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist"));
    NSPrefs().SetInteger(kPreferenceKeyStatusItemIconSize, 20);
    NSPrefs().SetInteger(kPreferenceKeyStatusItemMode, 1);
  }
  void TearDown() override { TUserDefaults::SetStandard(nullptr); }
  // Keeps a rendered image beside the test for a person to look at: as it
  // is, and enlarged eight times on a light and on a dark panel.
  static void Keep(const QImage& image, const char* name) {
    QDir().mkpath(QStringLiteral("artefacts"));
    image.save(QStringLiteral("artefacts/%1.png").arg(QLatin1String(name)));
    const int side = image.width() * 8;
    QImage preview(side * 2, side, QImage::Format_RGB32);
    QPainter painter(&preview);
    painter.fillRect(0, 0, side, side, QColor(0xe8, 0xe8, 0xe8));
    painter.fillRect(side, 0, side, side, QColor(0x2b, 0x2b, 0x2b));
    QImage plain = image;
    plain.setDevicePixelRatio(1);
    const QImage big = plain.scaled(side, side, Qt::KeepAspectRatio, Qt::FastTransformation);
    painter.drawImage(0, 0, big);
    painter.drawImage(side, 0, big);
    painter.end();
    preview.save(QStringLiteral("artefacts/%1-preview.png").arg(QLatin1String(name)));
  }
  // The pixel at (x, y) in points.
  static QColor At(const QImage& image, qreal x, qreal y) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio));
  }
  static int MaxAlpha(const QImage& image) {
    int most = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) most = std::max(most, image.pixelColor(x, y).alpha());
    return most;
  }
  TempDir dir;
  bool dark = false;
};

TEST_F(StatusItemTest, TheProgressPieFillsAQuarterFromTwelveToThree) {
  StatusItem item([this] { return dark; });
  item.View().TrackerStatusChanged(1, 9, 12, 3);
  const QImage image = item.Render();
  Keep(image, "pie-quarter");
  ASSERT_EQ(image.width(), static_cast<int>(20 * image.devicePixelRatio()));
  // The wheel is 16 points, centred: its middle is at (10, 10), radius 8.
  const QColor grey = ToQColor(kWheelDarkGrey);
  EXPECT_EQ(At(image, 13, 7).rgb(), grey.rgb()) << "inside the wedge, upper right";
  EXPECT_EQ(At(image, 7, 7).alpha(), 0) << "upper left: clear";
  EXPECT_EQ(At(image, 13, 13).alpha(), 0) << "lower right: clear";
  EXPECT_EQ(At(image, 7, 13).alpha(), 0) << "lower left: clear";
  EXPECT_GT(At(image, 2.6, 10).alpha(), 128) << "the ring, at the left edge of the wheel";
  EXPECT_EQ(At(image, 0.5, 10).alpha(), 0) << "nothing outside the wheel";
}

TEST_F(StatusItemTest, ArtworkIsDimmedByReachabilityAndFullWhenLight) {
  NSPrefs().SetInteger(kPreferenceKeyStatusItemMode, 0);
  StatusItem item([this] { return dark; });
  item.View().TrackerStatusChanged(1, 1, 1, 0);
  const QImage normal = item.Render();
  Keep(normal, "upload-light-panel");
  const int expected = GetNetworkReachability() != 0 ? 191 : 51;  // 0.75 or 0.2 of opaque
  EXPECT_NEAR(MaxAlpha(normal), expected, 3);
  dark = true;
  item.InterfaceThemeChanged();
  const QImage light = item.Render();
  Keep(light, "upload-dark-panel");
  EXPECT_EQ(MaxAlpha(light), 255);
  EXPECT_NE(normal, light);
  item.View().TrackerStatusChanged(2, 0, 0, 0);
  Keep(item.Render(), "sync-dark-panel");
  item.View().TrackerStatusChanged(0, 0, 0, 0);
  Keep(item.Render(), "idle-dark-panel");
}

TEST_F(StatusItemTest, TheTrayGetsANewIconOnlyWhenItsPixelsChange) {
  StatusItem item([this] { return dark; });
  const auto settle = [] {
    // Longer than the hand-over throttle.
    QEventLoop wait;
    QTimer::singleShot(600, &wait, &QEventLoop::quit);
    wait.exec();
  };
  item.ModeChanged();
  settle();
  const qint64 first = item.Tray()->icon().cacheKey();
  item.ModeChanged();  // nothing that shows has changed
  settle();
  EXPECT_EQ(item.Tray()->icon().cacheKey(), first) << "the same pixels handed over again";
  item.View().TrackerStatusChanged(1, 9, 12, 3);
  item.ModeChanged();
  settle();
  EXPECT_NE(item.Tray()->icon().cacheKey(), first);
  EXPECT_EQ(item.HandedOverImage(), item.Render());
}

TEST_F(StatusItemTest, ASizeWithoutArtworkShowsThePie) {
  NSPrefs().SetInteger(kPreferenceKeyStatusItemMode, 0);
  NSPrefs().SetInteger(kPreferenceKeyStatusItemIconSize, 28);
  StatusItem item([this] { return dark; });
  item.View().TrackerStatusChanged(1, 1, 1, 0);
  const QImage image = item.Render();
  Keep(image, "no-artwork-28");
  EXPECT_FALSE(item.View().Wheel().HasAlternateImage());
  EXPECT_GT(At(image, 14 - 8 + 0.6, 14).alpha(), 128);  // the ring of a wheel centred in 28
}

TEST_F(StatusItemTest, TheWindowsHelpersAnswerAsTheirCallersExpect) {
  const Alert alert = alertWithMessage("No transfers currently in progress were found.");
  EXPECT_EQ(alert.informative, "");
  EXPECT_EQ(alert.buttons, std::vector<std::string>{"Ok"});
  QStringListModel model(QStringList{"a", "b", "c", "d", "e", "f"});
  QListView list;
  list.setModel(&model);
  list.setSelectionMode(QAbstractItemView::MultiSelection);
  EXPECT_TRUE(selectedRows(list).empty());
  list.selectionModel()->select(model.index(5), QItemSelectionModel::Select);
  list.selectionModel()->select(model.index(2), QItemSelectionModel::Select);
  EXPECT_EQ(selectedRows(list), (std::vector<std::int32_t>{2, 5}));
  StatusItem item([this] { return dark; });
  EXPECT_EQ(&trackingView(item), &item.View());
}

TEST_F(StatusItemTest, ABadIconSizeIsKeptInRange) {
  NSPrefs().SetInteger(kPreferenceKeyStatusItemIconSize, -3);
  StatusItem small([this] { return dark; });
  EXPECT_EQ(small.IconSize(), kSmallestStatusItemIconSize);
  NSPrefs().SetString(kPreferenceKeyStatusItemIconSize, "huge");
  StatusItem typed([this] { return dark; });
  EXPECT_EQ(typed.IconSize(), 20);
}

// The panel's colour is read at the corners of the icon's slot, where the
// icon leaves it visible; a glyph reaching into one corner is outvoted.
TEST(PanelProbe, ThePanelColourIsTheMostCommonAtTheSlotsCorners) {
  QImage slot(24, 24, QImage::Format_RGB32);
  slot.fill(QColor(0x30, 0x30, 0x30));
  QPainter painter(&slot);
  painter.fillRect(QRect(4, 4, 16, 16), Qt::white);  // the icon
  painter.fillRect(QRect(0, 0, 2, 2), Qt::white);    // reaching into a corner
  painter.end();
  const auto colour = BackgroundOfSlot(slot);
  ASSERT_TRUE(colour);
  EXPECT_EQ(*colour, (PanelColour{0x30 / 255.0, 0x30 / 255.0, 0x30 / 255.0}));
  EXPECT_TRUE(UseLightGlyph(StatusItemAppearance::Automatic, {std::nullopt, colour}));
  EXPECT_EQ(BackgroundOfSlot(QImage()), std::nullopt);
  // Offscreen there is no X11 tray to ask: nothing is told.
  EXPECT_EQ(ReadPanelFacts(QRect(0, 0, 24, 24)), PanelFacts{});
}

}  // namespace
}  // namespace vantorel
