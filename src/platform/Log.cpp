#include "platform/Log.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vandora {

namespace {

std::atomic<LogSink*> gSink{nullptr};

bool useJournal() {
    static const bool journal =
        chooseLogTarget(std::getenv("VANDORA_LOG"),
                        ::access("/run/systemd/journal/socket", W_OK) == 0) == LogTarget::Journal;
    return journal;
}

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::Error:
            return "error";
        case LogLevel::Warning:
            return "warning";
        case LogLevel::Notice:
            return "notice";
        case LogLevel::Info:
            return "info";
        case LogLevel::Debug:
            return "debug";
    }
    return "info";
}

void toStderr(LogLevel level, const std::string& text) {
    // One write per message, so that lines of two threads do not mix.
    std::string line = stderrLogLine(level, text);
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}

void toJournal(LogLevel level, const std::string& text, const std::vector<LogField>& fields) {
    std::vector<std::string> lines;
    lines.reserve(fields.size() + 3);
    lines.push_back("MESSAGE=" + text);
    lines.push_back("PRIORITY=" + std::to_string(static_cast<int>(level)));
    lines.emplace_back("SYSLOG_IDENTIFIER=vandora");
    for (const auto& [name, value] : fields) {
        lines.push_back(std::string(name) + "=" + value);
    }
    std::vector<iovec> parts(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        parts[i].iov_base = lines[i].data();
        parts[i].iov_len = lines[i].size();
    }
    if (sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) < 0) {
        toStderr(level, text);
    }
}

}  // namespace

LogTarget chooseLogTarget(const char* choice, bool journalSocket) {
    if (choice != nullptr && std::strcmp(choice, "stderr") == 0) {
        return LogTarget::StandardError;
    }
    if (choice != nullptr && std::strcmp(choice, "journal") == 0) {
        return LogTarget::Journal;
    }
    return journalSocket ? LogTarget::Journal : LogTarget::StandardError;
}

std::string stderrLogLine(LogLevel level, const std::string& text) {
    return std::string("vandora: ") + levelName(level) + ": " + text + "\n";
}

bool journalStreamIs(const char* journalStream, dev_t device, ino_t inode) {
    if (journalStream == nullptr) {
        return false;
    }
    unsigned long long streamDevice = 0;
    unsigned long long streamInode = 0;
    char end = 0;
    if (std::sscanf(journalStream, "%llu:%llu%c", &streamDevice, &streamInode, &end) != 2) {
        return false;
    }
    return streamDevice == device && streamInode == inode;
}

bool stderrIsJournal() {
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0) {
        return false;
    }
    return journalStreamIs(std::getenv("JOURNAL_STREAM"), st.st_dev, st.st_ino);
}

void logMessage(LogLevel level, const std::string& text, std::initializer_list<LogField> fields) {
    if (LogSink* sink = gSink.load()) {
        sink->write(level, text, std::vector<LogField>(fields));
        return;
    }
    if (useJournal()) {
        toJournal(level, text, std::vector<LogField>(fields));
        return;
    }
    toStderr(level, text);
}

bool logWritesStandardError() {
    return gSink.load() == nullptr && !useJournal();
}

void setLogSink(LogSink* sink) {
    gSink.store(sink);
}

const std::string* CaptureLogSink::Entry::field(const char* name) const {
    for (const auto& [key, value] : fields) {
        if (std::strcmp(key, name) == 0) {
            return &value;
        }
    }
    return nullptr;
}

void CaptureLogSink::write(LogLevel level, const std::string& text,
                           const std::vector<LogField>& fields) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({level, text, fields});
}

std::vector<CaptureLogSink::Entry> CaptureLogSink::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

}  // namespace vandora
