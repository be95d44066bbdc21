#pragma once
// A small notice window with a title and a read-only text, shown modally
// (the caller waits) or modelessly, closing itself after a time, when it
// loses the focus or when it is hidden.
#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTimer;

// A short looping animation standing in for the system's file-operation
// clips: 1 copying files, 2 finding a file, 3 deleting a file, 4 emptying
// the recycle bin.
class TAnimate : public QWidget {
    Q_OBJECT
public:
    explicit TAnimate(QWidget* parent = nullptr);
    void SetClip(int clip);
    [[nodiscard]] int Clip() const { return m_clip; }
    void SetActive(bool active);
    [[nodiscard]] bool Active() const { return m_active; }
    int StopFrame = 8;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QTimer* m_timer;
    int m_clip = 2;
    int m_frame = 0;
    bool m_active = false;
};

class TQuickMessage : public QDialog {
    Q_OBJECT
public:
    explicit TQuickMessage(QWidget* parent = nullptr);
    ~TQuickMessage() override;

    QTimer* Timer1 = nullptr;
    QTextEdit* Memo2 = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Image5 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Label1 = nullptr;
    QFrame* Panel3 = nullptr;
    QTextEdit* Memo1 = nullptr;
    TAnimate* Animate1 = nullptr;
    bool AutoClose = false;
    bool CompactLayout = false;

    void FormCreate();
    void FormShow();
    void FormHide();
    void FormDeactivate();
    void Timer1Timer();
    void Memo1Click();
    void Memo1KeyUp(int key);
    void Memo2KeyUp(int key);
    void Button1Click();
    void Memo1Change() {}

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
};

// The quick message created last (cleared when it is destroyed).
extern TQuickMessage* QuickMessage;

// owner: the window the notice belongs to; it stays above that window and
// is centred on it. Without one it stands alone, centred on the active
// window.
void ShowQuickMessage(const QString& title, const QString& text, int interval, bool large, bool autoClose,
                      int textSize, int animation, QWidget* owner = nullptr);
