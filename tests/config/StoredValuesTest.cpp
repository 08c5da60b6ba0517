// The start-up check of a settings file: every value a hand edit put out of its key's limits is
// named with its section, key, value and what the key allows; values within them, and sections
// and keys the program does not know, say nothing.
#include <gtest/gtest.h>

#include "config/IniTestUtil.h"
#include "config/SettingLimits.h"

namespace vandora::testing {
namespace {

struct StoredCase {
    const char* label;
    const char* file;
    std::vector<std::string> said;
};

TEST(StoredValues, OutOfLimitsValuesAreNamedWithWhatTheyAllow) {
    const StoredCase cases[] = {
        {"within the limits", "[General]\r\nkeyboardEmu=2\r\nprefixStr=abc\r\n", {}},
        {"out of range",
         "[General]\r\nkeyboardEmu=99\r\n",
         {"[General] keyboardEmu=99: outside 0 to 2 (allowed: 0 to 2)"}},
        {"not a number, names compared without case",
         "[barcode reader ccd/laser]\r\nLASERONTIME=abc\r\n",
         {"[Barcode Reader CCD/Laser] laserOnTime=abc: not a number (allowed: 1 to 9)"}},
        {"the same key name has its own limits in each section",
         "[Barcode Reader 2D]\r\nlaserOnTime=5\r\n",
         {"[Barcode Reader 2D] laserOnTime=5: outside 10 to 90 (allowed: 10 to 90)"}},
        {"a key without a row of its own is a byte",
         "[Code39 CCD/Laser]\r\nenable=300\r\n",
         {"[Code39 CCD/Laser] enable=300: outside 0 to 255 (allowed: 0 to 255)"}},
        {"a Mifare key is a secret: its value is not repeated",
         "[RFID]\r\nmifareLoginKeyA=12345\r\n",
         {"[RFID] mifareLoginKeyA=(hidden): not 12 hexadecimal digits (allowed: 12 hexadecimal "
          "digits)"}},
        {"several, in file order",
         "[General]\r\nvibrationTime=-1\r\nwindowEvent=1\r\n[RFID]\r\nrfidRW=2\r\n",
         {"[General] vibrationTime=-1: outside 0 to 10 (allowed: 0 to 10)",
          "[RFID] rfidRW=2: outside 0 to 1 (allowed: 0 to 1)"}},
        {"unknown sections and keys are another program's",
         "[Other]\r\nkeyboardEmu=99\r\n[General]\r\nsomethingElse=x\r\n",
         {}},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(c.label);
        IniStore store = parsed(bytesOf(c.file));
        EXPECT_EQ(invalidStoredValues(store), c.said);
    }
}

}  // namespace
}  // namespace vandora::testing
