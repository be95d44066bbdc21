#pragma once
// The viewer window: four header fields over the rendered message, the
// attachments button, Print and Close. Each activation reloads the message
// file from disk and shows it again.
#include "TMailMessage2000.h"
#include "TEmbeddedWB.h"
#include "TkelColorButton.h"

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QFrame;
class TViewCommands;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QString messagePath, QWidget* parent = nullptr);
    ~TForm1() override;

    // Components, named as in the form description.
    QFrame* Panel1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    TEmbeddedWB* EmbeddedWB1 = nullptr;
    QFrame* Panel2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TkelColorButton* kelColorButton1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    TMailMessage2000 MailMessage20001;
    TViewCommands* ViewCommands1 = nullptr; // find, zoom, source, keys

    [[nodiscard]] const QString& MessagePath() const { return m_messagePath; }

    void FormCreate();
    void FormActivate();
    void BitBtn1Click();
    void kelColorButton1click();
    void BitBtn2Click();
    void MailMessage20001Progress(TMailPart* sender, std::size_t total, std::size_t current);
    void EmbeddedWB1ProgressChange(TEmbeddedWB* sender, int progress, int progressMax);
    void FormClose();
    static void Errorhandler();


protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void BuildComponents();
    void SetAttachmentsButton(bool enabled);
    void SetProgress(long long maximum, long long position);
    void WaitWhileBusy();

    QString m_messagePath;
    bool m_activating = false;
    int m_lastPermille = -1;
};
