#include "AppIcon.h"

#include <QGuiApplication>
#include <QStandardPaths>

QIcon AppIcon(const QIcon& fallback)
{
    const QString name = QStringLiteral("corvanta-viewer");
    // Wayland desktops take a window's icon from its desktop entry, never from
    // the program; this names the entry for every window created from now on.
    QGuiApplication::setDesktopFileName(name);
    QIcon icon = QIcon::fromTheme(name);
    if (!icon.isNull())
        return icon;
    // Without a desktop session Qt often has no icon theme at all, yet the
    // package put its images into hicolor; take them from there directly.
    for (const char* size : {"16x16", "32x32", "48x48", "64x64", "128x128", "256x256"}) {
        const QString file = QStandardPaths::locate(
            QStandardPaths::GenericDataLocation,
            QStringLiteral("icons/hicolor/%1/apps/%2.png").arg(QLatin1String(size), name));
        if (!file.isEmpty())
            icon.addFile(file);
    }
    return icon.isNull() ? fallback : icon;
}
