#pragma once
#include "../nocrtlib/NoCrtString.h"

// Creates, or opens, the maker's key HKLM\SOFTWARE\Korvane. A key this run
// creates gets the access control of HKLM\SOFTWARE; an existing key keeps its
// own. A failure goes to the product key policy, which ends the run with 106
// unless an administrator chose (or -force said) to go on. Never removed.
void CreateProductKey();

// The product key policy with the answers of the membership checks given:
// `keyOpened` tells whether the failure came after the key was created or
// opened; `admin` decides whether going on is allowed, `adminForHint` and
// `powerUser` choose the hint. Returns when the run goes on.
void ReportProductKeyFailure(const WString& exceptionText, bool keyOpened, bool admin, bool adminForHint,
                             bool powerUser);
