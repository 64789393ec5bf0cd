#include "desktop/popover/FileIcons.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

#include "units/fs/FileObjectUtilities.h"

namespace vantorel {

namespace {
// The folders icon themes are installed in, by the XDG rules.
QStringList XdgIconFolders() {
  QStringList folders;
  const QByteArray home = qgetenv("XDG_DATA_HOME");
  folders << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : QString::fromLocal8Bit(home)) +
                 QStringLiteral("/icons");
  const QByteArray dirs = qgetenv("XDG_DATA_DIRS");
  for (const QString& dir : QString::fromLocal8Bit(dirs.isEmpty() ? QByteArray("/usr/local/share:/usr/share") : dirs)
                                .split(QLatin1Char(':'), Qt::SkipEmptyParts))
    folders << dir + QStringLiteral("/icons");
  return folders;
}
}  // namespace

void PrepareIconThemes() {
  static const bool done = [] {
    // Without a desktop session's platform theme Qt may know no theme at
    // all, or only "hicolor", which has no MIME or action icons: the XDG
    // folders are searched, and a complete theme stands behind it when one
    // is installed.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& folder : XdgIconFolders())
      if (!paths.contains(folder) && QDir(folder).exists()) paths << folder;
    if (QIcon::themeName().isEmpty()) QIcon::setThemeName(QStringLiteral("hicolor"));
    if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
      for (const QString& path : paths)
        if (QDir(path + QStringLiteral("/Adwaita")).exists()) {
          QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
          break;
        }
    // Setting the paths also drops every theme Qt has read so far: one read
    // before the fallback was set (a file panel asks for icons before
    // anything of ours does) would keep looking without it.
    QIcon::setThemeSearchPaths(paths);
    return true;
  }();
  (void)done;
}

namespace {
QIcon Themed(const QString& name, const QString& generic) {
  PrepareIconThemes();
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
