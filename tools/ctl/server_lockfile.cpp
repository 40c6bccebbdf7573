#include "server_lockfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace qo3964;

namespace qoctl {

namespace {

// The start of a small file as a NUL-terminated text; false when nothing
// could be read.
template <std::size_t N>
bool read_start(const char* path, char (&text)[N])
{
    text[0] = '\0';
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const ssize_t n = read(fd, text, N - 1);
    close(fd);
    text[n > 0 ? n : 0] = '\0';
    return n > 0;
}

// The state letter of /proc/<pid>/stat; 0 when it cannot be read.
char process_state(pid_t pid)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    // "pid (name) S ...": the name may hold blanks and parentheses itself,
    // so the state follows the last ')'.
    char text[512];
    if (!read_start(path, text)) {
        return 0;
    }
    const char* close_paren = std::strrchr(text, ')');
    if (close_paren == nullptr || close_paren[1] != ' ') {
        return 0;
    }
    return close_paren[2];
}

}  // namespace

LockfileName lockfile_name(const KeyFile& key_file)
{
    LockfileName name{};
    std::snprintf(name.path, sizeof name.path, "/tmp/qo_%s_A", key_file.path);
    constexpr std::size_t PREFIX = sizeof "/tmp/qo_" - 1;
    const std::size_t end = std::strlen(name.path) - (sizeof "_A" - 1);
    for (std::size_t i = PREFIX; i < end; ++i) {
        char& c = name.path[i];
        if (c == '/' || c == '.' || c == ' ') {
            c = '_';
        }
    }
    return name;
}

pid_t lockfile_pid(const LockfileName& lockfile)
{
    // The server writes "%d\n"; it reads at most 15 bytes of it itself.
    char text[16];
    if (!read_start(lockfile.path, text)) {
        return 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    if (end == text || pid <= 0 || pid > INT32_MAX) {
        return 0;
    }
    return static_cast<pid_t>(pid);
}

bool process_running(pid_t pid)
{
    if (pid <= 0) {
        return false;
    }
    if (kill(pid, 0) != 0 && errno != EPERM) {
        return false;
    }
    const char state = process_state(pid);
    return state != 'Z' && state != 'X';
}

}  // namespace qoctl
