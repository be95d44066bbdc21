#pragma once
// The attachments window: lists a message's real (non-embedded)
// attachments, saves the selected ones into a chosen folder, opens one with
// the desktop's associated program, and in edit mode adds and removes
// attachments.
#include "TMailMessage2000.h"

#include <QDialog>
#include <QUrl>

#include <functional>
#include <memory>

class QFileDialog;
class QLabel;
class QListWidget;
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
    QFileDialog* OpenDialog2 = nullptr;
    bool ViewOnly = false;

    void FormCreate();
    void FormShow();
    void SelectbutClick();
    void RemButClick();
    void Savethisfile1Click();
    void ExecuteRun1Click();
    void attachmentsDblClick();
    void CloseButClick();

    // Where the dialogs and the opener come from; tests put their own here.
    // Each file dialog hook gets the dialog as prepared and returns the
    // chosen paths (empty when the user cancels).
    std::function<QStringList(QFileDialog*)> ExecDialog;
    std::function<bool(const QUrl&)> Opener;

    // The settings file: corvanta.ini beside the executable, or in the
    // user's configuration folder when that folder is not writable.
    [[nodiscard]] static QString SettingsFileName();
    static void SetSettingsFileName(const QString& path); // for tests

    // The attachment row k stands for (the k-th non-embedded one).
    [[nodiscard]] TMailPart* AttachmentOfRow(int row) const;
    // The folder Execute/Run wrote its last file into.
    [[nodiscard]] QString LastOpenFolder() const { return m_lastOpenFolder; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    [[nodiscard]] int AttachListIndexOfRow(int row) const;
    [[nodiscard]] static QString StartFolder(const QString& remembered);

    std::unique_ptr<TMailMessage2000> m_ownMessage;
    QString m_lastOpenFolder;
};

extern TAttachmentsform* Attachmentsform;
