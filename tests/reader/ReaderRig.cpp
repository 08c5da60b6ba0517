#include "ReaderRig.h"

#include <gtest/gtest.h>

#include "reader/PortOps.h"

namespace vandora::testing {

void ReaderRig::openPortForTest(ReaderChannel& channel) {
    ASSERT_EQ(openPort(channel), 1) << "lastError " << channel.lastError;
}

}  // namespace vandora::testing
