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

    // Deletes the server's folder made by this run and what is in it, never
    // following a link out of it, saying so. Never throws.
    static void Undo(const WString& configDir) noexcept;

    // For a later run: the folder goes when it is empty; otherwise it stays,
    // said in one line. Never throws.
    static void RemoveFolderIfEmpty(const WString& configDir) noexcept;
    // For a later run: deletes a file the command made when its size and
    // time are still `stamp` (as Stamp gives them); a changed file stays,
    // said in one line. Returns false when the deletion failed. Never throws.
    static bool RemoveFileIfUnchanged(const WString& path, const WString& stamp) noexcept;
    // A file's size and last-write time as the journal keeps them; empty
    // when the file cannot be read.
    static WString Stamp(const WString& path);

private:
    WString configDir;
    bool configNew = false;
};
