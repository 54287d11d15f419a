// Telling a user why a device that is there cannot be opened.
#include "platform/device_selection.h"

#include <atomic>
#include <cstdio>
#include <grp.h>
#include <sys/stat.h>

namespace orvane::platform {
namespace {

// Once per process: a reopen tried every second must not repeat it.
std::atomic<bool> reported{false};

} // namespace

void reportNoAccess(const std::string& path) {
    if (reported.exchange(true))
        return;
    std::string owner;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (const struct group* g = ::getgrgid(info.st_gid))
            owner = g->gr_name;
    }
    if (owner.empty() || owner == "root")
        std::fprintf(stderr,
                     "%s: permission denied; install the udev rule 60-orvane-ftdi.rules (it "
                     "gives the logged-in user access), then plug the sensor in again\n",
                     path.c_str());
    else
        std::fprintf(stderr,
                     "%s: permission denied; install the udev rule 60-orvane-ftdi.rules (it "
                     "gives the logged-in user access) or join the group that owns it: sudo "
                     "usermod -aG %s \"$USER\", then log in again\n",
                     path.c_str(), owner.c_str());
}

} // namespace orvane::platform
