#include "SecurityBar.h"

#include "EngineText.h"
#include "Look.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

const QColor kGoodGreen(214, 240, 208);
const QColor kNoticeYellow(255, 244, 184);
const QColor kWarningRed(255, 196, 190);

} // namespace

QStringList SecurityLines(const TMessageSecurity& security)
{
    QStringList lines;
    if (security.Encrypted())
        lines << FromEngineBytes(EncryptionSentence(security));
    for (const TSignature& s : security.signatures)
        lines << FromEngineBytes(SignatureSentence(s));
    return lines;
}

TSecurityBar::TLook SecurityLook(const TMessageSecurity& security)
{
    if (security.encryption == TEncryptionState::NoKey || security.encryption == TEncryptionState::Failed)
        return TSecurityBar::TLook::Notice;
    const TSignature* deciding = DecidingSignature(security);
    if (!deciding)
        return TSecurityBar::TLook::Notice; // decrypted, not signed: anyone may encrypt to you
    if (IsWarning(deciding->verdict))
        return TSecurityBar::TLook::Warning;
    if (deciding->verdict == TSignatureVerdict::Good && !deciding->addressDiffers && !deciding->partial)
        return TSecurityBar::TLook::Good;
    return TSecurityBar::TLook::Notice;
}

TSecurityBar::TSecurityBar(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("SecurityBar"));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 3, 6, 3);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("SecurityLabel"));
    // Names come from keys anyone can make: never read as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_label->setFont(SansFont(12, true));
    layout->addWidget(m_label, 1);
    hide();
}

QString TSecurityBar::Text() const { return m_label->text(); }

void TSecurityBar::Show(const TMessageSecurity& security)
{
    const QStringList lines = SecurityLines(security);
    if (lines.isEmpty()) {
        m_label->clear();
        hide();
        return;
    }
    m_look = SecurityLook(security);
    const QColor color = m_look == TLook::Good      ? kGoodGreen
                         : m_look == TLook::Warning ? kWarningRed
                                                    : kNoticeYellow;
    FillBackground(this, color);
    QFont font = m_label->font();
    font.setBold(m_look == TLook::Warning);
    m_label->setFont(font);
    m_label->setText(lines.join(QLatin1Char('\n')));
    show();
}
