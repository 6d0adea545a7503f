#pragma once
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtString.h"

// Runs the server's installation command ("-install ..."), which makes the
// server's Config folder in the installation directory and imports a
// settings file into it. A command that fails ends the run with its own exit
// code, after a line that names the command and the code. A Config folder
// that was not there before goes with everything in it on this run's
// rollback, also when the command itself failed. The journal records the
// folder before the command and each file the command made after it, so
// that a later run undoes only those files, and only while unchanged: the
// folder holds the server's settings and keys, which an administrator may
// have changed since.
class ServerInstallCommand : public OperationWithRollback {
public:
    ServerInstallCommand(const WString& installDir, const WString& command);
    ~ServerInstallCommand();


private:
    WString configDir;
    bool configNew = false;
};
