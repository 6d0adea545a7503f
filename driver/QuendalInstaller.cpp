#include "InstallSequence.h"
#include "InstallerEntry.h"

int main()
{
    return InstallerEntry(&RunInstallationSequence);
}
