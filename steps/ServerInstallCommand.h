#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"

// Runs the server's installation command ("-install ..."), which makes the
// server's Config folder in the installation directory and imports a
// settings file into it. A command that fails ends the run with its own exit
// code, after a line that names the command and the code. A Config folder
// that was not there before goes with everything in it on rollback, also
// when the command itself failed.
class ServerInstallCommand : public OperationWithRollback {
public:
    ServerInstallCommand(const WString& installDir, const WString& command);
    ~ServerInstallCommand();

    // Deletes the server's folder made by this installation, saying so.
    // Never throws.
    static void Undo(const WString& configDir) noexcept;

private:
    WString configDir;
    bool configNew = false;
};
