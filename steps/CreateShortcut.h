#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"
#include <memory>

// Writes one shell link (.lnk) through the shell-link object and deletes it
// on rollback. Empty arguments, working directory and description are not
// set; an empty icon path means the target's own icon. A failure goes to the
// step policy (105).
class CreateShortcut : public OperationWithRollback {
public:
    CreateShortcut(const WString& link, const WString& target, const WString& arguments,
                   const WString& workingDir, const WString& description, const WString& icon);
    ~CreateShortcut();

    const WString& LinkPath() const { return linkPath; }
    bool Created() const { return created; }

private:
    WString linkPath;
    WString previous; // the bytes of a shortcut this one replaced
    bool created = false;
};

// The installation's shortcuts: the control panel and the uninstaller in the
// Start-menu folder, and the control panel in the common Administrative Tools
// folder when there is one. Committed and destroyed in the order 1, 2, 3.
class CreateShortcutPlan {
public:
    explicit CreateShortcutPlan(const WString& startMenuFolder);
    ~CreateShortcutPlan();
    CreateShortcutPlan(const CreateShortcutPlan&) = delete;
    CreateShortcutPlan& operator=(const CreateShortcutPlan&) = delete;

    void Commit();
    const CreateShortcut* Shortcut(int i) const { return shortcuts[i].get(); }

private:
    std::unique_ptr<CreateShortcut> shortcuts[3];
};
