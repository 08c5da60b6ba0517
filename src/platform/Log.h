// Log: the service's messages about itself, with a priority and structured fields, to the
// systemd journal, or to standard error where there is no journal.
//
// The journal is used when its socket exists (or VANDORA_LOG=journal); VANDORA_LOG=stderr forces
// standard error, where a message is written as "vandora: <text>" (warnings and errors as
// "vandora: warning: <text>" and "vandora: error: <text>"). Fields are journal fields
// (ENGINE_TYPE, PORT, BAUD, ERROR_CODE, ...); on standard error they are left out.
//
// The good-read road never logs: a read costs no log call. Threading: any thread.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace vandora {

// syslog's levels.
enum class LogLevel : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

using LogField = std::pair<const char*, std::string>;

class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, const std::string& text,
                       const std::vector<LogField>& fields) = 0;
};

void logMessage(LogLevel level, const std::string& text,
                std::initializer_list<LogField> fields = {});
// Where messages go from now on; null: back to the journal or standard error. For tests.
void setLogSink(LogSink* sink);
// The line standard error gets for a message.
std::string stderrLogLine(LogLevel level, const std::string& text);

}  // namespace vandora
