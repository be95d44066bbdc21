#include "TPrintEngine.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QPrinter>
#include <QPointer>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

struct TPrintEngine::TPendingPrint {
    QEventLoop* loop = nullptr;
    bool finished = false;
    bool cancelled = false;
    QString why; // what ended it, when something did
    QByteArray pdf;
};

namespace {

QString g_outputFile;
std::function<void(const QString&)> g_savedInsteadNotice;

constexpr char kHeaderBlockId[] = "corvanta-print-header";

} // namespace

TPageLine ExpandPageCodes(const QString& codes, const TPageContext& c)
{
    QString parts[3];
    int part = 0;
    for (int i = 0; i < codes.size(); ++i) {
        const QChar ch = codes[i];
        if (ch != QLatin1Char('&') || i + 1 >= codes.size()) {
            parts[part] += ch;
            continue;
        }
        const QChar code = codes[++i];
        switch (code.unicode()) {
        case 'w':
            parts[part] += c.windowTitle;
            break;
        case 'u':
            parts[part] += c.url;
            break;
        case 'd':
            parts[part] += c.locale.toString(c.now.date(), QLocale::ShortFormat);
            break;
        case 'D':
            parts[part] += c.locale.toString(c.now.date(), QLocale::LongFormat);
            break;
        case 't':
            parts[part] += c.locale.toString(c.now.time(), QLocale::ShortFormat);
            break;
        case 'T':
            parts[part] += c.now.time().toString(QStringLiteral("HH:mm:ss"));
            break;
        case 'p':
            parts[part] += QString::number(c.page);
            break;
        case 'P':
            parts[part] += QString::number(c.pages);
            break;
        case 'b':
            part = std::min(part + 1, 2);
            break;
        case '&':
            parts[part] += QLatin1Char('&');
            break;
        default:
            parts[part] += QLatin1Char('&');
            parts[part] += code;
        }
    }
    return {parts[0], parts[1], parts[2]};
}

double MarginToMillimetres(const QString& text, bool localeUsesInches, const QLocale& locale)
{
    bool ok = false;
    double v = locale.toDouble(text, &ok);
    if (!ok)
        v = text.toDouble(&ok);
    if (!ok)
        return 0;
    return localeUsesInches ? v * 25.4 : v;
}

QString FreshPdfName(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    QString candidate = dir.filePath(name + QStringLiteral(".pdf"));
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = dir.filePath(QStringLiteral("%1 (%2).pdf").arg(name).arg(n));
    return candidate;
}

TPrintEngine::TPrintEngine()
    : Layout(QPageSize(QLocale().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter : QPageSize::A4),
             QPageLayout::Portrait, QMarginsF(19.05, 19.05, 19.05, 19.05), QPageLayout::Millimeter)
{
}

void TPrintEngine::Cancel(const QString& why)
{
    if (!m_pending)
        return;
    m_pending->cancelled = true;
    m_pending->why = why;
    if (m_pending->loop)
        m_pending->loop->quit();
}

// Two minutes, and two more for every megabyte: the engine lays out the whole
// document before the first page comes back.
int TPrintEngine::TimeLimitMs(qint64 documentBytes)
{
    const qint64 megabytes = std::max<qint64>(0, documentBytes) >> 20;
    return static_cast<int>(std::min<qint64>(120000 + megabytes * 120000, 24LL * 3600 * 1000));
}

void TPrintEngine::SetOutputFile(const QString& path) { g_outputFile = path; }
QString TPrintEngine::OutputFile() { return g_outputFile; }
void TPrintEngine::SetSavedInsteadNotice(std::function<void(const QString&)> notice)
{
    g_savedInsteadNotice = std::move(notice);
}

void TPrintEngine::ApplyPageSetup(const TPrintOptions& options, const QString (&margins)[4], bool localeUsesInches)
{
    const QLocale locale;
    // The dialog's order: left, top, right, bottom.
    const QMarginsF m(MarginToMillimetres(margins[0], localeUsesInches, locale),
                      MarginToMillimetres(margins[1], localeUsesInches, locale),
                      MarginToMillimetres(margins[2], localeUsesInches, locale),
                      MarginToMillimetres(margins[3], localeUsesInches, locale));
    Layout.setOrientation(options.Orientation == TPrintOrientationOption::poLandscape ? QPageLayout::Landscape
                                                                                      : QPageLayout::Portrait);
    Layout.setMinimumMargins(QMarginsF());
    Layout.setMargins(m);
}

