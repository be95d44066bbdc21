#include "DetachedProgram.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The status pipe's write end in the started program: kept open across
// closing every other descriptor, closed by a successful exec.
constexpr int kStatusFd = 3;

// A descriptor at kStatusFd + 1 or above, close-on-exec, so that moving the
// status end to kStatusFd never lands on one of them (nor on 0 to 2 when
// the viewer was started with one of those closed).
int AboveStandard(int fd)
{
    if (fd > kStatusFd)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kStatusFd + 1);
    ::close(fd);
    return moved;
}

bool ReadAll(int fd, void* data, std::size_t size)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

// In the started program, before exec: only calls that are safe after fork
// in a process with threads.
[[noreturn]] void RunProgram(const char* path, char* const* argv, int status, int openMax)
{
    if (status != kStatusFd) {
        ::dup2(status, kStatusFd);
        ::fcntl(kStatusFd, F_SETFD, FD_CLOEXEC);
    }
    if (::syscall(SYS_close_range, kStatusFd + 1, ~0U, 0) != 0)
        for (int fd = kStatusFd + 1; fd < openMax; ++fd)
            ::close(fd);
    // Standard input, output and error stay what they are here, and are
    // there: a closed one would be taken by the next file the program opens.
    for (int fd = 0; fd < 3; ++fd)
        if (::fcntl(fd, F_GETFD) < 0) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    const pid_t self = ::getpid();
    WriteAll(kStatusFd, &self, sizeof self);
    ::execv(path, argv);
    const int error = errno;
    WriteAll(kStatusFd, &error, sizeof error);
    ::_exit(127);
}

} // namespace

qint64 StartDetachedProgram(const QString& program, const QStringList& arguments, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return qint64(-1);
    };
    // Everything exec needs is made before fork.
    const QString found = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty() || !QFileInfo(found).isExecutable())
        return fail(QStringLiteral("%1 was not found").arg(program));
    const QByteArray path = QFile::encodeName(found);
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString& a : arguments)
        args.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    rlimit files {};
    const int openMax = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                            ? static_cast<int>(std::min<rlim_t>(files.rlim_cur, 1 << 20))
                            : 1 << 16;

    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    status[0] = AboveStandard(status[0]);
    status[1] = AboveStandard(status[1]);
    if (status[0] < 0 || status[1] < 0) {
        const int e = errno;
        for (int fd : status)
            if (fd >= 0)
                ::close(fd);
        return fail(QString::fromLocal8Bit(std::strerror(e)));
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(status[0]);
        ::close(status[1]);
        return fail(QString::fromLocal8Bit(std::strerror(e)));
    }
    if (child == 0) {
        // A session of its own, and a second fork: the program is nobody's
        // child here, so it never waits as a zombie for this process.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0)
            RunProgram(path.constData(), argv.data(), status[1], openMax);
        if (grandchild < 0) {
            const pid_t none = -1;
            const int e = errno;
            WriteAll(status[1], &none, sizeof none);
            WriteAll(status[1], &e, sizeof e);
        }
        ::_exit(0);
    }
    ::close(status[1]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_t started = -1;
    int execError = 0;
    const bool gotPid = ReadAll(status[0], &started, sizeof started);
    // End of file without an error: exec succeeded and closed the pipe.
    const bool failed = !gotPid || started < 0 || ReadAll(status[0], &execError, sizeof execError);
    ::close(status[0]);
    if (failed)
        return fail(QString::fromLocal8Bit(std::strerror(execError ? execError : ECHILD)));
    return started;
}

bool OpenWithDesktop(const QUrl& url)
{
    return StartDetachedProgram(QStringLiteral("xdg-open"),
                                {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)})
           >= 0;
}
