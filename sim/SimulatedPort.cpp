#include "SimulatedPort.h"

#include <algorithm>
#include <cerrno>

namespace vandora::sim {

void EngineModel::onLines(bool rts, bool /*dtr*/, SimLink& link) {
    link.setCts(rts);
}

void EchoModel::onHostBytes(const std::uint8_t* data, std::size_t size, std::uint32_t baud,
                            SimLink& link) {
    received.insert(received.end(), data, data + size);
    lastBaud = baud;
    link.send(data, size, delayUs_);
}

SimulatedPort::SimulatedPort(Clock& clock, std::shared_ptr<EngineModel> model)
    : clock_(&clock), model_(std::move(model)) {}

SimulatedPort::~SimulatedPort() {
    if (onDestroy) {
        onDestroy();
    }
}

std::uint64_t SimulatedPort::byteTimeUs(std::uint32_t baud) {
    if (baud == 0) {
        return 0;
    }
    return (10ULL * 1000000ULL + baud - 1) / baud;
}

int SimulatedPort::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_) {
        return EBUSY;
    }
    if (faults_.openError != 0) {
        return faults_.openError;
    }
    if (!model_) {
        return ENOENT;
    }
    open_ = true;
    ++counters_.opens;
    rx_.clear();
    model_->onOpen(*this);
    return 0;
}

void SimulatedPort::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_) {
        open_ = false;
        ++counters_.closes;
        rx_.clear();
        ++generation_;
    }
    arrived_.notify_all();
}

bool SimulatedPort::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

