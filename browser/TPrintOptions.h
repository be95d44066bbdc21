#pragma once
// Print settings of the browser host: page header and footer (in the page
// setup's code language), margins, orientation and an HTML block printed
// ahead of the document.
#include <QStringList>

enum class TPrintOrientationOption { poPortrait = 0, poLandscape = 1 };

struct TMargins {
    double Left = 0;
    double Right = 0;
    double Top = 0;
    double Bottom = 0;
};

class TPrintOptions {
public:
    TPrintOptions() { HTMLHeader << QStringLiteral("<HTML></HTML>"); }
    // Assigning copies the lines into the owned list.
    void SetHTMLHeader(const QStringList& lines) { HTMLHeader = lines; }

    QStringList HTMLHeader;
    QString Header;
    QString Footer;
    TMargins Margins;
    TPrintOrientationOption Orientation = TPrintOrientationOption::poPortrait;
    bool MarginsInInches = false; // true only in a form designer: never here
};
