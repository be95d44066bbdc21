// corvanta-gpgsm-offline: gpgsm without its network helper. GPGME cannot
// ask gpgsm to stay offline while it checks a signature, and gpgsm would
// otherwise fetch certificate revocation lists (telling a CA's server that
// the message was read); GPGME runs this in gpgsm's place, which runs gpgsm
// with --disable-dirmngr and every argument it was given.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<char*> args;
    args.push_back(const_cast<char*>("gpgsm"));
    args.push_back(const_cast<char*>("--disable-dirmngr"));
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execvp("gpgsm", args.data());
    std::fprintf(stderr, "corvanta-gpgsm-offline: cannot run gpgsm: %s\n", std::strerror(errno));
    return 127;
}
