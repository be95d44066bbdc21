#include "MonospaceFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

#include <fontconfig/fontconfig.h>

namespace {

// Fontconfig's families for "monospace", best first: the user's and the
// system's configuration decide, as they do for every other program.
QStringList MonospaceFamilies()
{
    QStringList families;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("monospace"));
    if (!pattern)
        return families;
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result)) {
        for (int i = 0; i < set->nfont && families.size() < 16; ++i) {
            FcChar8* family = nullptr;
            if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &family) == FcResultMatch && family) {
                const QString name = QString::fromUtf8(reinterpret_cast<const char*>(family));
                if (!families.contains(name))
                    families << name;
            }
        }
        FcFontSetDestroy(set);
    }
    FcPatternDestroy(pattern);
    return families;
}

// The first of them whose glyphs Qt finds all of one width. Some fonts that
// fontconfig offers as "monospace" (Noto Sans Mono) carry a few wider
// glyphs, and text laid out in them no longer lines up in columns.
QString ChosenFamily()
{
    for (const QString& family : MonospaceFamilies()) {
        QFont font(family);
        font.setStyleHint(QFont::TypeWriter);
        if (QFontInfo(font).fixedPitch())
            return family;
    }
    return {};
}

} // namespace

QFont MonospaceFont(int pixelSize)
{
    static const QString family = ChosenFamily();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!family.isEmpty()) {
        const QFont system = font;
        font = QFont(family);
        font.setStyleHint(QFont::TypeWriter);
        if (system.pixelSize() > 0)
            font.setPixelSize(system.pixelSize());
        else
            font.setPointSizeF(system.pointSizeF());
    }
    if (pixelSize > 0)
        font.setPixelSize(pixelSize);
    return font;
}
