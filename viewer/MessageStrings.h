#pragma once
// The program's table of user-visible strings: five blocks of fixed 256-byte
// slots (a length byte and 255 text bytes), filled at start-up with built-in
// English texts and overlaid, block by block, by language files beside the
// executable ("langdefmod0.dat" to "langdefmod4.dat"). The slot positions
// are the language files' format.
#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

namespace MessageStrings {

constexpr int kBlocks = 5;
constexpr int kSlotSize = 256;
[[nodiscard]] int SlotCount(int block);
[[nodiscard]] int BlockSize(int block);
[[nodiscard]] QString LanguageFileName(int block);
[[nodiscard]] QString DownloadAddress();

// Entry b:s as bytes, and as text for widgets.
[[nodiscard]] std::string Bytes(int block, int slot);
[[nodiscard]] QString Text(int block, int slot);

// The block's current image, as a language file holds it.
[[nodiscard]] QByteArray BlockImage(int block);

using ErrorReporter = std::function<void(const QString& message)>;

// Start-up, once: the template file in folder (or, when that folder cannot
// be written, in fallbackFolder), then each block from its built-in texts
// and its language file in folder. A language file that cannot be read or
// is too short is reported and leaves the block's built-in texts. Later calls
// are ignored until Reset().
void Initialize(const QString& folder, const QString& fallbackFolder, const ErrorReporter& onError);
void Reset();

// Writes project_template.txt into folder unless it exists. Returns the
// path written or found, or an empty text when the folder is not writable.
QString WriteProjectTemplate(const QString& folder);
[[nodiscard]] QByteArray ProjectTemplateBytes();

} // namespace MessageStrings
