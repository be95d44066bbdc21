#pragma once
// The viewer window: four header fields over the rendered message, the
// attachments button, Print and Close. The message is loaded when the window
// is first shown or activated, and again on a later activation only when the
// file changed on disk.
#include "MessageSecurity.h"
#include "TMailMessage2000.h"
#include "TEmbeddedWB.h"
#include "TkelColorButton.h"

#include <QWidget>

#include <QElapsedTimer>

#include <functional>
#include <sys/types.h>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QFrame;
class QVBoxLayout;
class TViewCommands;
class TSecurityBar;

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
    // The page area between Panel2 and Panel1: bars stacked above the page
    // (AddPageBar), then the page itself.
    QVBoxLayout* PageArea = nullptr;
    QFrame* RemoteContentBar = nullptr;
    QLabel* RemoteContentLabel = nullptr;
    QPushButton* RemoteContentButton = nullptr;
    TViewCommands* ViewCommands1 = nullptr; // find, zoom, source, keys
    // Whether the message's signature holds and whether it was encrypted,
    // as the last load found it; the bar above the page shows it.
    TMessageSecurity Security;
    TSecurityBar* SecurityBar = nullptr;

    [[nodiscard]] const QString& MessagePath() const { return m_messagePath; }
    // Puts a bar above the page, below the bars already there.
    void AddPageBar(QWidget* bar);
    // Failures the user must know of (a print that failed) are shown; the
    // command-line modes report on stderr instead.
    bool ShowNotices = true;
    // True from the start of a load until its page has finished loading.
    [[nodiscard]] bool IsLoading() const { return m_busy == TBusy::Loading || m_pageLoading; }

    void FormCreate();
    void FormActivate();
    void BitBtn1Click();
    void kelColorButton1click();
    void BitBtn2Click();
    void MailMessage20001Progress(TMailPart* sender, std::size_t total, std::size_t current);
    void EmbeddedWB1ProgressChange(TEmbeddedWB* sender, int progress, int progressMax);
    void FormClose();
    static void Errorhandler();
    void RemoteContentButtonClick();

signals:
    // The message is shown: fields filled and its page finished loading.
    void MessageShown();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void BuildComponents();
    void SetAttachmentsButton(bool enabled);
    void SetProgress(long long maximum, long long position);
    void WaitWhileBusy();
    void FillFields();
    [[nodiscard]] QString DateText() const;
    void PageFinished();
    void Print();
    void RunPending();

    // What the file on disk was when it was last loaded.
    struct TFileStamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long mtimeNs = 0;
        bool operator==(const TFileStamp&) const = default;
    };
    [[nodiscard]] static TFileStamp StampOf(const QString& path);

    // Work that runs nested event processing. While one runs, nothing that
    // frees or changes what it uses may run: closing, printing and the
    // attachments window wait for it and run when it has ended.
    enum class TBusy { Idle, Loading, Printing, Attachments };

    QString m_messagePath;
    TBusy m_busy = TBusy::Idle;
    bool m_pageLoading = false;
    bool m_loadedOnce = false;
    bool m_messageRead = false; // a file was read into the message at least once
    TFileStamp m_loadedStamp;
    bool m_closePending = false;
    bool m_printPending = false;
    bool m_attachmentsPending = false;
    QElapsedTimer m_progressClock;
    std::size_t m_progressNext = 0;
};
