#include "SourceWindow.h"

#include "FileIO.h"
#include "Look.h"
#include "MonospaceFont.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QSyntaxHighlighter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace {

// Header names in bold: the message's header, and the header of every part
// (the lines after a delimiter line of a declared boundary, up to the first
// empty one). Block state 0: the next line is a header line; 1: body.
class TSourceHighlighter : public QSyntaxHighlighter {
public:
    TSourceHighlighter(QTextDocument* document, QStringList boundaries)
        : QSyntaxHighlighter(document), m_boundaries(std::move(boundaries))
    {
        m_name.setFontWeight(QFont::Bold);
        m_name.setForeground(QColor(0x1f, 0x3a, 0x93));
    }

protected:
    void highlightBlock(const QString& text) override
    {
        const bool inHeader = previousBlockState() != 1; // the first block starts the header
        if (inHeader) {
            if (text.isEmpty()) {
                setCurrentBlockState(1);
                return;
            }
            if (text[0] != QLatin1Char(' ') && text[0] != QLatin1Char('\t')) {
                const qsizetype colon = text.indexOf(QLatin1Char(':'));
                if (colon > 0 && !text.left(colon).trimmed().contains(QLatin1Char(' ')))
                    setFormat(0, static_cast<int>(colon), m_name);
            }
            setCurrentBlockState(0);
            return;
        }
        setCurrentBlockState(OpensPart(text) ? 0 : 1);
    }

private:
    bool OpensPart(const QString& line) const
    {
        if (!line.startsWith(QLatin1String("--")))
            return false;
        for (const QString& b : m_boundaries)
            if (QStringView(line).sliced(2).startsWith(b))
                return !QStringView(line).sliced(2 + b.size()).startsWith(QLatin1String("--"));
        return false;
    }

    QStringList m_boundaries;
    QTextCharFormat m_name;
};

QToolButton* FindButton(QWidget* parent, const QString& text, const QString& tip, QStyle::StandardPixmap icon)
{
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setAutoRaise(true);
    return b;
}

// The text as the editor holds it: every line break one character, so that
// positions in it are positions in the editor; and no line longer than
// kPieceLength. The editor lays out a line as a whole, and one line of 2 MB
// (a message without line breaks) takes it minutes; the window would wrap
// such a line anyway.
constexpr qsizetype kPieceLength = 1024;

QString EditorText(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / kPieceLength);
    qsizetype column = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                continue;
            c = QLatin1Char('\n');
        }
        if (c == QLatin1Char('\n')) {
            column = 0;
        } else if (column >= kPieceLength && !c.isLowSurrogate()) {
            out += QLatin1Char('\n');
            column = 0;
        }
        if (c != QLatin1Char('\n'))
            ++column;
        out += c;
    }
    return out;
}

} // namespace

