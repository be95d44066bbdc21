#include "EngineText.h"

#include <QDate>
#include <QLocale>
#include <QStringDecoder>
#include <QTime>

#include <cmath>

bool IsValidUtf8(std::string_view bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !decoder.hasError();
}

QString FromEngineBytes(std::string_view bytes)
{
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = decoder(view);
    if (!decoder.hasError())
        return s;
    return QString::fromLatin1(view);
}

QString DateTimeToStr(TDateTime value)
{
    const double days = std::floor(value);
    long long seconds = std::llround((value - days) * 86400.0);
    long long dayNumber = static_cast<long long>(days);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++dayNumber;
    }
    const QDate date = QDate(1899, 12, 30).addDays(dayNumber);
    const QLocale locale;
    QString text = locale.toString(date, QLocale::ShortFormat);
    if (seconds != 0) {
        // The long time format without a zone name: the value is local time.
        QString format = locale.timeFormat(QLocale::LongFormat);
        format.remove(QLatin1Char('t'));
        format = format.trimmed();
        text += QLatin1Char(' ') + locale.toString(QTime(0, 0).addSecs(static_cast<int>(seconds)), format);
    }
    return text;
}
