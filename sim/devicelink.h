// The symbolic link (such as build/bin/com9) through which a master program finds the meters.
#pragma once

#include <string>

class DeviceLink
{
public:
    explicit DeviceLink(std::string path);
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Replaces a link left behind by an earlier run, but never a file or folder of another kind.
    bool pointAt(const std::string &target, std::string &error);
    // Removes the link only while it is still ours, so that a newer run's link survives.
    void remove();

    const std::string &path() const { return m_path; }

private:
    std::string m_path;
    std::string m_target;
};

// The link's default place: com9 in the folder of the running executable.
std::string defaultLinkPath();
