#pragma once

// The installation itself, run once the options are known. Returns after a
// completed installation; ends the run by SilentExit or an exception otherwise.
void RunInstallationSequence();
