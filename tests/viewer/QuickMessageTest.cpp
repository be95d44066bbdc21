// The quick message: modal and modeless closing rules, layout by size and
// title, the hint and the animation strip.
#include "MessageStrings.h"
#include "TQuickMessage.h"

#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

class QuickMessageTest : public QObject {
    Q_OBJECT
private:
    // Runs action on the modal message as soon as it shows.
    void WhenShown(std::function<void(TQuickMessage*)> action)
    {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, action] {
            if (QuickMessage && QuickMessage->isVisible()) {
                poll->stop();
                poll->deleteLater();
                action(QuickMessage);
            }
        });
        poll->start(10);
    }

private slots:
    void modalClosesOnKeysClicksAndButtonButNotOnTheTimer_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("enter") << 0;
        QTest::newRow("escape") << 1;
        QTest::newRow("click on text") << 2;
        QTest::newRow("click on title") << 3;
        QTest::newRow("close button") << 4;
    }

    void modalClosesOnKeysClicksAndButtonButNotOnTheTimer()
    {
        QFETCH(int, how);
        bool survivedTimer = false;
        WhenShown([&, how](TQuickMessage* q) {
            QTest::qWait(120); // several ticks of a 20 ms timer
            survivedTimer = q->isVisible();
            switch (how) {
            case 0:
                QTest::keyClick(q->Memo2, Qt::Key_Return);
                break;
            case 1:
                QTest::keyClick(q->Memo2, Qt::Key_Escape);
                break;
            case 2:
                QTest::mouseClick(q->Memo1->viewport(), Qt::LeftButton);
                break;
            case 3:
                QTest::mouseClick(q->Label1, Qt::LeftButton);
                break;
            default:
                q->Button1->click();
            }
        });
        ShowQuickMessage(QStringLiteral("Title"), QStringLiteral("Text"), 20, true, false, 10, 0);
        QVERIFY(survivedTimer);
        QCOMPARE(QuickMessage, nullptr); // destroyed after the modal show
    }

    void modelessClosesOnTimerAndOnDeactivation()
    {
        ShowQuickMessage(QStringLiteral("Processing message "), QStringLiteral("Processing mail message, please wait..."),
                         50, false, true, 12, 1);
        TQuickMessage* q = QuickMessage;
        QVERIFY(q && q->isVisible());
        QVERIFY(q->AutoClose);
        QTRY_VERIFY_WITH_TIMEOUT(!q->isVisible(), 2000);
        QCOMPARE(QuickMessage, q); // hidden, not destroyed

        ShowQuickMessage(QStringLiteral("t"), QStringLiteral("x"), 60000, false, true, 10, 0);
        TQuickMessage* second = QuickMessage;
        QVERIFY(second != q && second->isVisible());
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(second, &deactivate);
        QVERIFY(!second->isVisible());
    }

    void layoutHintAndAnimation()
    {
        ShowQuickMessage(QStringLiteral("Note"), QStringLiteral("a\nb"), 60000, false, true, 14, 7);
        TQuickMessage* q = QuickMessage;
        QCOMPARE(q->size(), QSize(438, 300));
        QVERIFY(q->CompactLayout);
        QCOMPARE(q->windowTitle(), QStringLiteral("Corvanta v.3.0.5: Note"));
        QCOMPARE(q->Memo1->toPlainText(), QStringLiteral("a\nb"));
        QCOMPARE(q->Memo1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(q->Memo1->toolTip(), MessageStrings::Text(1, 103));
        QCOMPARE(q->Memo1->font().pointSize(), 14);
        QVERIFY(q->Animate1->isVisible() && q->Animate1->Active());
        QCOMPARE(q->Animate1->Clip(), 2); // an unknown clip keeps finding-a-file
        QVERIFY(!q->Panel1->isVisible());
        QCOMPARE(q->Button1->text(), QStringLiteral("Close"));
        q->close();

        ShowQuickMessage(QStringLiteral("Big"), QStringLiteral("left"), 60000, true, true, 10, 0);
        q = QuickMessage;
        QCOMPARE(q->size(), QSize(758, 550));
        QVERIFY(!q->CompactLayout);
        QVERIFY(q->Panel1->isVisible());
        QVERIFY(!q->Animate1->isVisible());
        QCOMPARE(q->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(q->Label1->isVisible() && !q->Image1->isVisible());
        q->close();

        ShowQuickMessage(QStringLiteral("About Corvanta"), QStringLiteral("x"), 60000, true, true, 10, 3);
        q = QuickMessage;
        QVERIFY(q->Image1->isVisible() && !q->Label1->isVisible());
        QVERIFY(q->CompactLayout);
        QCOMPARE(q->Animate1->Clip(), 3);
        q->close();
    }
};

QTEST_MAIN(QuickMessageTest)
#include "QuickMessageTest.moc"
