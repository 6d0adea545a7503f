#include "InstallSequence.h"
#include "../wwlib/InstallError.h"

void RunInstallationSequence()
{
    // The sequence itself is not part of this build yet; saying so is better
    // than reporting success for an installation that did not happen.
    throw InstallError(L"Installation is not available in this build.");
}
