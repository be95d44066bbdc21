#pragma once
// The viewer window's commands beyond its buttons, with their keys: find in
// the message (Ctrl+F, F3, Shift+F3), zoom (Ctrl+plus, Ctrl+minus, Ctrl+0;
// remembered in corvanta.ini), the source and all headers (Ctrl+U), print
// (Ctrl+P), close (Escape, Ctrl+W), and the address of the link under the
// mouse in a status line over the page's bottom corner.
#include <QObject>
#include <QPointer>

#include <functional>

class QLabel;
class QWebEnginePage;
class TFindBar;
class TForm1;
class TSourceWindow;
class TTextPageView;

class TViewCommands : public QObject {
    Q_OBJECT
public:
    // Adds the find bar above the page, the status line and the keys to
    // form; the form owns what is made here.
    explicit TViewCommands(TForm1* form);

    void Find();
    void FindNext();
    void FindPrevious();
    void ZoomIn();
    void ZoomOut();
    void ZoomReset();
    void ShowSource();
    void Print();
    void CloseWindow();
    // Escape: closes the find bar when it is open, else the window.
    void Escape();

    [[nodiscard]] double Zoom() const;
    void SetZoom(double factor);
    // The next zoom step up (direction 1) or down (-1) from factor.
    [[nodiscard]] static double ZoomStep(double factor, int direction);
    // The factor read from the settings: 1 when missing or unusable, held to
    // the engine's range.
    [[nodiscard]] static double SavedZoom();

    [[nodiscard]] QWebEnginePage* Page() const;
    TFindBar* FindBar = nullptr;
    QLabel* LinkStatus = nullptr;
    // Shows the source window modally; tests replace it.
    std::function<void(TSourceWindow& window)> ExecSource;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ShowLink(const QString& url);
    void PlaceLinkStatus();
    void RememberZoom();

    TForm1* m_form;
    QPointer<QWebEnginePage> m_page;
    QPointer<TTextPageView> m_textView; // large text bodies, instead of the page
    double m_zoom = 1.0;
};
