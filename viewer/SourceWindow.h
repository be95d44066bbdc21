#pragma once
// The message's source and all its header fields: the raw file (its first
// 2 MB, with a note when it is longer) in monospace with the header names in
// bold, a find field, Save As; and a second tab with every header field of
// the message, decoded.
#include "MessageSource.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QToolButton;

class TSourceWindow : public QDialog {
    Q_OBJECT
public:
    explicit TSourceWindow(const QString& messagePath, QWidget* parent = nullptr);

    void FindNext();
    void FindPrevious();
    // Asks for a file name (the dialog confirms replacing a file) and saves
    // the whole message file there.
    void SaveAs();
    // Saves the whole message file to target, replacing it; false (and the
    // error shown) when that fails.
    bool SaveTo(const QString& target);

    [[nodiscard]] const TMessageSource& Source() const { return m_source; }
    [[nodiscard]] int Matches() const { return m_matches; }

    QTabWidget* Tabs = nullptr;
    QPlainTextEdit* SourceView = nullptr;
    QLabel* CutNote = nullptr;
    QTableWidget* HeaderTable = nullptr;
    QLineEdit* FindEdit = nullptr;
    QLabel* FindCount = nullptr;
    QToolButton* PreviousButton = nullptr;
    QToolButton* NextButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CloseButton = nullptr;

    // The save dialog (suggested name in, chosen path out, empty when
    // cancelled) and the error notice; tests replace them.
    std::function<QString(const QString& suggested)> AskFileName;
    std::function<void(const QString& message)> ShowError;

private:
    void Find(bool backward);
    void FindInSource(const QString& text, bool backward);
    void FindInHeaders(const QString& text, bool backward);
    void ShowCount(int active);

    QString m_path;
    TMessageSource m_source;
    int m_matches = 0;
};
