// The string table, language files and the template file written at start-up.
#include "MessageStrings.h"
#include "TForm1.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class StringsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageStrings::Reset(); }
    void cleanupTestCase() { MessageStrings::Reset(); }

    void builtInTextsAndLayout()
    {
        const std::pair<std::pair<int, int>, const char*> entries[] = {
            {{1, 103}, "Click anywhere to close this window..."}, {{1, 225}, "Select + Add"},
            {{1, 226}, "Execute/Run"}, {{1, 227}, "Remove from List"}, {{1, 228}, "Save to Disk"},
            {{1, 229}, "Attached Files"}, {{1, 230}, "Close this Window"}, {{1, 235}, "Print"},
            {{1, 251}, "Select the Destination Folder"}, {{1, 307}, "Date"}, {{1, 363}, "&Close"},
            {{2, 10}, "Close"}, {{2, 31}, "Processing message "}, {{3, 32}, "Organization"},
            {{4, 15}, "Processing mail message, please wait..."}, {{4, 23}, "Attachments"}, {{4, 32}, "To"},
            {{4, 33}, "From"}, {{4, 34}, "Date"}, {{4, 37}, "Subject"}};
        for (const auto& [entry, text] : entries)
            QCOMPARE(MessageStrings::Bytes(entry.first, entry.second), std::string(text));
        for (auto [b, s] : {std::pair{1, 122}, {1, 239}, {1, 269}, {1, 321}, {1, 329}, {1, 333}, {1, 358},
                            {1, 359}, {2, 29}, {4, 14}})
            QVERIFY(MessageStrings::Bytes(b, s).empty());
        const int sizes[] = {9984, 93184, 8960, 11264, 13824};
        for (int b = 0; b < 5; ++b)
            QCOMPARE(MessageStrings::BlockImage(b).size(), sizes[b]);
        QCOMPARE(MessageStrings::Bytes(4, 54), std::string()); // past the block
        QCOMPARE(MessageStrings::Bytes(7, 0), std::string());
    }

    void languageFileReplacesItsBlock()
    {
        QTemporaryDir dir;
        QByteArray block(13824, '\0');
        block[23 * 256] = 8;
        block.replace(23 * 256 + 1, 8, "Anhaenge");
        block[34 * 256] = 5;
        block.replace(34 * 256 + 1, 5, "Datum");
        QFile f(dir.filePath(QStringLiteral("langdefmod4.dat")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(block);
        f.close();
        QStringList errors;
        MessageStrings::Initialize(dir.path(), QString(), [&](const QString& m) { errors << m; });
        QVERIFY(errors.isEmpty());
        TForm1 form(QString{});
        QCOMPARE(form.kelColorButton1->Caption(), QStringLiteral("&Anhaenge")); // the accelerator is added in code
        QCOMPARE(MessageStrings::Text(4, 23), QStringLiteral("Anhaenge"));
        QCOMPARE(MessageStrings::Bytes(4, 33), std::string()); // the file's empty slot wins too
        QCOMPARE(MessageStrings::Bytes(1, 235), std::string("Print"));

        // A second start-up request changes nothing.
        MessageStrings::Initialize(QStringLiteral("/nonexistent"), QString(), nullptr);
        QCOMPARE(MessageStrings::Bytes(4, 23), std::string("Anhaenge"));
    }

    void shortLanguageFileIsReportedAndIgnored()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("langdefmod1.dat")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100, 'x'));
        f.close();
        QStringList errors;
        MessageStrings::Initialize(dir.path(), QString(), [&](const QString& m) { errors << m; });
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0].startsWith(QStringLiteral("ERROR loading Language file \"langdefmod1.dat\"! File might be "
                                                     "corrupted, try downloading again from ")));
        QVERIFY(errors[0].endsWith(MessageStrings::DownloadAddress()));
        QCOMPARE(MessageStrings::Bytes(1, 235), std::string("Print"));
        QCOMPARE(MessageStrings::Bytes(1, 363), std::string("&Close"));
    }

    void writtenImageReadsBackAsALanguageFile()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("langdefmod2.dat")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(MessageStrings::BlockImage(2) + QByteArray("extra bytes are ignored"));
        f.close();
        QStringList errors;
        MessageStrings::Initialize(dir.path(), QString(), [&](const QString& m) { errors << m; });
        QVERIFY(errors.isEmpty());
        QCOMPARE(MessageStrings::Bytes(2, 31), std::string("Processing message "));
    }

    void templateIsWrittenOnceAndNeverOverwritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("project_template.txt"));
        MessageStrings::Initialize(dir.path(), QString(), nullptr);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray first = f.readAll();
        f.close();
        QCOMPARE(first, MessageStrings::ProjectTemplateBytes());
        QVERIFY(first.startsWith(QByteArray(76, '#') + "\r\n# Corvanta project information"));
        QVERIFY(first.contains("\r\n[SYSTEM] \r\n"));
        QVERIFY(first.contains("\r\nAccept_Subscribers = 1\r\n"));
        QVERIFY(first.endsWith("\r\n \r\n-----------\r\n"));
        QVERIFY(!first.contains("\n\n")); // every line ends in CR LF

        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("edited");
        f.close();
        MessageStrings::Reset();
        MessageStrings::Initialize(dir.path(), QString(), nullptr);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("edited"));
        f.close();

        QFile::remove(path);
        MessageStrings::Reset();
        MessageStrings::Initialize(dir.path(), QString(), nullptr);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), first);
    }

    void readOnlyFolderUsesTheFallback()
    {
        if (geteuid() == 0)
            QSKIP("root can write into any folder");
        QTemporaryDir dir, config;
        chmod(dir.path().toLocal8Bit().constData(), 0555);
        MessageStrings::Initialize(dir.path(), config.path(), nullptr);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("project_template.txt"))));
        QVERIFY(QFile::exists(config.filePath(QStringLiteral("project_template.txt"))));
        chmod(dir.path().toLocal8Bit().constData(), 0755);
    }
};

QTEST_MAIN(StringsTest)
#include "StringsTest.moc"
