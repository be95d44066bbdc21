#pragma once
// The bar above the page that says whether the message's signature holds
// and whether it was encrypted: green when it holds and is trusted, the
// notice colour when it could not be relied on either way, the warning
// colour when the message was changed or its key is no longer good.
#include "MessageSecurity.h"

#include <QFrame>
#include <QStringList>

class QLabel;

class TSecurityBar : public QFrame {
    Q_OBJECT
public:
    enum class TLook { Good, Notice, Warning };

    explicit TSecurityBar(QWidget* parent = nullptr);
    // Shows what the security of the message comes to, or hides the bar
    // for a message that is neither signed nor encrypted.
    void Show(const TMessageSecurity& security);
    [[nodiscard]] TLook Look() const { return m_look; }
    [[nodiscard]] QString Text() const;

private:
    QLabel* m_label = nullptr;
    TLook m_look = TLook::Notice;
};

// The lines of the bar, one per signature and one for the encryption.
[[nodiscard]] QStringList SecurityLines(const TMessageSecurity& security);
[[nodiscard]] TSecurityBar::TLook SecurityLook(const TMessageSecurity& security);
