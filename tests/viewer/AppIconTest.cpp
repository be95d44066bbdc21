// The window icon: the desktop theme's first, then the installed hicolor
// images when Qt has no theme, then the painted envelope.
#include "AppIcon.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kInstalledPng = QStringLiteral(CORVANTA_SAMPLES "/../desktop/icons/corvanta-viewer-48.png");

// A data folder laid out as the package installs it, with the 48 px image.
void InstallIcon(const QString& dataDir)
{
    const QString apps = dataDir + QStringLiteral("/icons/hicolor/48x48/apps");
    QVERIFY(QDir().mkpath(apps));
    QVERIFY(QFile::copy(kInstalledPng, apps + QStringLiteral("/corvanta-viewer.png")));
}

QIcon Painted()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::red);
    return QIcon(pm);
}

} // namespace

class AppIconTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;

    void UseDataDir(const QString& dir)
    {
        qputenv("XDG_DATA_DIRS", dir.toLocal8Bit());
        qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toLocal8Bit());
        QIcon::setThemeSearchPaths({dir + QStringLiteral("/icons")});
    }

private slots:
    void fallsBackToThePaintedIconWhenNothingIsInstalled()
    {
        QTemporaryDir empty;
        UseDataDir(empty.path());
        QIcon::setThemeName(QString());
        const QIcon fallback = Painted();
        QCOMPARE(AppIcon(fallback).cacheKey(), fallback.cacheKey());
        // Wayland finds the icon through the desktop entry this names.
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("corvanta-viewer"));
    }

    void takesTheHicolorImagesWithoutAnIconTheme()
    {
        QTemporaryDir data;
        InstallIcon(data.path());
        UseDataDir(data.path());
        QIcon::setThemeName(QString());
        const QIcon fallback = Painted();
        const QIcon icon = AppIcon(fallback);
        QVERIFY(icon.cacheKey() != fallback.cacheKey());
        QVERIFY(icon.availableSizes().contains(QSize(48, 48)));
        // The installed envelope, not the red stand-in.
        const QImage image = icon.pixmap(48, 48).toImage();
        QCOMPARE(image.pixelColor(24, 33), QColor(253, 172, 83));
    }

    void prefersTheDesktopTheme()
    {
        QTemporaryDir data;
        InstallIcon(data.path());
        QFile index(data.path() + QStringLiteral("/icons/hicolor/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
                    "[48x48/apps]\nSize=48\nContext=Applications\nType=Threshold\n");
        index.close();
        UseDataDir(data.path());
        QIcon::setThemeName(QStringLiteral("hicolor"));
        QCOMPARE(AppIcon(Painted()).name(), QStringLiteral("corvanta-viewer"));
    }
};

QTEST_MAIN(AppIconTest)
#include "AppIconTest.moc"
