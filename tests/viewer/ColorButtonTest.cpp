// The colour button: click, toggle and group rules, the painted looks,
// auto-size and bitmap tiling, read back from grabbed images.
#include "TestImages.h"
#include "TkelColorButton.h"

#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

namespace {

QImage Grab(TkelColorButton& b) { return b.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The caption of a wrapped button drawn in black where the button draws it,
// on a canvas large enough that nothing of it is cut.
int UncutCaptionPixels(const TkelColorButton& b, bool moved)
{
    QImage canvas(b.width() + 200, b.height() + 200, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter p(&canvas);
    p.setFont(b.font());
    p.setPen(Qt::black);
    QRect text(QPoint(b.MarginHorizontal(), b.MarginVertical()),
               QPoint(b.width() - b.MarginHorizontal() - 1, b.height() - b.MarginVertical() - 1));
    text.translate(100 + moved, 100 + moved);
    p.drawText(text, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic | Qt::TextDontClip,
               b.Caption());
    p.end();
    return DarkPixels(canvas);
}

} // namespace

class ColorButtonTest : public QObject {
    Q_OBJECT
private slots:
    void plainButtonNeverStaysDown()
    {
        QWidget parent;
        TkelColorButton b(&parent);
        QSignalSpy clicks(&b, &TkelColorButton::onclick);
        parent.show();
        QTest::mouseClick(&b, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicks.count(), 1);
        QVERIFY(!b.Down());
        QVERIFY(!b.Pressed());

        // Released outside: no click, and the pressed look ends.
        b.resize(40, 20);
        b.SetColor(QColor(253, 172, 83));
        QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(b.Pressed());
        QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(clicks.count(), 1);
        QVERIFY(!b.Pressed());
        QCOMPARE(Grab(b).pixelColor(20, 3), QColor(253, 172, 83));
    }

    void keyboardClicksAndDisabledKeepsItsColours()
    {
        QWidget parent;
        TkelColorButton b(&parent);
        b.setFocusPolicy(Qt::StrongFocus);
        b.resize(80, 24);
        b.SetCaption(QStringLiteral("WWWWWW"));
        QPalette pal = b.palette();
        pal.setColor(QPalette::Active, QPalette::WindowText, QColor(0, 0, 0));
        pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(190, 190, 190));
        pal.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0, 0, 0));
        b.setPalette(pal);
        b.SetColor(QColor(192, 192, 192));
        QSignalSpy clicks(&b, &TkelColorButton::onclick);
        parent.show();
        b.setFocus();
        QTest::keyClick(&b, Qt::Key_Space);
        QTest::keyClick(&b, Qt::Key_Return);
        QCOMPARE(clicks.count(), 2);
        b.clearFocus();
        // The caption of a disabled button stays black on silver.
        auto darkPixels = [&] { return DarkPixels(Grab(b)); };
        const int enabled = darkPixels();
        QVERIFY(enabled > 20);
        b.setEnabled(false);
        QCOMPARE(darkPixels(), enabled);
    }

    void groupsAndAllowAllUp()
    {
        QWidget parent;
        TkelColorButton a(&parent), b(&parent), other(&parent);
        for (auto* x : {&a, &b})
            x->SetGroupIndex(1);
        other.SetGroupIndex(2);
        other.SetDown(true);
        parent.show();
        a.Click();
        QVERIFY(a.Down());
        a.Click(); // without AllowAllUp a down button stays down
        QVERIFY(a.Down());
        b.Click();
        QVERIFY(b.Down());
        Grab(b); // the group learns of the new down button when it paints
        QVERIFY(!a.Down());
        QVERIFY(other.Down()); // another group is not touched

        b.SetAllowAllUp(true);
        b.Click();
        QVERIFY(!b.Down());
        a.SetDown(true); // setting Down tells the group at once
        b.Click();
        b.SetDown(true);
        QVERIFY(!a.Down());
    }

    void paintsEachLook()
    {
        QWidget parent;
        TkelColorButton b(&parent);
        b.resize(60, 30);
        b.SetColor(QColor(253, 172, 83));
        b.SetHotColor(QColor(0, 128, 255));
        b.SetDownColor(QColor(0, 0, 128));
        parent.show();
        // Flat, not hot: the colour, no frame.
        QImage img = Grab(b);
        QCOMPARE(img.pixelColor(30, 3), QColor(253, 172, 83));
        QCOMPARE(img.pixelColor(0, 0), QColor(253, 172, 83));
        // Not flat: raised frame, white top-left, grey bottom-right.
        b.SetFlat(false);
        img = Grab(b);
        QCOMPARE(img.pixelColor(0, 10), QColor(255, 255, 255));
        QCOMPARE(img.pixelColor(59, 10), QColor(128, 128, 128));
        QCOMPARE(img.pixelColor(30, 29), QColor(128, 128, 128));
        // Hot: the hot colour.
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(&b, &enter);
        QVERIFY(b.Hot());
        img = Grab(b);
        QCOMPARE(img.pixelColor(30, 3), QColor(0, 128, 255));
        // Hot without hot tracking: normal colours with a raised frame.
        b.SetFlat(true);
        b.SetHotTrack(false);
        img = Grab(b);
        QCOMPARE(img.pixelColor(30, 3), QColor(253, 172, 83));
        QCOMPARE(img.pixelColor(0, 10), QColor(255, 255, 255));
        // Down: the down colour and a sunken frame.
        b.SetDown(true);
        img = Grab(b);
        QCOMPARE(img.pixelColor(30, 3), QColor(0, 0, 128));
        QCOMPARE(img.pixelColor(0, 10), QColor(128, 128, 128));
        QCOMPARE(img.pixelColor(59, 10), QColor(255, 255, 255));
        // Disabled paints the same.
        b.setEnabled(false);
        QCOMPARE(Grab(b).pixelColor(30, 3), QColor(0, 0, 128));
    }

    void autoSizeGrowsAndNeverShrinks()
    {
        QWidget parent;
        TkelColorButton b(&parent);
        b.resize(30, 22);
        b.SetCaption(QStringLiteral("A rather long caption"));
        parent.show();
        Grab(b);
        const int textWidth = QFontMetrics(b.font()).size(Qt::TextSingleLine, b.Caption()).width();
        QCOMPARE(b.width(), textWidth + 2 * b.MarginHorizontal());
        b.SetCaption(QStringLiteral("x"));
        Grab(b);
        QCOMPARE(b.width(), textWidth + 2 * b.MarginHorizontal());
    }

    // Black captions on white in every look, so that whatever is cut off
    // shows as missing dark pixels.
    void wrappedCaptionIsNeverCut_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("width");
        QTest::newRow("descenders of the last line") << QStringLiteral("Jumping gypsy quickly") << 70;
        QTest::newRow("one word wider than the button") << QStringLiteral("Supercalifragilistic") << 40;
    }

    void wrappedCaptionIsNeverCut()
    {
        QFETCH(QString, caption);
        QFETCH(int, width);
        QWidget parent;
        TkelColorButton b(&parent);
        b.resize(width, 10);
        b.SetWordWrap(true);
        b.SetCaption(caption);
        QPalette pal = b.palette();
        pal.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
        b.setPalette(pal);
        for (const QColor& c : {QColor(Qt::white)}) {
            b.SetColor(c);
            b.SetHotColor(c);
            b.SetDownColor(c);
        }
        b.SetHotFontColor(Qt::black);
        b.SetDownFontColor(Qt::black);
        parent.show();
        Grab(b); // grows
        QVERIFY(b.width() >= width);
        const int normal = DarkPixels(Grab(b));
        QVERIFY(normal > 30);
        QCOMPARE(normal, UncutCaptionPixels(b, false));
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(&b, &enter);
        QCOMPARE(DarkPixels(Grab(b)), normal);
        b.SetDown(true);
        QCOMPARE(DarkPixels(Grab(b)), UncutCaptionPixels(b, true));
    }

    void bitmapTilesInEveryLook()
    {
        QWidget parent;
        TkelColorButton b(&parent);
        b.resize(25, 12);
        QImage tile(10, 10, QImage::Format_RGB32);
        tile.fill(QColor(10, 200, 10));
        tile.setPixelColor(0, 0, QColor(200, 0, 0)); // marks each tile's corner
        b.SetBackBitmap(QPixmap::fromImage(tile));
        b.SetFlat(true);
        b.SetMarginVertical(0); // so that the empty caption does not grow it
        QFont small = b.font();
        small.setPixelSize(8);
        b.setFont(small);
        parent.show();
        Grab(b);
        QCOMPARE(b.size(), QSize(25, 12));
        for (bool down : {false, true}) {
            b.SetDown(down);
            const QImage img = Grab(b);
            int corners = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    corners += (img.pixel(x, y) & 0xFFFFFF) == 0xC80000u;
            // 3 columns x 2 rows of tiles; the down look's sunken frame
            // covers the top row and the left column, and so four corners.
            QVERIFY2(corners == (down ? 2 : 6),
                     qPrintable(QStringLiteral("%1 corners in %2x%3").arg(corners).arg(img.width()).arg(img.height())));
            QCOMPARE(img.pixelColor(15, 5), QColor(10, 200, 10));
        }
    }

    void acceleratorClicksWhenEnabled()
    {
        QWidget parent;
        TkelColorButton b(&parent);
        b.SetCaption(QStringLiteral("&Attachments"));
        QSignalSpy clicks(&b, &TkelColorButton::onclick);
        parent.show();
        QVERIFY(QTest::qWaitForWindowActive(&parent) || true);
        QTest::keyClick(&parent, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
        b.setEnabled(false);
        QTest::keyClick(&parent, Qt::Key_A, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
    }
};

QTEST_MAIN(ColorButtonTest)
#include "ColorButtonTest.moc"
