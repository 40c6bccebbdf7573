// SPDX-License-Identifier: MIT
#include "port_path_check.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qo3964 {

namespace {

// As the kernel's limit on links followed in one lookup.
constexpr int LINKS_MAX = 40;

// The path still to walk: its text and where the next component begins.
// Fixed buffers: the server checks the path again at every reopen.
struct Walk {
    char done[PATH_MAX] = "/";       // the directory reached so far, links resolved
    struct stat done_info {};        // and what lstat says of it
    char rest[2 * PATH_MAX] = "";    // what is still to be walked
    int links = 0;
};

// `first`/`second` into `out`; false when it does not fit.
bool join(char* out, size_t size, const char* first, const char* second)
{
    const int length = std::snprintf(out, size, "%s/%s", first, second);
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool too_long(const char* path, char* why, size_t why_size)
{
    std::snprintf(why, why_size, "%.200s...: the path is too long to be checked", path);
    return false;
}

bool trusted_owner(uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

// Takes the next component off `rest` into `name`; false when none is left.
bool next_component(Walk& walk, char* name, size_t name_size)
{
    char* begin = walk.rest;
    while (*begin == '/') {
        ++begin;
    }
    if (*begin == '\0') {
        walk.rest[0] = '\0';
        return false;
    }
    const char* end = std::strchr(begin, '/');
    const size_t length = end != nullptr ? static_cast<size_t>(end - begin) : std::strlen(begin);
    std::snprintf(name, name_size, "%.*s", static_cast<int>(length), begin);
    std::memmove(walk.rest, begin + length, std::strlen(begin + length) + 1);
    return true;
}

void go_up(Walk& walk)
{
    char* slash = std::strrchr(walk.done, '/');
    if (slash != nullptr && slash != walk.done) {
        *slash = '\0';
    } else {
        std::snprintf(walk.done, sizeof walk.done, "/");
    }
    lstat(walk.done, &walk.done_info);
}

// The directory `walk.done` may hold `entry` (with `info`) safely.
bool entry_safe(const Walk& walk, const char* entry, const struct stat& info, char* why, size_t why_size)
{
    const struct stat& dir = walk.done_info;
    if (!trusted_owner(dir.st_uid)) {
        std::snprintf(why, why_size, "%s lies in the directory %s, which belongs to user ID %ld", entry, walk.done,
                      static_cast<long>(dir.st_uid));
        return false;
    }
    if ((dir.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
        return true;
    }
    if ((dir.st_mode & S_ISVTX) == 0) {
        std::snprintf(why, why_size, "%s lies in the directory %s, which other accounts may write", entry, walk.done);
        return false;
    }
    if (!trusted_owner(info.st_uid)) {
        std::snprintf(why, why_size,
                      "%s lies in the directory %s, which other accounts may write, and belongs to user ID %ld",
                      entry, walk.done, static_cast<long>(info.st_uid));
        return false;
    }
    return true;
}

// Puts a link's target in front of what is still to walk.
bool follow_link(Walk& walk, const char* entry, char* why, size_t why_size)
{
    if (++walk.links > LINKS_MAX) {
        std::snprintf(why, why_size, "%s: too many symbolic links on the way", entry);
        return false;
    }
    char target[PATH_MAX];
    const ssize_t length = readlink(entry, target, sizeof target - 1);
    if (length < 0) {
        return true;  // left to the open
    }
    target[length] = '\0';
    char rest[sizeof walk.rest];
    if (!join(rest, sizeof rest, target, walk.rest)) {
        return too_long(entry, why, why_size);
    }
    std::memcpy(walk.rest, rest, sizeof rest);
    if (target[0] == '/') {
        std::snprintf(walk.done, sizeof walk.done, "/");
        lstat(walk.done, &walk.done_info);
    }
    return true;
}

}  // namespace

bool port_path_trusted(const char* path, char* why, size_t why_size)
{
    Walk walk;
    why[0] = '\0';
    if (path[0] == '/') {
        if (std::strlen(path) >= sizeof walk.rest) {
            return too_long(path, why, why_size);
        }
        std::memcpy(walk.rest, path, std::strlen(path) + 1);
    } else {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            return true;
        }
        if (!join(walk.rest, sizeof walk.rest, cwd, path)) {
            return too_long(path, why, why_size);
        }
    }
    if (lstat(walk.done, &walk.done_info) != 0) {
        return true;
    }
    char name[NAME_MAX + 1];
    while (next_component(walk, name, sizeof name)) {
        if (std::strcmp(name, ".") == 0) {
            continue;
        }
        if (std::strcmp(name, "..") == 0) {
            go_up(walk);
            continue;
        }
        char entry[PATH_MAX];
        const bool at_root = std::strcmp(walk.done, "/") == 0;
        if (!join(entry, sizeof entry, at_root ? "" : walk.done, name)) {
            return too_long(walk.done, why, why_size);
        }
        struct stat info {};
        if (lstat(entry, &info) != 0) {
            return true;  // left to the open
        }
        if (!entry_safe(walk, entry, info, why, why_size)) {
            return false;
        }
        if (S_ISLNK(info.st_mode)) {
            if (!follow_link(walk, entry, why, why_size)) {
                return false;
            }
            continue;
        }
        std::snprintf(walk.done, sizeof walk.done, "%s", entry);
        walk.done_info = info;
    }
    return true;
}

}  // namespace qo3964