int SimulatedPort::setBufferSizes(std::size_t /*input*/, std::size_t /*output*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_ ? 0 : EBADF;
}

int SimulatedPort::purge(unsigned flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    ++counters_.purges;
    if ((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0) {
        // What has arrived is dropped, and so is the rest of any answer already on the line: a
        // real host is never fast enough to purge between two bytes of one packet. Answers the
        // engine has not started yet still come.
        std::uint64_t now = clock_->nowUs();
        std::erase_if(rx_, [now](const Pending& p) { return p.burstStartUs <= now; });
    }
    return 0;
}

int SimulatedPort::getSettings(PortSettings& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    out = settings_;
    return 0;
}

int SimulatedPort::setSettings(const PortSettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    ++counters_.setSettings;
    if (faults_.refusedBauds.contains(settings.baud)) {
        return EINVAL;
    }
    bool linesChanged = settings.rts != settings_.rts || settings.dtr != settings_.dtr;
    settings_ = settings;
    if (linesChanged && model_) {
        model_->onLines(settings_.rts, settings_.dtr, *this);
    }
    return 0;
}

int SimulatedPort::getTimeouts(PortTimeouts& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    out = timeouts_;
    return 0;
}

int SimulatedPort::setTimeouts(const PortTimeouts& timeouts) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    ++counters_.setTimeouts;
    timeouts_ = timeouts;
    return 0;
}

int SimulatedPort::read(std::uint8_t* buffer, std::size_t n, std::size_t& got) {
    got = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    if (faults_.readError != 0) {
        return faults_.readError;
    }
    std::uint64_t deadline =
        clock_->nowUs() + static_cast<std::uint64_t>(timeouts_.readConstantMs) * 1000;
    for (;;) {
        std::uint64_t now = clock_->nowUs();
        if (!rx_.empty() && rx_.front().timeUs <= now) {
            break;
        }
        if (now >= deadline) {
            return 0;
        }
        std::uint64_t target = deadline;
        if (!rx_.empty() && rx_.front().timeUs < target) {
            target = rx_.front().timeUs;
        }
        std::uint64_t generation = generation_;
        clock_->waitUntil(lock, arrived_, target, [&] {
            return generation_ != generation ||
                   (!rx_.empty() && rx_.front().timeUs <= clock_->nowUs());
        });
        if (!open_) {
            return EBADF;
        }
        if (faults_.readError != 0) {
            return faults_.readError;
        }
    }
    std::uint64_t now = clock_->nowUs();
    while (got < n && !rx_.empty() && rx_.front().timeUs <= now) {
        buffer[got++] = rx_.front().byte;
        rx_.pop_front();
    }
    return 0;
}

int SimulatedPort::write(const std::uint8_t* data, std::size_t n, std::size_t& written) {
    written = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    ++counters_.writes;
    if (faults_.writeError != 0) {
        return faults_.writeError;
    }
    // The oldest half goes once the tail holds twice the kept size: amortised constant work.
    if (hostBytes_.size() + n > 2 * kKeptHostBytes) {
        std::size_t keep = std::min(hostBytes_.size(), kKeptHostBytes);
        hostBytes_.erase(hostBytes_.begin(), hostBytes_.begin() + static_cast<std::ptrdiff_t>(
                                                                      hostBytes_.size() - keep));
    }
    hostBytes_.insert(hostBytes_.end(), data, data + n);
    std::uint64_t now = clock_->nowUs();
    hostLineFreeUs_ = std::max(hostLineFreeUs_, now) + n * byteTimeUs(settings_.baud);
    written = n;
    if (model_) {
        model_->onHostBytes(data, n, settings_.baud, *this);
    }
    return 0;
}

int SimulatedPort::drain(std::uint32_t timeoutMs) {
    std::uint64_t lineFreeUs = 0;
    bool stuck = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) {
            return EBADF;
        }
        lineFreeUs = hostLineFreeUs_;
        stuck = faults_.outputStuck;
    }
    const std::uint64_t deadlineUs = clock_->deadlineAfterMs(timeoutMs);
    if (stuck && deadlineUs == Clock::kForever) {
        return ETIMEDOUT;
    }
    const std::uint64_t untilUs = stuck ? deadlineUs : std::min(lineFreeUs, deadlineUs);
    const std::uint64_t now = clock_->nowUs();
    if (untilUs > now) {
        clock_->sleepUs(untilUs - now);
    }
    return stuck || lineFreeUs > deadlineUs ? ETIMEDOUT : 0;
}

int SimulatedPort::getModemStatus(std::uint32_t& bits) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) {
        return EBADF;
    }
    ++counters_.modemReads;
    if (faults_.noModemLines) {
        return ENOTTY;
    }
    bits = cts_ ? std::uint32_t{kModemCts} : 0U;
    return 0;
}

void SimulatedPort::send(const std::uint8_t* data, std::size_t size, std::uint64_t delayUs) {
    if (size == 0) {
        return;
    }
    std::uint64_t byteTime = byteTimeUs(settings_.baud);
    std::uint64_t start = std::max(clock_->nowUs(), hostLineFreeUs_) + delayUs;
    if (!rx_.empty()) {
        start = std::max(start, rx_.back().timeUs);
    }
    std::uint64_t t = start;
    for (std::size_t i = 0; i < size; ++i) {
        t += byteTime;
        rx_.push_back({t, start, data[i]});
    }
    ++generation_;
    arrived_.notify_all();
}

void SimulatedPort::withLock(const std::function<void(SimPortFaults&)>& change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(faults_);
        ++generation_;
    }
    arrived_.notify_all();
}

SimPortCounters SimulatedPort::counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::vector<std::uint8_t> SimulatedPort::hostBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hostBytes_;
}

void SimulatedPort::clearHostBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    hostBytes_.clear();
}

PortSettings SimulatedPort::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

bool SimulatedPort::ctsOn() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cts_;
}

void SimulatedPortProvider::attach(int portNumber, std::shared_ptr<EngineModel> model) {
    if (portNumber >= 0 && portNumber < 8) {
        models_[portNumber] = std::move(model);
    }
}

std::unique_ptr<SerialPort> SimulatedPortProvider::create(int portNumber) {
    if (portNumber < 0 || portNumber >= 8) {
        return nullptr;
    }
    auto port = std::make_unique<SimulatedPort>(*clock_, models_[portNumber]);
    port->faults() = faults_[portNumber];
    SimulatedPort* raw = port.get();
    last_[portNumber] = raw;
    port->onDestroy = [this, portNumber, raw] {
        if (last_[portNumber] == raw) {
            last_[portNumber] = nullptr;
        }
    };
    return port;
}

SimulatedPort* SimulatedPortProvider::lastPort(int portNumber) const {
    return portNumber >= 0 && portNumber < 8 ? last_[portNumber] : nullptr;
}

bool SimEngineReadyLine::read(std::uint32_t& value) {
    ++calls;
    SimulatedPort* port = provider_->lastPort(portNumber_);
    if (port == nullptr || !port->isOpen()) {
        return false;
    }
    value = port->ctsOn() ? 0 : 1;
    return true;
}

}  // namespace vandora::sim
