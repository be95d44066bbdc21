#pragma once
// The attachments window: lists a message's real (non-embedded)
// attachments, saves the selected ones (or all) into a chosen folder, opens
// one with the desktop's associated program (a forwarded message in a second
// viewer), lets them be dragged out, and in edit mode adds and removes
// attachments.
#include "TMailMessage2000.h"

#include <QDialog>
#include <QUrl>

#include <functional>
#include <memory>

class QFileDialog;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMimeData;
class QPushButton;
class QSettings;

class TAttachmentsform : public QDialog {
    Q_OBJECT
public:
    explicit TAttachmentsform(QWidget* owner = nullptr);
    ~TAttachmentsform() override;

    QPushButton* Selectbut = nullptr;
    QPushButton* CloseBut = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QPushButton* RemBut = nullptr;
    QLabel* Label1 = nullptr;
    QListWidget* attachments = nullptr;
    QFileDialog* SaveDialog1 = nullptr; // present, never used
    TMailMessage2000* MailMessage = nullptr;
    QPushButton* SaveBut = nullptr;
    QPushButton* Exebut = nullptr;
    bool ViewOnly = false;

    void FormCreate();
    void FormShow();
    void SelectbutClick();
    void RemButClick();
    void Savethisfile1Click();
    void ExecuteRun1Click();
    void attachmentsDblClick();
    void CloseButClick();

    // Where the dialogs, the openers and the notices go; tests put their own
    // here. ExecDialog gets the add dialog as prepared and returns the chosen
    // paths; ChooseFolder returns the destination folder (empty: cancelled).
    // Opener hands a file to the desktop, OpenMessage a forwarded message to
    // a second viewer; both return false when nothing could be started.
    std::function<QStringList(QFileDialog*)> ExecDialog;
    std::function<QString(const QString& title, const QString& startFolder)> ChooseFolder;
    std::function<bool(const QUrl&)> Opener;
    std::function<bool(const QString& path)> OpenMessage;
    // stays: the notice waits until the user closes it (a failure, files
    // saved under other names), else it closes by itself.
    std::function<void(const QString& title, const QString& text, bool stays)> Notice;

    // The settings file: corvanta.ini beside the executable, or in the
    // user's configuration folder when that folder is not writable.
    [[nodiscard]] static QString SettingsFileName();
    static void SetSettingsFileName(const QString& path); // for tests

    // The attachment row k stands for (the k-th non-embedded one), and the
    // file name the row saves under.
    [[nodiscard]] TMailPart* AttachmentOfRow(int row) const;
    [[nodiscard]] QString FileNameOfRow(int row) const;
    // The folder Execute/Run wrote its last file into.
    [[nodiscard]] QString LastOpenFolder() const { return m_lastOpenFolder; }
    // Drag and drop: copies of the rows in a private folder, as file URLs.
    [[nodiscard]] QMimeData* MimeDataOfRows(const QList<int>& rows);

    // Private folders written for Execute/Run and drags during this run;
    // removed when the program ends, except those holding a file that
    // another program still has open or was started on.
    [[nodiscard]] static QStringList PrivateFolders();
    static void RemovePrivateFolders();

protected:
    void showEvent(QShowEvent* e) override;

private:
    [[nodiscard]] int AttachListIndexOfRow(int row) const;
    [[nodiscard]] static QString StartFolder(const QString& remembered);

    std::unique_ptr<TMailMessage2000> m_ownMessage;
    QString m_lastOpenFolder;
};

extern TAttachmentsform* Attachmentsform;
