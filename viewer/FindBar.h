#pragma once
// The find bar above the message page: a search field that finds as the
// user types, previous and next, the number of matches, and a close button.
// The page does the finding (and highlights the matches).
#include <QFrame>
#include <QPointer>

class QLabel;
class QLineEdit;
class QToolButton;
class QWebEnginePage;
class QWebEngineFindTextResult;
class TTextPageView;

class TFindBar : public QFrame {
    Q_OBJECT
public:
    // page: where to find; none (an engine without pages) leaves the bar
    // inert.
    explicit TFindBar(QWebEnginePage* page, QWidget* parent = nullptr);
    // The view that shows large text bodies instead of the page: while it
    // is shown, the bar finds in it.
    void SetTextView(TTextPageView* view);

    // Shows the bar with its text selected, ready to type over.
    void Open();
    // Hides the bar and takes the highlights off the page.
    void Close();
    void FindNext();
    void FindPrevious();

    [[nodiscard]] QString Text() const;
    // Matches of the last search (0 when none or nothing searched) and the
    // one that is current, counted from 1 (0 when none).
    [[nodiscard]] int Matches() const { return m_matches; }
    [[nodiscard]] int ActiveMatch() const { return m_active; }

    QLineEdit* Edit = nullptr;
    QLabel* Count = nullptr;
    QToolButton* PreviousButton = nullptr;
    QToolButton* NextButton = nullptr;
    QToolButton* CloseButton = nullptr;

signals:
    void Closed();
    // A search answered (also with no matches).
    void ResultChanged(int matches, int active);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Find(bool backward);
    void ShowResult(int matches, int active);
    [[nodiscard]] bool InTextView() const;

    QPointer<QWebEnginePage> m_page;
    QPointer<TTextPageView> m_textView;
    int m_matches = 0;
    int m_active = 0;
};
