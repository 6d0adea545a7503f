#pragma once
#include "../../nocrtlib/NoCrtString.h"
#include "../../wwlib/CReg.h"

// The site's previous installation while its uninstaller removes it. The
// uninstaller deletes the uninstall entry before the files, so a run killed
// in between would leave files that nothing names: the next run would find
// them in its way and stop. The run records the previous installation's
// parameter list in its journal before the uninstaller starts, and a later
// run removes what that list names in the folder and is still there.
namespace PreviousInstallation {

// Deletes the files (-delFile=) of `params` that lie in `dir` and are left,
// then its folders (-delDir=) below `dir` that are empty, innermost first,
// saying each, and the site's uninstall entry when it is still that
// installation's (its parameter list is `params`): its uninstaller is gone
// with the files. Never follows a link. Returns false when a file could not
// go (it is then left to the restart where that can be had). Never throws.
bool RemoveWhatIsLeft(const WString& site, const WString& dir, const WString& params) noexcept;

// The programs (.exe) that `params` names to delete in `dir`, in the
// canonical form: what of the previous installation may still run.
WWLib::WStringList ProgramsIn(const WString& dir, const WString& params);

} // namespace PreviousInstallation
