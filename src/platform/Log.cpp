#include "platform/Log.h"

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
    static const bool journal = [] {
        const char* choice = std::getenv("VANDORA_LOG");
        if (choice != nullptr && std::strcmp(choice, "stderr") == 0) {
            return false;
        }
        if (choice != nullptr && std::strcmp(choice, "journal") == 0) {
            return true;
        }
        return ::access("/run/systemd/journal/socket", W_OK) == 0;
    }();
    return journal;
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
        std::fputs(stderrLogLine(level, text).c_str(), stderr);
    }
}

}  // namespace

std::string stderrLogLine(LogLevel level, const std::string& text) {
    const char* label = level == LogLevel::Error     ? "error: "
                        : level == LogLevel::Warning ? "warning: "
                                                     : "";
    return "vandora: " + std::string(label) + text + "\n";
}

void logMessage(LogLevel level, const std::string& text, std::initializer_list<LogField> fields) {
    std::vector<LogField> list(fields);
    if (LogSink* sink = gSink.load()) {
        sink->write(level, text, list);
        return;
    }
    if (useJournal()) {
        toJournal(level, text, list);
        return;
    }
    // One write per message, so that lines of two threads do not mix.
    std::string line = stderrLogLine(level, text);
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}

void setLogSink(LogSink* sink) {
    gSink.store(sink);
}

}  // namespace vandora
