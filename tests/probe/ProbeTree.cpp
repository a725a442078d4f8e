// hbprobe tree-demo: the test engine's tree from a description file, reported,
// selected and recovered as the program does it (see ProbeRecover.h).

#include "tests/probe/Probe.h"
#include "tests/probe/ProbeRecover.h"
#include "tests/support/TestEngine.h"

#include <memory>

namespace probe {

int cmdTreeDemo(Args& args) {
    RecoverOptions options = takeRecoverOptions(args);
    if (args.size() != 2)
        throw UsageError();
    options.destination = args[1];
    std::unique_ptr<testutil::TestEngine> engine = testutil::TestEngine::buildFromFile(args[0]);
    return recoverAndReport(*engine, options);
}

} // namespace probe
