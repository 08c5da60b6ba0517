// The family letters: one table serves the letter module's naming, the decode record's letter
// (DecodeFormatTest) and the family names vandoractl shows for a record's letter.
#include <gtest/gtest.h>

#include <string>

#include "rfid/TagTable.h"

namespace vandora {
namespace {

TEST(TagLetters, ARecordsLetterNamesItsFamily) {
    struct Case {
        char16_t letter;
        const char* familyName;
    };
    // M is the whole type A family, not the Mifare row's name; Z and V are the families of their
    // rows 5 and 16.
    const Case cases[] = {
        {u'I', "Icode"},
        {u'M', "ISO14443 Type A"},
        {u'Z', "ISO14443, Type B"},
        {u'S', "ISO14443 Type B, SR176"},
        {u'T', "Tagit"},
        {u'V', "ISO15693"},
        {u'Q', "unknown tag"},
        {u'\0', "unknown tag"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(tagFamilyName(c.letter), c.familyName) << static_cast<int>(c.letter);
    }
}

}  // namespace
}  // namespace vandora
