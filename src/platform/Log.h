// Log: the service's messages about itself, with a priority and structured fields, to the
// systemd journal, or to standard error where there is no journal.
//
// The journal is used when its socket exists (or VANDORA_LOG=journal); VANDORA_LOG=stderr forces
// standard error, where a message is one line "vandora: <level>: <text>" (level "error",
// "warning", "notice", "info" or "debug"). Fields are journal fields (ENGINE_TYPE, PORT, BAUD,
// ERROR_CODE, ERRNO, ...); on standard error they are left out.
//
// The good-read road never logs: a read costs no log call. Threading: any thread; a message is
// one journal entry or one write, never mixed with another thread's.
#pragma once

#include <sys/types.h>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vandora {

// syslog's levels.
enum class LogLevel : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// A journal field: its name (a string literal, upper case) and its value.
using LogField = std::pair<const char*, std::string>;

class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, const std::string& text,
                       const std::vector<LogField>& fields) = 0;
};

void logMessage(LogLevel level, const std::string& text,
                std::initializer_list<LogField> fields = {});
// Whether messages go to standard error now (no journal, no sink of a test).
bool logWritesStandardError();
// Where messages go from now on; null: back to the journal or standard error. For tests.
void setLogSink(LogSink* sink);

enum class LogTarget { Journal, StandardError };
// The target for VANDORA_LOG's value (null when unset) and whether the journal's socket is there.
LogTarget chooseLogTarget(const char* choice, bool journalSocket);
// The line standard error gets for a message.
std::string stderrLogLine(LogLevel level, const std::string& text);
// Whether standard error is a stream into the journal (a service started by systemd): its
// JOURNAL_STREAM value ("device:inode") names the stream that standard error is.
bool stderrIsJournal();
bool journalStreamIs(const char* journalStream, dev_t device, ino_t inode);

// Keeps every message it is given, for tests.
class CaptureLogSink final : public LogSink {
  public:
    struct Entry {
        LogLevel level;
        std::string text;
        std::vector<LogField> fields;
        // The value of the field name; nullptr when the entry has no such field.
        const std::string* field(const char* name) const;
    };
    void write(LogLevel level, const std::string& text,
               const std::vector<LogField>& fields) override;
    std::vector<Entry> entries() const;

  private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Sends messages to sink while it lives (tests).
class ScopedLogSink {
  public:
    explicit ScopedLogSink(LogSink& sink) { setLogSink(&sink); }
    ~ScopedLogSink() { setLogSink(nullptr); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;
};

}  // namespace vandora