TSourceWindow::TSourceWindow(const QString& messagePath, QWidget* parent)
    : QDialog(parent), m_path(messagePath), m_source(ReadMessageSource(messagePath))
{
    setObjectName(QStringLiteral("SourceWindow"));
    setWindowTitle(QStringLiteral("Message Source - %1").arg(QFileInfo(messagePath).fileName()));
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    resize(780, 560);

    const QFont mono = MonospaceFont();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);

    Tabs = new QTabWidget(this);
    auto* sourcePage = new QWidget(Tabs);
    auto* sourceLayout = new QVBoxLayout(sourcePage);
    sourceLayout->setContentsMargins(0, 4, 0, 0);
    CutNote = new QLabel(sourcePage);
    CutNote->setObjectName(QStringLiteral("CutNote"));
    CutNote->setWordWrap(true);
    CutNote->setFrameShape(QFrame::StyledPanel);
    FillBackground(CutNote, QColor(254, 252, 224));
    CutNote->setContentsMargins(6, 3, 6, 3);
    if (m_source.cut)
        CutNote->setText(QStringLiteral("The message is %1; only its first %2 are shown here. Save As saves all of it.")
                             .arg(SizeText(m_source.fileSize), SizeText(m_source.bytes.size())));
    else if (!m_source.error.isEmpty())
        CutNote->setText(QStringLiteral("The message file cannot be read: %1").arg(m_source.error));
    CutNote->setVisible(m_source.cut || !m_source.error.isEmpty());
    SourceView = new QPlainTextEdit(sourcePage);
    SourceView->setObjectName(QStringLiteral("SourceView"));
    SourceView->setReadOnly(true);
    SourceView->setFont(mono);
    SourceView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_source.text = EditorText(m_source.text);
    new TSourceHighlighter(SourceView->document(),
                           DeclaredBoundaries(std::string_view(m_source.bytes.constData(),
                                                               static_cast<std::size_t>(m_source.bytes.size()))));
    SourceView->setPlainText(m_source.text);
    sourceLayout->addWidget(CutNote);
    sourceLayout->addWidget(SourceView, 1);
    Tabs->addTab(sourcePage, QStringLiteral("&Source"));

    HeaderTable = new QTableWidget(Tabs);
    HeaderTable->setObjectName(QStringLiteral("HeaderTable"));
    HeaderTable->setColumnCount(2);
    HeaderTable->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
    HeaderTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    HeaderTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    HeaderTable->setWordWrap(true);
    HeaderTable->verticalHeader()->hide();
    HeaderTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    HeaderTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    HeaderTable->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    const std::vector<THeaderField> fields =
        HeaderFields(std::string_view(m_source.bytes.constData(), static_cast<std::size_t>(m_source.bytes.size())));
    HeaderTable->setRowCount(static_cast<int>(fields.size()));
    QFont bold = HeaderTable->font();
    bold.setBold(true);
    for (int row = 0; row < static_cast<int>(fields.size()); ++row) {
        auto* name = new QTableWidgetItem(fields[static_cast<std::size_t>(row)].name);
        name->setFont(bold);
        name->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        auto* value = new QTableWidgetItem(fields[static_cast<std::size_t>(row)].value);
        value->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        HeaderTable->setItem(row, 0, name);
        HeaderTable->setItem(row, 1, value);
    }
    Tabs->addTab(HeaderTable, QStringLiteral("All &Headers"));
    layout->addWidget(Tabs, 1);

    auto* row = new QHBoxLayout;
    auto* findLabel = new QLabel(QStringLiteral("&Find:"), this);
    FindEdit = new QLineEdit(this);
    FindEdit->setObjectName(QStringLiteral("SourceFindEdit"));
    FindEdit->setClearButtonEnabled(true);
    FindEdit->setFixedWidth(220);
    findLabel->setBuddy(FindEdit);
    PreviousButton = FindButton(this, QStringLiteral("Previous"), QStringLiteral("Previous match (Shift+F3)"),
                                QStyle::SP_ArrowUp);
    NextButton = FindButton(this, QStringLiteral("Next"), QStringLiteral("Next match (F3)"), QStyle::SP_ArrowDown);
    FindCount = new QLabel(this);
    SaveButton = new QPushButton(QStringLiteral("Save &As..."), this);
    CloseButton = new QPushButton(QStringLiteral("&Close"), this);
    // Return in the find field finds; it never presses a button.
    SaveButton->setAutoDefault(false);
    CloseButton->setAutoDefault(false);
    row->addWidget(findLabel);
    row->addWidget(FindEdit);
    row->addWidget(PreviousButton);
    row->addWidget(NextButton);
    row->addWidget(FindCount);
    row->addStretch(1);
    row->addWidget(SaveButton);
    row->addWidget(CloseButton);
    layout->addLayout(row);

    AskFileName = [this](const QString& suggested) {
        // Qt's dialog asks before it replaces a file.
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Message As"), suggested,
                                            QStringLiteral("E-mail messages (*.eml);;All files (*)"));
    };
    ShowError = [this](const QString& message) {
        QMessageBox::warning(this, QStringLiteral("Save Message As"), message);
    };

    connect(FindEdit, &QLineEdit::textEdited, this, [this] {
        // A new text is found from the top.
        SourceView->moveCursor(QTextCursor::Start);
        HeaderTable->clearSelection();
        HeaderTable->setCurrentCell(-1, -1);
        Find(false);
    });
    connect(FindEdit, &QLineEdit::returnPressed, this, &TSourceWindow::FindNext);
    connect(Tabs, &QTabWidget::currentChanged, this, [this] { // the count was the other tab's
        m_matches = 0;
        FindCount->clear();
        FindEdit->setStyleSheet(QString());
    });
    connect(NextButton, &QToolButton::clicked, this, &TSourceWindow::FindNext);
    connect(PreviousButton, &QToolButton::clicked, this, &TSourceWindow::FindPrevious);
    connect(SaveButton, &QPushButton::clicked, this, &TSourceWindow::SaveAs);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        FindEdit->setFocus(Qt::ShortcutFocusReason);
        FindEdit->selectAll();
    });
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this, &TSourceWindow::FindNext);
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this), &QShortcut::activated, this,
            &TSourceWindow::FindPrevious);
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, &TSourceWindow::SaveAs);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this), &QShortcut::activated, this, &QDialog::accept);
    SourceView->setFocus();
}

