#pragma once
// A flat push button that paints itself: a background in one of three
// colours (normal, hot, down) or a tiled bitmap, an optional one-pixel
// raised or sunken frame, and its caption single-line or word-wrapped inside
// margins. It tracks the mouse, can stay down as a toggle or as one of a
// group of exclusive buttons, grows to fit its caption and answers its
// caption's accelerator.
#include <QColor>
#include <QPixmap>
#include <QWidget>

class TkelColorButton : public QWidget {
    Q_OBJECT
public:
    enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

    explicit TkelColorButton(QWidget* parent = nullptr);
    ~TkelColorButton() override;

    [[nodiscard]] int GroupIndex() const { return m_groupIndex; }
    void SetGroupIndex(int value);
    [[nodiscard]] bool AllowAllUp() const { return m_allowAllUp; }
    void SetAllowAllUp(bool value) { m_allowAllUp = value; }
    [[nodiscard]] TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment value);
    [[nodiscard]] const QPixmap& BackBitmap() const { return m_backBitmap; }
    void SetBackBitmap(const QPixmap& value);
    [[nodiscard]] QString Caption() const { return m_caption; }
    void SetCaption(const QString& value);
    [[nodiscard]] bool WordWrap() const { return m_wordWrap; }
    void SetWordWrap(bool value);
    [[nodiscard]] bool Down() const { return m_down; }
    void SetDown(bool value);
    [[nodiscard]] bool Flat() const { return m_flat; }
    void SetFlat(bool value);
    [[nodiscard]] int MarginHorizontal() const { return m_marginHorizontal; }
    void SetMarginHorizontal(int value);
    [[nodiscard]] int MarginVertical() const { return m_marginVertical; }
    void SetMarginVertical(int value);
    [[nodiscard]] QColor Color() const { return m_color; }
    void SetColor(const QColor& value);
    [[nodiscard]] bool HotTrack() const { return m_hotTrack; }
    void SetHotTrack(bool value) { m_hotTrack = value; }
    [[nodiscard]] QColor HotColor() const { return m_hotColor; }
    void SetHotColor(const QColor& value) { m_hotColor = value; }
    [[nodiscard]] QColor DownColor() const { return m_downColor; }
    void SetDownColor(const QColor& value) { m_downColor = value; }
    [[nodiscard]] QColor HotFontColor() const { return m_hotFontColor; }
    void SetHotFontColor(const QColor& value) { m_hotFontColor = value; }
    [[nodiscard]] QColor DownFontColor() const { return m_downFontColor; }
    void SetDownFontColor(const QColor& value) { m_downFontColor = value; }

    [[nodiscard]] bool Pressed() const { return m_pressed; }
    [[nodiscard]] bool Hot() const { return m_hot; }

    // Raises the click as a release over the button does.
    void Click();

signals:
    void onclick();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool event(QEvent* e) override;

private:
    void NotifyGroup();
    void ButtonPressed(int groupIndex, TkelColorButton* sender);
    void RegisterAccelerator();

    int m_groupIndex = 0;
    bool m_pressed = false;
    bool m_hot = false;
    bool m_hotTrack = true;
    QColor m_color{0, 128, 255};
    QColor m_hotColor{0, 128, 255};
    QColor m_hotFontColor{255, 255, 0};
    int m_marginHorizontal = 8;
    TAlignment m_alignment = TAlignment::taCenter;
    int m_marginVertical = 4;
    bool m_wordWrap = false;
    QPixmap m_backBitmap;
    bool m_down = false;
    QColor m_downColor{0, 0, 128};
    QColor m_downFontColor{255, 255, 255};
    bool m_flat = true;
    bool m_allowAllUp = false;
    QString m_caption;
    int m_shortcutId = 0;
};
