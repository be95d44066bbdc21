#pragma once
// Message files the viewer tests write into their temporary folders.
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

// Writes data into dir under name and returns the path; a test whose input
// cannot be written stops at once instead of failing later for no clear reason.
inline QString WriteTestFile(const QTemporaryDir& dir, const char* name, const QByteArray& data)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        qFatal("cannot write the test file %s", qPrintable(path));
    return path;
}
