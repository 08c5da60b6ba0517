#include "platform/SerialTrace.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/Hex.h"
#include "platform/ThreadName.h"

#ifndef VANDORA_VERSION
#define VANDORA_VERSION "0"
#endif

namespace vandora {
namespace {

// Written at once beyond this, so that a burst (a picture, a firmware upload) does not pile up.
constexpr std::size_t kWriteAtBytes = std::size_t{64} * 1024;
constexpr std::uint64_t kFlushEveryUs = 1000000;

void appendNumber(std::string& out, std::uint64_t value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        out.push_back(digits[--n]);
    }
}

}  // namespace

SerialTrace::SerialTrace(Clock& clock) : clock_(&clock) {}

SerialTrace::~SerialTrace() {
    close();
}

const char* SerialTrace::version() {
    return VANDORA_VERSION;
}

int SerialTrace::open(const std::string& path, const std::string& program,
                      const std::string& terminal) {
    if (fd_ >= 0) {
        return EBUSY;
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno;
    }
    // An existing file keeps its mode on truncation: decodes must not be readable by others.
    (void)::fchmod(fd, 0600);
    fd_ = fd;
    startUs_ = clock_->nowUs();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
        buffer_ = "# " + program + " " + version() + "\n# " + terminal + "\n";
    }
    flush();
    // The flusher takes no signals: a program that blocks SIGTERM later to take it through a
    // descriptor must not have it delivered (and acted on by default) here.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    flusher_ = std::thread([this] {
        nameThisThread("trace");
        runFlusher();
    });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return 0;
}

void SerialTrace::close() {
    if (flusher_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        flusher_.join();
    }
    flush();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void SerialTrace::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    writeOut(lock);
}

void SerialTrace::writeOut(std::unique_lock<std::mutex>& lock) {
    if (fd_ < 0 || buffer_.empty()) {
        return;
    }
    std::string out;
    out.swap(buffer_);
    lock.unlock();
    std::size_t at = 0;
    while (at < out.size()) {
        ssize_t n = ::write(fd_, out.data() + at, out.size() - at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A full disk loses the rest of this piece; the program goes on untraced rather
            // than stopping its readers.
            break;
        }
        at += static_cast<std::size_t>(n);
    }
    lock.lock();
}

void SerialTrace::runFlusher() {
    RealClock& real = RealClock::instance();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (buffer_.empty()) {
            cv_.wait(lock, [this] { return stop_ || !buffer_.empty(); });
            continue;
        }
        // Lines are waiting: give them at most a second to gather company.
        (void)real.waitUntil(lock, cv_, real.nowUs() + kFlushEveryUs, [this] { return stop_; });
        writeOut(lock);
    }
}

void SerialTrace::startLine(const std::string& port) {
    std::uint64_t us = clock_->nowUs() - startUs_;
    appendNumber(buffer_, us / 1000000);
    buffer_.push_back('.');
    std::uint64_t fraction = us % 1000000;
    for (std::uint64_t unit = 100000; unit > 0; unit /= 10) {
        buffer_.push_back(static_cast<char>('0' + fraction / unit % 10));
    }
    buffer_.push_back(' ');
    buffer_ += port;
    buffer_.push_back(' ');
}

void SerialTrace::lineDone(bool wasIdle) {
    buffer_.push_back('\n');
    if (buffer_.size() >= kWriteAtBytes) {
        std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
        writeOut(lock);
        (void)lock.release();
        return;
    }
    if (wasIdle) {
        cv_.notify_one();
    }
}

void SerialTrace::comment(const std::string& text) {
    if (fd_ < 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bool idle = buffer_.empty();
    buffer_ += "# ";
    buffer_ += text;
    lineDone(idle);
}

void SerialTrace::bytes(const std::string& port, bool toEngine, const std::uint8_t* data,
                        std::size_t n) {
    if (fd_ < 0 || n == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bool idle = buffer_.empty();
    startLine(port);
    buffer_.push_back(toEngine ? '>' : '<');
    std::size_t at = buffer_.size();
    buffer_.resize(at + 3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        buffer_[at++] = ' ';
        buffer_[at++] = kUpperHexDigits[data[i] >> 4];
        buffer_[at++] = kUpperHexDigits[data[i] & 0xF];
    }
    lineDone(idle);
}

void SerialTrace::rate(const std::string& port, std::uint32_t baud) {
    if (fd_ < 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bool idle = buffer_.empty();
    startLine(port);
    buffer_ += "= ";
    appendNumber(buffer_, baud);
    lineDone(idle);
}

void SerialTrace::purge(const std::string& port) {
    if (fd_ < 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bool idle = buffer_.empty();
    startLine(port);
    buffer_ += "purge";
    lineDone(idle);
}

std::string traceTerminalLine(std::int32_t model, std::int32_t barcode, std::int32_t rfid) {
    return "model=" + std::to_string(model) + " barcode=" + std::to_string(barcode) +
           " rfid=" + std::to_string(rfid);
}

TracingSerialPort::TracingSerialPort(std::unique_ptr<SerialPort> inner, SerialTrace& trace,
                                     std::string name)
    : inner_(std::move(inner)), trace_(&trace), name_(std::move(name)) {}

int TracingSerialPort::open() {
    int rc = inner_->open();
    if (rc == 0) {
        rateKnown_ = false;
        head_ = tail_ = 0;
    }
    return rc;
}

void TracingSerialPort::close() {
    inner_->close();
    head_ = tail_ = 0;
}

int TracingSerialPort::purge(unsigned flags) {
    int rc = inner_->purge(flags);
    if (rc == 0) {
        if ((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0) {
            head_ = tail_ = 0;
        }
        trace_->purge(name_);
    }
    return rc;
}

int TracingSerialPort::setSettings(const PortSettings& settings) {
    int rc = inner_->setSettings(settings);
    if (rc == 0 && (!rateKnown_ || settings.baud != rate_)) {
        rateKnown_ = true;
        rate_ = settings.baud;
        trace_->rate(name_, settings.baud);
    }
    return rc;
}

int TracingSerialPort::read(std::uint8_t* buffer, std::size_t n, std::size_t& got) {
    got = 0;
    if (head_ == tail_) {
        std::size_t fresh = 0;
        int rc = inner_->read(ahead_.data(), ahead_.size(), fresh);
        trace_->bytes(name_, false, ahead_.data(), fresh);
        head_ = 0;
        tail_ = fresh;
        if (rc != 0 && fresh == 0) {
            return rc;
        }
    }
    got = std::min(n, tail_ - head_);
    std::memcpy(buffer, ahead_.data() + head_, got);
    head_ += got;
    return 0;
}

int TracingSerialPort::write(const std::uint8_t* data, std::size_t n, std::size_t& written) {
    int rc = inner_->write(data, n, written);
    trace_->bytes(name_, true, data, written);
    return rc;
}

std::unique_ptr<SerialPort> TracingPortProvider::create(int portNumber) {
    std::unique_ptr<SerialPort> port = inner_->create(portNumber);
    if (!port) {
        return port;
    }
    return std::make_unique<TracingSerialPort>(std::move(port), *trace_,
                                               "COM" + std::to_string(portNumber));
}

}  // namespace vandora
