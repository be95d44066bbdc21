#include "CommandLine.h"

#include <cstdio>
#include <cstring>

namespace {

// Kept in step with man/corvanta-viewer.1.in; the install test compares them.
constexpr const char* kUsage =
    "usage: corvanta-viewer [FILE.eml]\n"
    "       corvanta-viewer --print-to OUT.pdf FILE.eml\n"
    "       corvanta-viewer --write-language-file N PATH\n"
    "\n"
    "  FILE.eml                    show the message in the viewer window; without FILE\n"
    "                              the window opens with empty fields\n"
    "  --print-to OUT.pdf FILE.eml print the message as Print does into OUT.pdf, without\n"
    "                              a window; an existing OUT.pdf is kept\n"
    "  --write-language-file N PATH\n"
    "                              write block N (0 to 4) of the string table as a\n"
    "                              language file\n"
    "  --help                      show this text\n"
    "  --version                   show the version\n"
    "\n"
    "Exit status: 0 ok, 1 unreadable message, existing or unwritable output or failed\n"
    "print, 2 usage.\n";

} // namespace

int AnswerHelpOrVersion(int argc, char** argv)
{
    if (argc < 2)
        return -1;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("corvanta-viewer %s\n", CORVANTA_VERSION);
        return 0;
    }
    return -1;
}
