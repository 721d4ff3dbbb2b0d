#include "sim/devicelink.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string linkTargetOf(const std::string &path)
{
    std::error_code failure;
    const auto target = std::filesystem::read_symlink(path, failure);
    return failure ? std::string() : target.string();
}

} // namespace

DeviceLink::DeviceLink(std::string path)
    : m_path(std::move(path))
{ }

DeviceLink::~DeviceLink()
{
    remove();
}

bool DeviceLink::pointAt(const std::string &target, std::string &error)
{
    struct stat existing
    {
    };
    if (::lstat(m_path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = m_path + " exists and is not a symbolic link";
        return false;
    }
    // Made under a temporary name and renamed over the old link, so that a master program looking
    // it up never finds the name missing or half made.
    const std::string temporary = m_path + ".meter-sim-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = "symlink " + temporary + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = "rename to " + m_path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    m_target = target;
    return true;
}

void DeviceLink::remove()
{
    if (m_target.empty())
        return;
    if (linkTargetOf(m_path) == m_target)
        ::unlink(m_path.c_str());
    m_target.clear();
}

std::string defaultLinkPath()
{
    std::error_code failure;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", failure);
    const auto folder = failure ? std::filesystem::current_path() : executable.parent_path();
    return (folder / "com9").string();
}
