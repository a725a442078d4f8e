#include "tests/probe/ProbeRecover.h"

#include "tests/probe/ProbeSource.h"

#include "core/Preferences.h"
#include "tests/support/ScriptedMessages.h"
#include "tree/ParserRecover.h"
#include "tree/ParserReport.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <iostream>

namespace probe {

RecoverOptions takeRecoverOptions(Args& args) {
    RecoverOptions options;
    const i64 preference = Preferences::instance().fileSizeLimit();
    options.limit = preference > 0 ? static_cast<u64>(preference) : 0;
    std::string text;
    if (takeOption(args, "--limit", text))
        options.limit = parseNumber(text);
    takeOption(args, "--mask", options.mask);
    options.answer = takeOption(args, "--answer", text) ? parseAnswer(text) : 1;
    return options;
}

int recoverAndReport(tree::Map& map, const RecoverOptions& options) {
    testutil::ScriptedInterface ui(options.answer);

    tree::ParserReport report(&map, &std::cout, false, &ui);
    report.run();

    tree::ParserSelect select(&map, options.mask);
    select.run(tree::START_POSITION, true, &ui);

    std::cout << "\n--- recover ---\n";
    u32 splitCount = 0;
    u32 errorCount = 0;
    {
        tree::RecovererCopyOff recoverer(options.destination, options.destination, options.limit);
        tree::ParserRecover recover(&map, &std::cout, &recoverer, &ui);
        recover.run();
        splitCount = recover.getSplitCount();
        errorCount = recover.getErrorCount();
        // A volume left open by a failure is closed when the recoverer goes.
    }
    std::cout << "split files: " << splitCount << '\n'
              << "files with errors: " << errorCount << '\n';
    for (const testutil::AskedBox& box : ui.asked())
        std::cerr << "question: " << escapeLines(box.text) << " [" << box.checkLabel << "]\n";
    return 0;
}

} // namespace probe
