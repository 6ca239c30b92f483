#pragma once

namespace torsel {

/// The whole run: banner, arguments, options, every file in turn, the
/// result report and the summary. Returns the run result, the exit status.
int runTorsel(int argc, char** argv);

}  // namespace torsel