QByteArray TPrintEngine::AddHeaderAndFooter(const QByteArray& pdf, const QString& header, const QString& footer,
                                            const TPageContext& context) const
{
    QPDF document;
    document.processMemoryFile("document", pdf.constData(), static_cast<size_t>(pdf.size()));
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(document).getAllPages();

    // The header and footer lines, one vector page each, the same size as
    // the document's pages, drawn in the page margins.
    QByteArray overlay;
    {
        QBuffer buffer(&overlay);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        QPageLayout full = Layout;
        full.setMinimumMargins(QMarginsF());
        full.setMargins(QMarginsF());
        writer.setPageLayout(full);
        writer.setResolution(720);
        writer.setCreator(QStringLiteral("Corvanta"));
        QPainter painter(&writer);
        QFont font(QStringLiteral("Liberation Sans"));
        font.setStyleHint(QFont::SansSerif);
        font.setPointSizeF(8);
        painter.setFont(font);
        const QRectF page = full.paintRectPixels(writer.resolution());
        const QMarginsF margins = Layout.marginsPixels(writer.resolution());
        const double lineHeight = painter.fontMetrics().height();
        const QRectF headerRect(margins.left(), std::max(0.0, margins.top() / 2 - lineHeight / 2),
                                page.width() - margins.left() - margins.right(), lineHeight);
        const QRectF footerRect(margins.left(), page.height() - margins.bottom() / 2 - lineHeight / 2,
                                page.width() - margins.left() - margins.right(), lineHeight);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (i)
                writer.newPage();
            TPageContext c = context;
            c.page = static_cast<int>(i) + 1;
            c.pages = static_cast<int>(pages.size());
            for (const auto& [codes, rect] : {std::pair{header, headerRect}, std::pair{footer, footerRect}}) {
                const TPageLine line = ExpandPageCodes(codes, c);
                painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, line.left);
                painter.drawText(rect, Qt::AlignHCenter | Qt::AlignVCenter, line.center);
                painter.drawText(rect, Qt::AlignRight | Qt::AlignVCenter, line.right);
            }
        }
    }

    QPDF lines;
    lines.processMemoryFile("lines", overlay.constData(), static_cast<size_t>(overlay.size()));
    std::vector<QPDFPageObjectHelper> linePages = QPDFPageDocumentHelper(lines).getAllPages();
    for (std::size_t i = 0; i < pages.size() && i < linePages.size(); ++i) {
        QPDFPageObjectHelper& page = pages[i];
        QPDFObjectHandle form = document.copyForeignObject(linePages[i].getFormXObjectForPage());
        QPDFObjectHandle resources = page.getAttribute("/Resources", true);
        if (!resources.isDictionary()) {
            resources = QPDFObjectHandle::newDictionary();
            page.getObjectHandle().replaceKey("/Resources", resources);
        }
        if (!resources.hasKey("/XObject"))
            resources.replaceKey("/XObject", QPDFObjectHandle::newDictionary());
        const std::string name = "/CorvantaLines" + std::to_string(i);
        resources.getKey("/XObject").replaceKey(name, form);
        const std::string place =
            page.placeFormXObject(form, name, page.getTrimBox().getArrayAsRectangle(), true, true, true);
        // The page's own drawing is closed in its own graphics state first.
        page.addPageContents(QPDFObjectHandle::newStream(&document, "q\n"), true);
        page.addPageContents(QPDFObjectHandle::newStream(&document, "\nQ\nq\n" + place + "\nQ\n"), false);
    }
    QPDFWriter out(document);
    out.setOutputMemory();
    out.write();
    std::unique_ptr<Buffer> result(out.getBuffer());
    return QByteArray(reinterpret_cast<const char*>(result->getBuffer()), static_cast<qsizetype>(result->getSize()));
}

namespace {

bool WriteNewFile(const QString& path, const QByteArray& data, bool mayReplace, QString& error)
{
    if (!mayReplace) {
        // Created exclusively: an existing file is never touched.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        QFile f;
        if (!f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) || f.write(data) != data.size()) {
            f.close();
            QFile::remove(path);
            error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        return true;
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool PrintToPrinter(const QByteArray& pdf, const QPrinterInfo& info, const QPageLayout& layout, QString& error)
{
    QPdfDocument document;
    QBuffer buffer;
    buffer.setData(pdf);
    buffer.open(QIODevice::ReadOnly);
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready) {
        error = QStringLiteral("the print could not be rendered");
        return false;
    }
    QPrinter printer(info, QPrinter::HighResolution);
    QPageLayout full = layout;
    full.setMinimumMargins(QMarginsF());
    full.setMargins(QMarginsF());
    printer.setPageLayout(full);
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer)) {
        error = QStringLiteral("the printer %1 cannot be used").arg(info.printerName());
        return false;
    }
    const QRect target = printer.pageLayout().fullRectPixels(printer.resolution());
    for (int i = 0; i < document.pageCount(); ++i) {
        if (i)
            printer.newPage();
        painter.drawImage(target, document.render(i, target.size()));
    }
    painter.end();
    return true;
}

} // namespace

