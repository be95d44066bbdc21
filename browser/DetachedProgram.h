#pragma once
// Starting other programs (the desktop's opener for links and attachments,
// a second viewer) so that they get nothing of this process but its
// standard input, output and error: the engine's sockets, shared memory and
// files stay here, and its helper processes end with the viewer, not with
// the last program it started.
#include <QString>
#include <QStringList>
#include <QUrl>

// Starts program (a path, or a name looked up in PATH) with arguments in a
// session of its own (setsid), detached: nobody waits for it. Returns its
// process id, or -1 with error set when it could not be started.
qint64 StartDetachedProgram(const QString& program, const QStringList& arguments, QString* error = nullptr);

// Hands url to the desktop's opener (xdg-open) that way; false when there is
// none or it could not be started.
bool OpenWithDesktop(const QUrl& url);
