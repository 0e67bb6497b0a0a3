// POSIX side of console output.
#include "platform/console_io.hpp"

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kov::console_io {

bool write_all(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            int r = ::poll(&pfd, 1, -1);
            if (r < 0 && errno != EINTR) return false;
            if (r > 0 && (pfd.revents & (POLLERR | POLLNVAL))) return false;
            continue;
        }
        return false;  // an error, or a write of 0 bytes that would repeat forever
    }
    return true;
}

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

bool terminal_size(int fd, int& columns, int& rows) {
    columns = rows = 0;
    winsize ws{};
    if (::ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
    columns = ws.ws_col;
    rows = ws.ws_row;
    return true;
}

}  // namespace kov::console_io
