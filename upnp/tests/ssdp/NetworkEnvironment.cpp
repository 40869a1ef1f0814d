// Moves this test process into the namespaces of SsdpTestNetwork.h before the first test.
#include "SsdpTestNetwork.h"

namespace {

[[maybe_unused]] ::testing::Environment* const g_Network =
    ::testing::AddGlobalTestEnvironment(new ssdp_test::NetworkEnvironment);

} // namespace
