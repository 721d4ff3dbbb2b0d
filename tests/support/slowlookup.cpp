// Preloaded into a program under test (LD_PRELOAD), makes the name lookup of any host name that
// ends in ".slow-lookup.test" take a minute, as with a name server that does not answer; every
// other lookup goes to the C library as usual.

#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr unsigned lookupSeconds = 60;
constexpr char slowSuffix[] = ".slow-lookup.test";

bool isSlow(const char *node)
{
    const auto length = node ? std::strlen(node) : 0;
    const auto suffix = sizeof slowSuffix - 1;
    return length > suffix && std::strcmp(node + length - suffix, slowSuffix) == 0;
}

} // namespace

extern "C" int getaddrinfo(
    const char *node, const char *service, const struct addrinfo *hints, struct addrinfo **result)
{
    if (isSlow(node)) {
        ::sleep(lookupSeconds);
        return EAI_AGAIN;
    }
    using Lookup = int (*)(const char *, const char *, const struct addrinfo *, struct addrinfo **);
    static const auto next = reinterpret_cast<Lookup>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    return next(node, service, hints, result);
}
