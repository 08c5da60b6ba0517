// The simulated terminal's description (--simulate): it takes only what a terminal model carries,
// says why it refuses the rest, and every terminal it takes finds its engines at a first start,
// in virtual time.
#include "SimulatedTerminal.h"

#include <gtest/gtest.h>

#include "reader/ReaderManager.h"
#include "rfid/link/RfidLink.h"

namespace vandora::sim::testing {
namespace {

TEST(TerminalSpec, TakesWhatTheModelCarriesAndRefusesTheRestWithTheReason) {
    struct Case {
        const char* text;
        // Taken: the terminal; refused: the reason (model, barcode and rfid unused).
        const char* error;
        std::int32_t model = 0;
        std::int32_t barcode = 0;
        std::int32_t rfid = 0;
    };
    const Case cases[] = {
        {"", nullptr, 4, 3, 0},
        {"model=1,barcode=2,rfid=6", nullptr, 1, 2, 6},
        {"model=2,barcode=4,rfid=5", nullptr, 2, 4, 5},
        {"model=3,rfid=5", nullptr, 3, 3, 5},
        {"model=0,barcode=8,rfid=6", nullptr, 0, 8, 6},
        {"model=4,barcode=3,rfid=7", nullptr, 4, 3, 7},
        {"model=4,barcode=0,rfid=0", nullptr, 4, 0, 0},
        {"model=5,barcode=9", nullptr, 5, 9, 0},
        // A model named alone gets its 2D imager.
        {"model=5", nullptr, 5, 8, 0},
        // Each model's RFID module is of one kind (two on an unknown model); model 4 reaches its
        // port 2 only through the binary link, and model 5 has none.
        {"model=1,rfid=5", "model=1 has no RFID module 5: its RFID module is 6 (or rfid=0)"},
        {"model=4,rfid=5", "model=4 has no RFID module 5: its RFID module is 7 (or rfid=0)"},
        {"model=2,rfid=6", "model=2 has no RFID module 6: its RFID module is 5 (or rfid=0)"},
        {"model=4,rfid=6", "model=4 has no RFID module 6: its RFID module is 7 (or rfid=0)"},
        {"model=0,rfid=7", "model=0 has no RFID module 7: its RFID module is 5 or 6 (or rfid=0)"},
        {"model=5,barcode=8,rfid=5", "model=5 has no RFID module (rfid=0 only)"},
        {"model=5,barcode=3",
         "model=5 has no barcode engine 3: its barcode engine is 8 or 9 (or barcode=0)"},
        {"model=4,barcode=4",
         "model=4 has no barcode engine 4: its barcode engine is 2, 3 or 8 (or barcode=0)"},
        {"model=1,barcode=9",
         "model=1 has no barcode engine 9: its barcode engine is 2, 3 or 4 (or barcode=0)"},
        {"barcode=7", "bad field 'barcode=7': barcode is 0, 2, 3, 4, 8 or 9"},
        {"model=6", "bad field 'model=6': model is 0 to 5"},
        {"rfid", "bad field 'rfid'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TerminalSpec spec;
        std::string error;
        bool taken = parseTerminalSpec(c.text, spec, error);
        if (c.error != nullptr) {
            EXPECT_FALSE(taken);
            EXPECT_EQ(error, c.error);
            continue;
        }
        ASSERT_TRUE(taken) << error;
        EXPECT_EQ(spec.model, c.model);
        EXPECT_EQ(spec.barcode, c.barcode);
        EXPECT_EQ(spec.rfid, c.rfid);
    }
}

// Every terminal taken starts as a first start does (no settings file: both engines
// looked for in the model's detection order) and finds exactly the engines it was given.
TEST(TerminalSpec, EveryTerminalTakenFindsItsEnginesAtAFirstStart) {
    for (std::int32_t model = 0; model <= 5; ++model) {
        for (std::int32_t barcode : {0, 2, 3, 4, 8, 9}) {
            for (std::int32_t rfid : {0, 5, 6, 7}) {
                std::string text = "model=" + std::to_string(model) +
                                   ",barcode=" + std::to_string(barcode) +
                                   ",rfid=" + std::to_string(rfid);
                TerminalSpec spec;
                std::string error;
                if (!parseTerminalSpec(text, spec, error)) {
                    continue;
                }
                SCOPED_TRACE(text);
                VirtualClock clock;
                SimulatedTerminal terminal(spec, clock);
                ReaderPlatform platform = terminal.platform();
                RfidLink link(*platform.ports, clock);
                platform.rfidLink = &link;
                ReaderManager manager(platform);
                manager.startReaders(EngineType(barcode != 0 ? 1 : 0),
                                     EngineType(rfid != 0 ? 1 : 0));
                EXPECT_EQ(manager.statusText.narrow(), "");
                EXPECT_EQ(manager.barcodeReady.load(), barcode != 0 ? 1 : 0);
                EXPECT_EQ(toNumber(manager.barcodeEngineType()), barcode);
                EXPECT_EQ(manager.rfidReady.load(), rfid != 0 ? 1 : 0);
                EXPECT_EQ(toNumber(manager.rfidEngineType()), rfid);
            }
        }
    }
}

}  // namespace
}  // namespace vandora::sim::testing
