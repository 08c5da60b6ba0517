// The registry file, the engine-ready control file and the program's folders.
#include <gtest/gtest.h>

#include <filesystem>

#include "PlatformTestUtil.h"
#include "platform/EngineReadyLine.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

namespace vandora::testing {
namespace {

constexpr const char* kIdent = "HKEY_LOCAL_MACHINE\\Ident";

TEST(RegistryKey, ValuesOfTheIdentKey) {
    struct Case {
        const char* what;
        std::optional<std::string> file;  // nullopt: no file at all
        bool keyFound;
        std::optional<std::string> model;  // nullopt: no such value
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"both values", "[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=4\nName=HRT400CE\n", true, "4",
         "HRT400CE"},
        {"missing file", std::nullopt, false, std::nullopt, std::nullopt},
        {"empty file", "", false, std::nullopt, std::nullopt},
        {"other section only", "[HKEY_LOCAL_MACHINE\\Other]\nDeviceModel=4\n", false, std::nullopt,
         std::nullopt},
        {"value of another section is not ours",
         "[HKEY_LOCAL_MACHINE\\Other]\nName=X\n[HKEY_LOCAL_MACHINE\\Ident]\nDeviceModel=2\n"
         "[Later]\nName=Y\n",
         true, "2", std::nullopt},
        {"empty value", "[HKEY_LOCAL_MACHINE\\Ident]\nName=\n", true, std::nullopt, ""},
        {"CRLF lines and indentation", "  [HKEY_LOCAL_MACHINE\\Ident]\r\n DeviceModel=1\r\n", true,
         "1", std::nullopt},
        {"last line without newline", "[HKEY_LOCAL_MACHINE\\Ident]\nName=HRT100CE", true,
         std::nullopt, "HRT100CE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFile file;
        if (c.file) {
            file.write(*c.file);
        }
        ScopedEnv env("VANDORA_REGISTRY", file.path());
        std::optional<RegistryKey> key = RegistryKey::open(kIdent);
        ASSERT_EQ(key.has_value(), c.keyFound);
        if (!key) {
            continue;
        }
        for (auto [valueName, expected] : {std::pair{"DeviceModel", c.model}, {"Name", c.name}}) {
            std::string text = "unchanged";
            EXPECT_EQ(key->queryValue(valueName, text), expected.has_value()) << valueName;
            EXPECT_EQ(text, expected.value_or("unchanged")) << valueName;
        }
    }
}

TEST(RegistryKey, FilePathFromTheEnvironmentElseEtc) {
    {
        ScopedEnv env("VANDORA_REGISTRY", std::nullopt);
        EXPECT_EQ(registryFilePath(), "/etc/vandora/registry.ini");
    }
    ScopedEnv env("VANDORA_REGISTRY", "/tmp/reg.ini");
    EXPECT_EQ(registryFilePath(), "/tmp/reg.ini");
}

TEST(FileEngineReadyLine, ReadsTheFileAsADecimalNumber) {
    struct Case {
        const char* what;
        bool setVariable;
        std::optional<std::string> file;
        bool ok;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"zero", true, "0\n", true, 0},
        {"one", true, "1", true, 1},
        {"other number", true, "17\n", true, 17},
        {"no variable", false, "1\n", false, 0},
        {"missing file", true, std::nullopt, false, 0},
        {"not a number", true, "high\n", false, 0},
        {"empty file", true, "", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFile file;
        if (c.file) {
            file.write(*c.file);
        }
        ScopedEnv env("VANDORA_ENGINE_READY",
                      c.setVariable ? std::optional<std::string>(file.path()) : std::nullopt);
        FileEngineReadyLine line;
        std::uint32_t value = 99;
        EXPECT_EQ(line.read(value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 99u);
    }
}

TEST(FileEngineReadyLine, FollowsTheFileBetweenCalls) {
    ScratchFile file;
    file.write("0\n");
    FileEngineReadyLine line(file.path());
    std::uint32_t value = 7;
    ASSERT_TRUE(line.read(value));
    EXPECT_EQ(value, 0u);
    file.write("1\n");
    ASSERT_TRUE(line.read(value));
    EXPECT_EQ(value, 1u);
}

TEST(Folders, FromTheEnvironmentWithATrailingSlash) {
    struct Case {
        std::optional<std::string> value;
        std::string programExpected;  // empty: the test program's own folder
        std::string systemExpected;
    };
    const Case cases[] = {
        {"/opt/vandora", "/opt/vandora/", "/opt/vandora/"},
        {"/opt/vandora/", "/opt/vandora/", "/opt/vandora/"},
        {std::nullopt, "", "/usr/lib/vandora/system/"},
        {"", "", "/usr/lib/vandora/system/"},
    };
    std::string ownFolder =
        std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        ScopedEnv home("VANDORA_HOME", c.value);
        ScopedEnv system("VANDORA_SYSTEM_DIR", c.value);
        EXPECT_EQ(programFolder(), c.programExpected.empty() ? ownFolder : c.programExpected);
        EXPECT_EQ(systemFolder(), c.systemExpected);
    }
}

TEST(Folders, StateFolderFromXdgStateHomeElseHome) {
    struct Case {
        std::optional<std::string> stateHome;
        std::optional<std::string> home;
        std::string expected;
    };
    const Case cases[] = {
        {"/var/state", "/home/u", "/var/state/vandora/"},
        {"/var/state/", "/home/u", "/var/state/vandora/"},
        {std::nullopt, "/home/u", "/home/u/.local/state/vandora/"},
        {"", "/home/u/", "/home/u/.local/state/vandora/"},
        // Only an absolute path counts.
        {"relative/state", "/home/u", "/home/u/.local/state/vandora/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stateHome.value_or("(unset)"));
        ScopedEnv state("XDG_STATE_HOME", c.stateHome);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(stateFolder(), c.expected);
    }
}

}  // namespace
}  // namespace vandora::testing
