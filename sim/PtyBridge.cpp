#include "PtyBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "PseudoTerminal.h"

namespace vandora::sim {
namespace {

// Bytes the host writes in one go may reach the master in pieces; pieces this close together
// are handed to the model as one write, as a module without end marks needs them.
constexpr int kCoalesceMs = 2;
constexpr int kIdlePollMs = 200;
// Without a host on the slave side the master reports a hang-up at once; look again this often.
constexpr int kNoHostPollMs = 20;

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

class PtyBridge::Link final : public SimLink {
  public:
    explicit Link(PtyBridge& bridge) : bridge_(&bridge) {}

    std::uint64_t nowUs() override { return bridge_->clock_->nowUs(); }

    // Called with the bridge's lock held (from the model). Each answer goes to the line whole,
    // once its last byte would have arrived: a host purging right after it read a reply drops
    // the reply's unread tail, as it would on a wire where it cannot act between two bytes.
    void send(const std::uint8_t* data, std::size_t size, std::uint64_t delayUs) override {
        if (size == 0) {
            return;
        }
        std::uint64_t start = nowUs() + delayUs;
        if (!bridge_->out_.empty()) {
            start = std::max(start, bridge_->out_.back().timeUs);
        }
        Burst burst;
        burst.timeUs = start + size * SimulatedPort::byteTimeUs(baud_);
        burst.bytes.assign(data, data + size);
        bridge_->out_.push_back(std::move(burst));
    }
    void setCts(bool /*on*/) override {}
    std::uint32_t baud() const override { return baud_; }

    std::uint32_t baud_ = 9600;

  private:
    PtyBridge* bridge_;
};

PtyBridge::PtyBridge(std::shared_ptr<EngineModel> model, Clock& clock)
    : model_(std::move(model)), clock_(&clock), link_(std::make_unique<Link>(*this)) {}

PtyBridge::~PtyBridge() {
    stop();
}

int PtyBridge::start() {
    if (master_ >= 0) {
        return EBUSY;
    }
    int master = -1;
    std::string name;
    if (int error = openRawPseudoTerminal(master, name); error != 0) {
        return error;
    }
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        int error = errno;
        ::close(master);
        return error;
    }
    master_ = master;
    slavePath_ = name;
    if (model_) {
        std::lock_guard<std::mutex> lock(mutex_);
        link_->baud_ = hostBaud();
        model_->onOpen(*link_);
    }
    thread_ = std::thread([this] { run(); });
    return 0;
}

void PtyBridge::stop() {
    if (thread_.joinable()) {
        char byte = 1;
        (void)!::write(wake_[1], &byte, 1);
        thread_.join();
    }
    closeFd(master_);
    closeFd(wake_[0]);
    closeFd(wake_[1]);
}

std::uint32_t PtyBridge::hostBaud() const {
    return pseudoTerminalBaud(master_);
}

void PtyBridge::waitForStop(int ms) {
    pollfd fd{wake_[0], POLLIN, 0};
    (void)::poll(&fd, 1, ms);
}

void PtyBridge::flushDue() {
    std::vector<std::uint8_t> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::uint64_t now = clock_->nowUs();
        while (!out_.empty() && out_.front().timeUs <= now) {
            due.insert(due.end(), out_.front().bytes.begin(), out_.front().bytes.end());
            out_.pop_front();
        }
    }
    std::size_t at = 0;
    while (at < due.size()) {
        ssize_t n = ::write(master_, due.data() + at, due.size() - at);
        if (n <= 0) {
            // A full or closed line: the rest is lost, as on a wire nobody listens to.
            return;
        }
        if (trace_ != nullptr) {
            trace_->bytes(tracePort_, false, due.data() + at, static_cast<std::size_t>(n));
        }
        at += static_cast<std::size_t>(n);
    }
}

void PtyBridge::run() {
    std::vector<std::uint8_t> buffer(4096);
    for (;;) {
        int timeoutMs = kIdlePollMs;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!out_.empty()) {
                std::uint64_t now = clock_->nowUs();
                std::uint64_t next = out_.front().timeUs;
                timeoutMs = next <= now ? 0 : static_cast<int>((next - now + 999) / 1000);
            }
        }
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::size_t got = 0;
            for (;;) {
                ssize_t n = ::read(master_, buffer.data() + got, buffer.size() - got);
                if (n <= 0) {
                    break;
                }
                got += static_cast<std::size_t>(n);
                pollfd more{master_, POLLIN, 0};
                if (got == buffer.size() || ::poll(&more, 1, kCoalesceMs) <= 0 ||
                    (more.revents & POLLIN) == 0) {
                    break;
                }
            }
            if (got > 0) {
                std::uint32_t baud = hostBaud();
                if (trace_ != nullptr) {
                    if (baud != tracedBaud_) {
                        tracedBaud_ = baud;
                        trace_->rate(tracePort_, baud);
                    }
                    trace_->bytes(tracePort_, true, buffer.data(), got);
                }
                std::lock_guard<std::mutex> lock(mutex_);
                link_->baud_ = baud;
                if (model_) {
                    model_->onHostBytes(buffer.data(), got, baud, *link_);
                }
            }
        } else if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            // Nobody has the slave side open: what was still to be said is lost with the host.
            {
                std::lock_guard<std::mutex> lock(mutex_);
                out_.clear();
            }
            waitForStop(kNoHostPollMs);
            continue;
        }
        flushDue();
    }
}

}  // namespace vandora::sim
