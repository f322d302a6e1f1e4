// SerialPort on a POSIX terminal device.
//
// The descriptor is non-blocking; reads and writes wait in poll() on it and
// on a self-pipe.  Close writes to the pipe, which wakes every waiting call,
// and closes the descriptor only after the last of them has left the
// descriptor alone, so a descriptor number is never reused under a running
// poll or read.
//
// Reads take what the line has (up to a small buffer) and hand it out in
// the sizes asked for: the protocol reads one byte at a time, and one system
// call per byte would not keep up with an unpaced line.
#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace kx305 {

struct SerialPort::Impl {
    std::mutex mutex;
    std::condition_variable idle;
    int fd = -1;
    int wakeRead = -1;  // self-pipe: Close writes a byte to wakeWrite
    int wakeWrite = -1;
    int busy = 0;  // calls using fd outside the mutex
    std::atomic<bool> closing{false};

    // Read-ahead; used only by the reading thread.
    uint8_t ahead[512];
    size_t aheadBegin = 0;
    size_t aheadEnd = 0;

    // Enters a call on the descriptor; false once Close has begun.
    bool Enter(int& portFd, int& wakeFd) {
        std::lock_guard<std::mutex> lock(mutex);
        if (closing.load() || fd < 0) return false;
        ++busy;
        portFd = fd;
        wakeFd = wakeRead;
        return true;
    }

    void Leave() {
        std::lock_guard<std::mutex> lock(mutex);
        if (--busy == 0) idle.notify_all();
    }

    PortResult FillAhead();
};

namespace {

speed_t SpeedOf(uint32_t baudRate) {
    switch (baudRate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

// What a failed system call's errno comes to.
PortResult FromErrno(int error) {
    switch (error) {
    case 0:
        return PortResult::Ok;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
        return PortResult::NoSuchPort;
    case EBUSY:
    case EWOULDBLOCK:
        return PortResult::InUse;  // flock or TIOCEXCL held by another opener
    case ENOTTY:
    case EINVAL:
        return PortResult::NotSerial;
    case EIO:
        return PortResult::LineEnded;  // a pseudo-terminal whose other side is gone
    case ECANCELED:
        return PortResult::Closed;
    default:
        return PortResult::Failed;
    }
}

PortResult LastFailure() { return errno != 0 ? FromErrno(errno) : PortResult::Failed; }

bool MakePipe(int& readEnd, int& writeEnd) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    readEnd = fds[0];
    writeEnd = fds[1];
    for (int fd : fds) {
        if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
        if (fcntl(fd, F_SETFL, O_NONBLOCK) != 0) return false;
    }
    return true;
}

// Waits until `fd` is ready for `events` or the wake pipe fires.  Ok when
// the descriptor is ready (or reports a condition the next call will see),
// Closed when woken, or what the poll error comes to.
PortResult WaitFor(int fd, short events, int wakeFd, short& revents) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return LastFailure();
        }
        if (fds[1].revents != 0) return PortResult::Closed;
        revents = fds[0].revents;
        if (revents != 0) return PortResult::Ok;
    }
}

}  // namespace

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { Close(); }

PortResult SerialPort::Open(const char* path, uint32_t baudRate) {
    Close();
    Impl& p = *impl_;
    std::lock_guard<std::mutex> lock(p.mutex);
    p.closing.store(false);
    p.aheadBegin = p.aheadEnd = 0;

    errno = 0;
    if (!MakePipe(p.wakeRead, p.wakeWrite)) return LastFailure();
    p.fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.fd < 0) return LastFailure();
    // Exclusive: a lock every other opener of the device meets (TIOCEXCL
    // alone does not stop a privileged one).
    if (flock(p.fd, LOCK_EX | LOCK_NB) != 0) return LastFailure();
    if (ioctl(p.fd, TIOCEXCL) != 0) return LastFailure();

    termios tio{};
    if (tcgetattr(p.fd, &tio) != 0) return LastFailure();
    const speed_t speed = SpeedOf(baudRate);
    if (speed == B0) return PortResult::NotSerial;
    // Raw 8N1, receiver on, modem lines ignored, no flow control.
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return LastFailure();
    if (tcsetattr(p.fd, TCSANOW, &tio) != 0) return LastFailure();

    // DTR and RTS held on; a pseudo-terminal has no modem lines.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(p.fd, TIOCMBIS, &lines);
    return PortResult::Ok;
}

void SerialPort::Close() {
    Impl& p = *impl_;
    std::unique_lock<std::mutex> lock(p.mutex);
    if (p.fd < 0 && p.wakeRead < 0 && p.wakeWrite < 0) return;
    p.closing.store(true);
    if (p.wakeWrite >= 0) {
        const uint8_t wake = 1;
        [[maybe_unused]] const ssize_t n = write(p.wakeWrite, &wake, 1);
    }
    p.idle.wait(lock, [&p] { return p.busy == 0; });
    if (p.fd >= 0) {
        ioctl(p.fd, TIOCNXCL);
        close(p.fd);  // also drops the flock
        p.fd = -1;
    }
    for (int* fd : {&p.wakeRead, &p.wakeWrite}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

bool SerialPort::IsOpen() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->fd >= 0;
}

int SerialPort::CallsInside() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->busy;
}

PortResult SerialPort::Write(const uint8_t* data, size_t count) {
    Impl& p = *impl_;
    int fd = -1;
    int wakeFd = -1;
    if (!p.Enter(fd, wakeFd)) return PortResult::Closed;
    PortResult error = PortResult::Ok;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, data + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            short revents = 0;
            error = WaitFor(fd, POLLOUT, wakeFd, revents);
            if (error != PortResult::Ok) break;
            if (!(revents & POLLOUT)) {
                error = PortResult::LineEnded;  // hung up: the line will never take the bytes
                break;
            }
            continue;
        }
        error = n == 0 ? PortResult::LineEnded : LastFailure();
        break;
    }
    p.Leave();
    return error;
}

PortResult SerialPort::Impl::FillAhead() {
    int portFd = -1;
    int wakeFd = -1;
    if (!Enter(portFd, wakeFd)) return PortResult::Closed;
    PortResult error = PortResult::Ok;
    for (;;) {
        short revents = 0;
        error = WaitFor(portFd, POLLIN, wakeFd, revents);
        if (error != PortResult::Ok) break;
        const ssize_t n = read(portFd, ahead, sizeof ahead);
        if (n > 0) {
            aheadBegin = 0;
            aheadEnd = static_cast<size_t>(n);
            break;
        }
        // End of file: the other side hung up.  Reported as a failed read
        // so that the reader stops instead of spinning.
        if (n == 0) {
            error = PortResult::LineEnded;
            break;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN && !(revents & (POLLHUP | POLLERR | POLLNVAL))) continue;
        error = errno == EAGAIN ? PortResult::LineEnded : LastFailure();
        break;
    }
    Leave();
    return error;
}

PortResult SerialPort::Read(uint8_t* data, size_t count) {
    Impl& p = *impl_;
    size_t done = 0;
    while (done < count) {
        if (p.closing.load(std::memory_order_relaxed)) return PortResult::Closed;
        if (p.aheadBegin == p.aheadEnd) {
            if (const PortResult error = p.FillAhead(); error != PortResult::Ok) return error;
        }
        const size_t n = std::min(count - done, p.aheadEnd - p.aheadBegin);
        std::memcpy(data + done, p.ahead + p.aheadBegin, n);
        p.aheadBegin += n;
        done += n;
    }
    return PortResult::Ok;
}

}  // namespace kx305
