// Whole writes and reads on a file descriptor (a pipe, a socket, a file), going on after a signal
// interrupted them; false when the other end is gone or an error stopped them.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

inline bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

inline bool readAll(int fd, char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}