bool TPrintEngine::Print(QWebEnginePage* page, const QString& header, const QString& footer,
                         const QByteArray& htmlHeader, const QString& documentPath)
{
    LastError.clear();
    if (!page) {
        LastError = QStringLiteral("nothing to print");
        return false;
    }
    // The HTML block goes ahead of the document for the print only; it is
    // inserted by the program itself (page scripts stay off) and removed
    // afterwards.
    const QString html = QString::fromUtf8(htmlHeader);
    const QString insert =
        QStringLiteral("(function(){var b=document.body||document.documentElement;if(!b)return;"
                       "var d=document.createElement('div');d.id='%1';d.innerHTML=%2;"
                       "b.insertBefore(d,b.firstChild);})()")
            .arg(QLatin1String(kHeaderBlockId),
                 QString::fromUtf8(QJsonDocument::fromVariant(QVariantList{html}).toJson(QJsonDocument::Compact))
                     .mid(1)
                     .chopped(1));
    // The engine answers asynchronously. What its callbacks write to lives
    // as long as they do, so an answer after the time limit, after a cancel
    // or after this function has returned lands in a state nobody waits for.
    auto pending = std::make_shared<TPendingPrint>();
    m_pending = pending;
    QEventLoop loop;
    pending->loop = &loop;
    QTimer::singleShot(TimeLimitMs(QFileInfo(documentPath).size()), &loop, &QEventLoop::quit);
    QPointer<QWebEnginePage> target(page);
    const QPageLayout layout = Layout;
    page->runJavaScript(insert, QWebEngineScript::ApplicationWorld, [pending, target, layout](const QVariant&) {
        if (pending->cancelled || !target)
            return;
        target->printToPdf(
            [pending](const QByteArray& data) {
                pending->pdf = data;
                pending->finished = true;
                if (pending->loop)
                    pending->loop->quit();
            },
            layout);
    });
    if (!pending->finished && !pending->cancelled)
        loop.exec();
    pending->loop = nullptr;
    m_pending.reset();
    const bool timedOut = !pending->finished && !pending->cancelled;
    pending->cancelled = true;
    QByteArray pdf = pending->finished ? pending->pdf : QByteArray();
    if (page)
        page->runJavaScript(QStringLiteral("(function(){var e=document.getElementById('%1');if(e)e.remove();})()")
                                .arg(QLatin1String(kHeaderBlockId)),
                            QWebEngineScript::ApplicationWorld);
    if (timedOut) {
        LastError = QStringLiteral("the page took too long to render for printing");
        return false;
    }
    if (!pending->finished) {
        LastError = pending->why.isEmpty() ? QStringLiteral("the print was cancelled") : pending->why;
        return false;
    }
    if (pdf.isEmpty()) {
        LastError = QStringLiteral("the page could not be rendered for printing");
        return false;
    }

    TPageContext context;
    context.windowTitle = page->title();
    QUrl url = page->url();
    if (url.scheme() == QLatin1String("corvanta-msg"))
        url = QUrl::fromLocalFile(url.path());
    context.url = url.toString();
    if (context.windowTitle.isEmpty() || context.windowTitle == page->url().toString()
        || context.windowTitle == page->url().toString(QUrl::RemoveScheme))
        context.windowTitle = QFileInfo(documentPath).fileName();
    return Deliver(pdf, header, footer, context, documentPath);
}

bool TPrintEngine::PrintPdf(const QByteArray& pdf, const QString& header, const QString& footer,
                            const QString& documentPath)
{
    LastError.clear();
    TPageContext context;
    context.windowTitle = QFileInfo(documentPath).fileName();
    context.url = QUrl::fromLocalFile(documentPath).toString();
    return Deliver(pdf, header, footer, context, documentPath);
}

bool TPrintEngine::Deliver(QByteArray pdf, const QString& header, const QString& footer, TPageContext context,
                           const QString& documentPath)
{
    context.now = QDateTime::currentDateTime();
    try {
        pdf = AddHeaderAndFooter(pdf, header, footer, context);
    } catch (const std::exception& e) {
        LastError = QStringLiteral("the page lines could not be added: %1").arg(QString::fromLocal8Bit(e.what()));
        return false;
    }

    if (!g_outputFile.isEmpty()) {
        return WriteNewFile(g_outputFile, pdf, false, LastError);
    }
    const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
    if (!printer.isNull())
        return PrintToPrinter(pdf, printer, Layout, LastError);
    // No printer at all: the print is kept, not dropped.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    QDir().mkpath(folder);
    const QString base = documentPath.isEmpty() ? QStringLiteral("print") : QFileInfo(documentPath).completeBaseName();
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString target = FreshPdfName(folder, base);
        if (WriteNewFile(target, pdf, false, LastError)) {
            LastError.clear();
            if (g_savedInsteadNotice)
                g_savedInsteadNotice(target);
            return true;
        }
    }
    return false;
}
