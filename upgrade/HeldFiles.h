#pragma once
#include "../nocrtlib/NoCrtString.h"

// Files of the previous installation that programs other than the site's
// own hold open or loaded (an event viewer holding a message library, a
// backup agent, a tool started from the folder): the uninstaller could not
// remove them, and the site would be half removed until a restart. Looked for
// before anything is removed; the site's own programs (its service, the
// programs its parameter list has the uninstaller end) do not count.
//
// When there are any: one line for each ("'<path>' is held open by <program>
// (process <id>)"), nothing changed, and the restart path (300; the resume
// entry and the question in an interactive run). The old installation keeps
// running until the restart.
void StopIfFilesHeld(const WString& site, const WString& dir, const WString& params);
