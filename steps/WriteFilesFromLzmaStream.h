#pragma once
#include "DeferredFileOps.h"
#include "OperationWithRollback.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/NoCrtVector.h"
#include "../nocrtlib/datavect.h"
#include <cstdint>

// Where the package's files go: the target directory, and for the files that
// carry mark 1, 2 or 4, a path of their own (empty: the directory and name).
struct PackageTargets {
    WString dir;
    WString mark1;
    WString mark2;
    WString mark4;
};

// Decompresses the package (resource 130 of type "BINARY") and writes the
// files it describes. With the mask AllFiles it installs every file for this
// platform into the target directory, applying the existing-file policy (104)
// and appending -delFile= for each; with a set of mark bits it extracts only
// the marked files and stops decoding once they are written; with CheckOnly
// it writes nothing and fails as the whole package would.
//
// A target that exists but is to be deleted at the next restart was left by
// the installation this one replaces: it is overwritten without the
// existing-file policy, and a rollback deletes it (at the restart if it must).
//
// Rolling back deletes the files it created, last written first. When the
// writer itself fails part-way it deletes what it already wrote before the
// failure travels on (unless -noRollback). Failures are InstallError, or
// SilentExit for a refused overwrite.
class WriteFilesFromLzmaStream : public OperationWithRollback {
public:
    static constexpr int AllFiles = 8;
    // No file at all: the whole package is decoded and parsed, and nothing
    // is written. A damaged package is found so before anything changes.
    static constexpr int CheckOnly = 0;

    WriteFilesFromLzmaStream(const PackageTargets& targets, int fileMask);
    // The same from stream bytes given directly (the "alone" layout).
    WriteFilesFromLzmaStream(const PackageTargets& targets, int fileMask, const std::uint8_t* stream,
                             std::size_t size);
    ~WriteFilesFromLzmaStream();


    // The bytes written into files so far.
    std::uint64_t WrittenBytes() const { return writtenBytes; }

    std::size_t CreatedCount() const { return createdFiles.size(); }
    const WString& Created(std::size_t i) const { return createdFiles[i]; }

private:
    void Run(const std::uint8_t* stream, std::size_t size);
    void Decode(const std::uint8_t* stream, std::size_t size);
    void ProcessOutBytes(const std::uint8_t* p, std::size_t n);
    void FinishStream();
    void ProcessHeader();
    void ProcessData(const std::uint8_t* p, std::size_t n);
    void StartFile();
    void RemoveCreatedFiles() noexcept;

    NoCrtVector<WString> createdFiles;
    NoCrtVector<WString> takenOverFiles;
    int parseState = 0;
    std::uint8_t msgType = 0;
    std::uint32_t msgLength = 0;
    int lengthBytesLeft = 0;
    int headerCapacity = 4096;
    NoCrtDataVect<std::uint8_t> headerBuffer;
    std::uint32_t headerFill = 0;
    PackageTargets targets;
    int lastKind = 0;
    NoCrtHandle file;
    WString fileName;
    WString filePath;
    bool stop = false;
    // The deletions pending for the next restart when writing began: the
    // ones that matter here, an earlier uninstallation's, are in place
    // before this step starts.
    PendingDeletions pendingDeletes{false};
    std::uint8_t selector = 3;
    int fileMask;
    int doneMarks = 0;
    int fileMarks = 0;
    std::uint64_t writtenBytes = 0;
};
