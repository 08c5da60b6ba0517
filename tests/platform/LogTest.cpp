#include "platform/Log.h"

#include <gtest/gtest.h>

#include <string>

namespace vandora {
namespace {

TEST(Log, StandardErrorLineNamesTheLevel) {
    struct Case {
        LogLevel level;
        const char* line;
    };
    const Case cases[] = {
        {LogLevel::Error, "vandora: error: No barcode scanner is installed.\n"},
        {LogLevel::Warning, "vandora: warning: No barcode scanner is installed.\n"},
        {LogLevel::Notice, "vandora: notice: No barcode scanner is installed.\n"},
        {LogLevel::Info, "vandora: info: No barcode scanner is installed.\n"},
        {LogLevel::Debug, "vandora: debug: No barcode scanner is installed.\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stderrLogLine(c.level, "No barcode scanner is installed."), c.line);
    }
}

TEST(Log, TargetFollowsTheVariableElseTheJournalSocket) {
    struct Case {
        const char* choice;
        bool socket;
        LogTarget target;
    };
    const Case cases[] = {
        {nullptr, true, LogTarget::Journal},
        {nullptr, false, LogTarget::StandardError},
        {"stderr", true, LogTarget::StandardError},
        {"journal", false, LogTarget::Journal},
        // An unknown value is as if unset.
        {"syslog", true, LogTarget::Journal},
        {"", false, LogTarget::StandardError},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chooseLogTarget(c.choice, c.socket), c.target)
            << (c.choice != nullptr ? c.choice : "(unset)") << " socket " << c.socket;
    }
}

TEST(Log, JournalStreamMatchesOnlyItsOwnDeviceAndInode) {
    struct Case {
        const char* value;
        bool same;
    };
    const Case cases[] = {
        {"8:123456", true}, {"8:123457", false},  {"9:123456", false},
        {nullptr, false},   {"", false},          {"8", false},
        {"8:", false},      {"8:123456x", false}, {"8:123456:1", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(journalStreamIs(c.value, 8, 123456), c.same)
            << (c.value != nullptr ? c.value : "(unset)");
    }
}

TEST(Log, SinkTakesEveryMessageWithItsFieldsUntilReset) {
    CaptureLogSink capture;
    {
        ScopedLogSink logTo(capture);
        logMessage(LogLevel::Error, "The barcode scanner fails, error code = 7",
                   {{"ERROR_CODE", "7"}, {"PORT", "/dev/ttyS0"}});
        logMessage(LogLevel::Info, "started");
    }
    logMessage(LogLevel::Debug, "after the reset: not captured");
    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].level, LogLevel::Error);
    EXPECT_EQ(entries[0].text, "The barcode scanner fails, error code = 7");
    ASSERT_NE(entries[0].field("ERROR_CODE"), nullptr);
    EXPECT_EQ(*entries[0].field("ERROR_CODE"), "7");
    EXPECT_EQ(*entries[0].field("PORT"), "/dev/ttyS0");
    EXPECT_EQ(entries[0].field("ERRNO"), nullptr);
    EXPECT_EQ(entries[1].level, LogLevel::Info);
    EXPECT_TRUE(entries[1].fields.empty());
}

}  // namespace
}  // namespace vandora
