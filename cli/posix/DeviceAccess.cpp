#include "cli/DeviceAccess.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vyx::cli {

namespace {

bool ProcessHasGroup(gid_t gid) {
    if (getegid() == gid) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.end();
}

bool DatabaseListsUser(const group* entry, const char* user) {
    if (entry == nullptr || user == nullptr) {
        return false;
    }
    for (char** member = entry->gr_mem; *member != nullptr; ++member) {
        if (std::strcmp(*member, user) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<DeviceAccess> LookUpDeviceAccess(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    DeviceAccess access;
    access.mode = info.st_mode & 07777U;
    const passwd* owner = getpwuid(info.st_uid);
    access.owner = owner != nullptr ? owner->pw_name : std::to_string(info.st_uid);
    const group* entry = getgrgid(info.st_gid);
    access.group = entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
    access.inGroup = ProcessHasGroup(info.st_gid);
    const passwd* self = getpwuid(geteuid());
    // getpwuid reuses its result: the owner's name was copied before this second call.
    access.listedInGroup = DatabaseListsUser(entry, self != nullptr ? self->pw_name : nullptr) ||
                           (self != nullptr && self->pw_gid == info.st_gid);
    return access;
}

std::string BusyHint(const std::string& path) {
    return "hint: close the other program (`fuser -v " + path + "` shows which)";
}

}  // namespace vyx::cli
