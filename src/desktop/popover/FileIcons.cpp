#include "desktop/popover/FileIcons.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

#include "units/fs/FileObjectUtilities.h"

namespace vantorel {

namespace {
// Outside a full desktop session Qt looks only in "hicolor", which has no
// MIME icons: a complete theme stands behind it when one is installed.
void EnsureFallbackTheme() {
  static const bool done = [] {
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
      for (const QString& path : QIcon::themeSearchPaths())
        if (QDir(path + QStringLiteral("/Adwaita")).exists()) {
          QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
          break;
        }
    return true;
  }();
  (void)done;
}

QIcon Themed(const QString& name, const QString& generic) {
  EnsureFallbackTheme();
  QIcon icon = QIcon::fromTheme(name);
  if (icon.isNull() && !generic.isEmpty()) icon = QIcon::fromTheme(generic);
  return icon;
}
}  // namespace

QIcon ThemeIcon(const QString& name) { return Themed(name, QString()); }

QIcon UnknownFileImage() {
  static const QIcon icon = [] {
    QIcon themed = Themed(QStringLiteral("text-x-generic"), QStringLiteral("unknown"));
    return themed.isNull() ? QApplication::style()->standardIcon(QStyle::SP_FileIcon) : themed;
  }();
  return icon;
}

QIcon CheckImage() {
  static const QIcon icon(QStringLiteral(":/popover/check.svg"));
  return icon;
}

QIcon FileIcon(const std::string& path) {
  static QHash<QString, QIcon> byType;
  static const QMimeDatabase database;
  const QMimeType type = isDirectory(path) && !isPackage(path)
                             ? database.mimeTypeForName(QStringLiteral("inode/directory"))
                             : database.mimeTypeForFile(QString::fromStdString(path), QMimeDatabase::MatchExtension);
  const QString key = type.name();
  if (auto it = byType.constFind(key); it != byType.constEnd()) return *it;
  QIcon icon = Themed(type.iconName(), type.genericIconName());
  if (icon.isNull()) icon = UnknownFileImage();
  byType.insert(key, icon);
  return icon;
}

}  // namespace vantorel