void TSourceWindow::FindNext() { Find(false); }

void TSourceWindow::FindPrevious() { Find(true); }

void TSourceWindow::Find(bool backward)
{
    const QString text = FindEdit->text();
    if (text.isEmpty()) {
        m_matches = 0;
        FindCount->clear();
        FindEdit->setStyleSheet(QString());
        return;
    }
    if (Tabs->currentWidget() == HeaderTable)
        FindInHeaders(text, backward);
    else
        FindInSource(text, backward);
}

void TSourceWindow::FindInSource(const QString& text, bool backward)
{
    m_matches = static_cast<int>(m_source.text.count(text, Qt::CaseInsensitive));
    if (m_matches == 0) {
        ShowCount(0);
        return;
    }
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (!SourceView->find(text, flags)) { // round again from the other end
        SourceView->moveCursor(backward ? QTextCursor::End : QTextCursor::Start);
        SourceView->find(text, flags);
    }
    const int start = SourceView->textCursor().selectionStart();
    ShowCount(static_cast<int>(QStringView(m_source.text).left(start).count(text, Qt::CaseInsensitive)) + 1);
}

void TSourceWindow::FindInHeaders(const QString& text, bool backward)
{
    const int rows = HeaderTable->rowCount();
    auto matches = [&](int row) {
        return HeaderTable->item(row, 0)->text().contains(text, Qt::CaseInsensitive)
               || HeaderTable->item(row, 1)->text().contains(text, Qt::CaseInsensitive);
    };
    m_matches = 0;
    for (int row = 0; row < rows; ++row)
        m_matches += matches(row);
    if (m_matches == 0) {
        ShowCount(0);
        return;
    }
    const int current = HeaderTable->currentRow();
    const int step = backward ? rows - 1 : 1;
    int row = current < 0 ? (backward ? rows - 1 : 0) : (current + step) % rows;
    while (!matches(row))
        row = (row + step) % rows;
    HeaderTable->setCurrentCell(row, 1);
    HeaderTable->selectRow(row);
    int active = 0;
    for (int r = 0; r <= row; ++r)
        active += matches(r);
    ShowCount(active);
}

void TSourceWindow::ShowCount(int active)
{
    if (m_matches == 0) {
        FindCount->setText(QStringLiteral("No matches"));
        FindEdit->setStyleSheet(QStringLiteral("QLineEdit{background:#ffd9d9}"));
        return;
    }
    FindEdit->setStyleSheet(QString());
    FindCount->setText(QStringLiteral("%1 of %2 %3")
                           .arg(active)
                           .arg(m_matches)
                           .arg(m_matches == 1 ? QStringLiteral("match") : QStringLiteral("matches")));
}

void TSourceWindow::SaveAs()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString target = AskFileName(QDir(folder.isEmpty() ? QDir::homePath() : folder)
                                           .filePath(QFileInfo(m_path).fileName()));
    if (!target.isEmpty())
        SaveTo(target);
}

bool TSourceWindow::SaveTo(const QString& target)
{
    try {
        // The whole file, as it is on disk now: not the part shown.
        const std::string data = ReadWholeFile(QFile::encodeName(m_path).toStdString());
        WriteFileSafely(QFile::encodeName(target).toStdString(), true,
                        [&](const auto& sink) { sink(data); });
        return true;
    } catch (const std::exception& e) {
        ShowError(QStringLiteral("The message could not be saved as %1.\n\n%2").arg(target, QString::fromLocal8Bit(e.what())));
        return false;
    }
}
