#pragma once
// The look the program's windows share: one sans font (Liberation Sans where
// the system has it) and plain coloured backgrounds.
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>

inline QFont SansFont(double size, bool pixels, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    if (pixels)
        f.setPixelSize(static_cast<int>(size));
    else
        f.setPointSizeF(size);
    f.setBold(bold);
    return f;
}

inline void FillBackground(QWidget* w, const QColor& color)
{
    w->setAutoFillBackground(true);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, color);
    p.setColor(QPalette::Base, color);
    w->setPalette(p);
}
