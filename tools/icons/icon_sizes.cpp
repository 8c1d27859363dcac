// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-icons OUT: writes the window's icon as OUT/<n>x<n>/apps/velmora.png at the sizes
// desktops look for, to be installed under share/icons/hicolor.
#include <QDir>
#include <QImage>
#include <cstdio>

#include "window/icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: velmora-icons OUT-FOLDER\n", stderr);
    return 2;
  }
  for (int size : {16, 32, 48, 64, 128, 256}) {
    const QString folder =
        QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    const QString file = folder + QStringLiteral("/velmora.png");
    if (!QDir().mkpath(folder) || !window::app_icon_at(size).save(file, "PNG")) {
      std::fprintf(stderr, "velmora-icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
