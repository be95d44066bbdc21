#pragma once
// Printing a displayed page: its page setup (orientation, header and
// footer lines, margins) and the print itself, with an HTML block ahead of
// the document and the header and footer lines on every page. The page is
// rendered to PDF by the HTML engine, the header and footer lines are laid
// over each page, and the result goes to the default printer, to a file the
// caller named, or (with no printer at all) into the user's documents.
#include "TPrintOptions.h"

#include <QDateTime>
#include <QLocale>
#include <QPageLayout>
#include <QString>

#include <functional>
#include <memory>

class QWebEnginePage;

// The values the page-setup codes stand for on one page.
struct TPageContext {
    QString windowTitle;
    QString url;
    QDateTime now;
    int page = 1;
    int pages = 1;
    QLocale locale;
};

// Expands a header or footer line: &w title, &u address, &d short date,
// &D long date, &t time, &T 24-hour time, &p page, &P pages, && "&". &b
// breaks the line: text after the first &b is centred, after the second
// right-aligned. Returns the left, centre and right parts.
struct TPageLine {
    QString left, center, right;
};
[[nodiscard]] TPageLine ExpandPageCodes(const QString& codes, const TPageContext& context);

// Reads a margin written in the locale's unit back into millimetres.
[[nodiscard]] double MarginToMillimetres(const QString& text, bool localeUsesInches, const QLocale& locale);

class TPrintEngine {
public:
    // The page setup in force (orientation and margins in millimetres).
    QPageLayout Layout;

    TPrintEngine();

    // Applies a filled page setup (margins as the dialog's texts); the
    // header and footer lines come with each print.
    void ApplyPageSetup(const TPrintOptions& options, const QString (&margins)[4], bool localeUsesInches);

    // Prints page with htmlHeader ahead of it. Returns false (and sets
    // LastError) when nothing could be printed.
    bool Print(QWebEnginePage* page, const QString& header, const QString& footer, const QByteArray& htmlHeader,
               const QString& documentPath);
    // Prints pages made elsewhere (the HTML block already on them) the same
    // way: header and footer lines, then where prints go.
    bool PrintPdf(const QByteArray& pdf, const QString& header, const QString& footer, const QString& documentPath);
    QString LastError;
    // Ends a print that is waiting for the engine; it fails with nothing
    // printed, and with why as its error when one is given.
    void Cancel(const QString& why = QString());
    // How long a print of a document of this many bytes may take.
    [[nodiscard]] static int TimeLimitMs(qint64 documentBytes);

    // Where prints go: a file the program named (--print-to), else the
    // default printer, else a new file in the documents folder.
    static void SetOutputFile(const QString& path);
    static QString OutputFile();
    // Told where a print went when there was no printer.
    static void SetSavedInsteadNotice(std::function<void(const QString& path)> notice);

    // Lays the header and footer lines over each page of pdf.
    [[nodiscard]] QByteArray AddHeaderAndFooter(const QByteArray& pdf, const QString& header, const QString& footer,
                                                const TPageContext& context) const;

private:
    bool Deliver(QByteArray pdf, const QString& header, const QString& footer, TPageContext context,
                 const QString& documentPath);
    struct TPendingPrint;
    std::shared_ptr<TPendingPrint> m_pending;
};

// A file name in folder for name (without its extension) + ".pdf" that does
// not exist yet: "name.pdf", "name (2).pdf", ...
[[nodiscard]] QString FreshPdfName(const QString& folder, const QString& name);
