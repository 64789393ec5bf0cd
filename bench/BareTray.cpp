// A bare Qt tray program with one icon: the yardstick for the memory of the
// tray face (scripts/bench-tray compares the two side by side).

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::gray);
  QSystemTrayIcon tray{QIcon(pixmap)};
  tray.show();
  return QApplication::exec();
}
