#include "WriteFilesFromLzmaStream.h"
#include "undo/UndoFile.h"
#include "DeferredFileOps.h"
#include "InstallJournal.h"
#include "InstallSettings.h"
#include "LzmaAloneDecoder.h"
#include "LzmaDecodeAhead.h"
#include "StepReport.h"
#include "TargetDirectory.h"
#include "../nocrtlib/NoCrtConvert.h"
#include "../nocrtlib/NoCrtFormat.h"
#include "../nocrtlib/NoCrtPath.h"
#include "../wwlib/ErrorText.h"
#include "../wwlib/InstallError.h"
#include "../wwlib/Interruption.h"
#include "../wwlib/ResourceBytes.h"
#include "../wwlib/SilentExit.h"
#include "../wwlib/SystemInfo.h"

namespace {

const std::size_t kMinStream = 13;
const WORD kPackageResource = 130;

enum MessageType : std::uint8_t {
    kName = 1,
    kMark1 = 2,
    kMark2 = 3,
    kMark4 = 4,
    kSelector = 5,
    kData = 101,
};

WString Decimal(std::uint64_t value)
{
    wchar_t digits[32];
    FormatUnsigned(value, 1, 10, digits);
    return WString(digits);
}

// A name that could leave the target directory: absolute, with a drive or a
// stream, with a ".." component, or with a component that Windows opens as a
// device wherever it stands (COM1 is the port, not a file).
bool UnsafeName(const WString& name)
{
    if (name.empty())
        return false;
    if (name[0] == L'\\' || name[0] == L'/' || name.find(L':') != WString::npos)
        return true;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of(L"\\/", start);
        if (end == WString::npos)
            end = name.size();
        if (end - start == 2 && name[start] == L'.' && name[start + 1] == L'.')
            return true;
        if (IsReservedDeviceName(name.substr(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

bool Running64BitWindows()
{
    BOOL wow64 = FALSE;
    return WWLib::IsWow64(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace

WriteFilesFromLzmaStream::WriteFilesFromLzmaStream(const PackageTargets& t, int mask) : targets(t), fileMask(mask)
{
    ResourceBytes package = LoadOwnResource(kPackageResource, L"BINARY");
    Run(package.data, package.size);
}

WriteFilesFromLzmaStream::WriteFilesFromLzmaStream(const PackageTargets& t, int mask, const std::uint8_t* stream,
                                                   std::size_t size)
    : targets(t), fileMask(mask)
{
    Run(stream, size);
}

void WriteFilesFromLzmaStream::Run(const std::uint8_t* stream, std::size_t size)
{
    headerBuffer.resize(static_cast<std::size_t>(headerCapacity));
    if (fileMask == AllFiles)
        pendingDeletes = PendingDeletions(true);
    try {
        Decode(stream, size);
        file.reset();
    } catch (...) {
        // The destructor will not run: what was written so far goes now.
        file.reset();
        if (!TheInstallSettings().noRollback)
            RemoveCreatedFiles();
        throw;
    }
}

void WriteFilesFromLzmaStream::Decode(const std::uint8_t* stream, std::size_t size)
{
    if (size < kMinStream)
        throw InstallError(L"WriteFilesFromLzmaStream: insufficient stream length");
    LzmaAloneDecoder decoder;
    if (!decoder.Init(stream))
        throw InstallError(L"LzmaDecodeProperties() failed: incorrect stream properties");
    std::uint64_t remaining = 0;
    for (int i = 7; i >= 0; --i)
        remaining = (remaining << 8) | stream[5 + i];
    if (remaining == ~std::uint64_t(0))
        throw InstallError(L"WriteFilesFromLzmaStream: end-of-stream marker not supported");

    // The decoder runs ahead on a thread of its own while the files are
    // written here: every decision and every message stays on this thread,
    // in stream order. Leaving this function stops the decoder.
    LzmaDecodeAhead ahead(decoder, stream + kMinStream, size - kMinStream, remaining);
    while (!stop) {
        const LzmaDecodeAhead::Chunk& chunk = ahead.Next();
        switch (chunk.ending) {
        case LzmaDecodeAhead::Ending::None:
            ProcessOutBytes(chunk.data, chunk.size);
            break;
        case LzmaDecodeAhead::Ending::Complete:
            FinishStream();
            return;
        case LzmaDecodeAhead::Ending::Failed:
            throw InstallError(L"LzmaDecode() failed: error " + Decimal(static_cast<unsigned>(chunk.code)));
        case LzmaDecodeAhead::Ending::Truncated:
            throw InstallError(L"WriteFilesFromLzmaStream: compressed data ends before the announced size");
        case LzmaDecodeAhead::Ending::Continues:
            throw InstallError(L"WriteFilesFromLzmaStream: compressed data continues after the announced size");
        case LzmaDecodeAhead::Ending::Exception:
            break; // rethrown by Next()
        }
    }
}

void WriteFilesFromLzmaStream::ProcessOutBytes(const std::uint8_t* p, std::size_t n)
{
    while (n) {
        switch (parseState) {
        case 0:
            msgType = *p++;
            --n;
            parseState = 1;
            msgLength = 0;
            lengthBytesLeft = 4;
            break;
        case 1:
            msgLength = (msgLength << 8) | *p++;
            --n;
            if (--lengthBytesLeft == 0) {
                if (msgType == kData) {
                    parseState = 3;
                } else if (msgLength > static_cast<std::uint32_t>(headerCapacity)) {
                    throw InstallError(L"WriteFilesFromLzmaStream::ProcessOutBytes(): unsupported header message size " +
                                       Decimal(msgLength) + L", maximum: " + Decimal(headerCapacity));
                } else {
                    parseState = 2;
                    headerFill = 0;
                }
            }
            break;
        case 2: {
            std::size_t take = n < msgLength ? n : msgLength;
            for (std::size_t i = 0; i < take; ++i)
                headerBuffer[headerFill + i] = p[i];
            headerFill += static_cast<std::uint32_t>(take);
            msgLength -= static_cast<std::uint32_t>(take);
            p += take;
            n -= take;
            if (msgLength == 0) {
                ProcessHeader();
                parseState = 0;
            }
            break;
        }
        case 3: {
            std::size_t take = n < msgLength ? n : msgLength;
            ProcessData(p, take);
            msgLength -= static_cast<std::uint32_t>(take);
            p += take;
            n -= take;
            if (msgLength == 0) {
                parseState = 0;
                if (file.valid()) {
                    doneMarks |= fileMarks;
                    if (doneMarks == fileMask)
                        stop = true;
                }
            }
            break;
        }
        default:
            throw InstallError(L"WriteFilesFromLzmaStream::ProcessOutBytes() - invalid state");
        }
    }
}

// At the end of the stream: an empty message there has no byte after it to
// complete it, so it is completed here; a stream that ends inside a message
// would leave a file cut short, and is refused.
void WriteFilesFromLzmaStream::FinishStream()
{
    if ((parseState == 2 || parseState == 3) && msgLength == 0) {
        if (parseState == 2)
            ProcessHeader();
        else
            ProcessData(nullptr, 0);
        parseState = 0;
    }
    if (parseState != 0)
        throw InstallError(L"WriteFilesFromLzmaStream: package stream ends inside a message");
}

void WriteFilesFromLzmaStream::ProcessHeader()
{
    if (lastKind != 1) {
        file.reset();
        lastKind = 1;
        fileMarks = 0;
        selector = 3;
    }
    switch (msgType) {
    case kName: {
        WString name = N2W(CP_UTF8, reinterpret_cast<const char*>(headerBuffer.data()), static_cast<int>(headerFill));
        if (UnsafeName(name))
            throw InstallError(L"WriteFilesFromLzmaStream::ProcessHeader() - unsafe file name '" + name + L"'");
        fileName = name;
        break;
    }
    case kMark1:
        fileMarks = 1;
        break;
    case kMark2:
        fileMarks = 2;
        break;
    case kMark4:
        fileMarks = 4;
        break;
    case kSelector:
        if (headerFill)
            selector = headerBuffer[0];
        break;
    default:
        throw InstallError(L"WriteFilesFromLzmaStream::ProcessHeader() - unsupported header message type " +
                           Decimal(msgType));
    }
}

void WriteFilesFromLzmaStream::ProcessData(const std::uint8_t* p, std::size_t n)
{
    if (lastKind != 2) {
        lastKind = 2;
        bool platform = (selector & (Running64BitWindows() ? 2 : 1)) != 0;
        bool wanted = fileMask == AllFiles || (fileMask & fileMarks) != 0;
        if (platform && wanted)
            StartFile();
    }
    if (!file.valid() || n == 0)
        return;
    DWORD written = 0;
    if (!WriteFile(file.get(), p, static_cast<DWORD>(n), &written, nullptr)) {
        DWORD err = GetLastError();
        throw InstallError(L"Error writing to target installation file '" + filePath +
                           L"' - WriteFile() failed with the following error: " + WWLib::WindowsErrorText(err));
    }
    if (written != n)
        throw InstallError(L"Error writing to target installation file '" + filePath + L"' - WriteFile() wrote " +
                           Decimal(written) + L" bytes instead of " + Decimal(n));
    writtenBytes += written;
}

namespace {

// A file that a program which is not this installation's holds open: the
// run cannot finish now, but it can after a restart (or once that program
// ended), by the same command. Rolled back, and 300, as for a file that the
// previous installation's uninstaller could not delete.
[[noreturn]] void StopForFileInUse(const WString& path)
{
    const WString text = L"Target file '" + path + L"' is in use by a program that is still running";
    StepLine(text);
    StepLine(L"Please re-run Quendal installer after Windows is restarted, or after that program has ended");
    if (TheInstallSettings().interactive)
        MessageBoxW(nullptr, (text + L".\nPlease run the installer again after Windows is restarted.").c_str(),
                    L"Windows restart is required", MB_OK | MB_ICONSTOP);
    throw SilentExit(300);
}

} // namespace

void WriteFilesFromLzmaStream::StartFile()
{
    if (fileMask == AllFiles)
        WWLib::StopIfInterrupted(); // between two files: a safe point

    if (fileMarks == 1 && !targets.mark1.empty())
        filePath = targets.mark1;
    else if (fileMarks == 2 && !targets.mark2.empty())
        filePath = targets.mark2;
    else if (fileMarks == 4 && !targets.mark4.empty())
        filePath = targets.mark4;
    else if (fileName.empty())
        throw InstallError(L"WriteFilesFromLzmaStream::ProcessData() - file to write has no name");
    else
        filePath = PathJoin(targets.dir, fileName);

    bool isNew = true;
    bool takeOver = false;
    if (fileMask == AllFiles) {
        // A folder cannot be overwritten: no question that offers it.
        if (IsDirectory(filePath))
            throw InstallError(L"Error creating target installation file '" + filePath +
                               L"' - a directory of that name stands in its place");
        if (PathExists(filePath)) {
            // A file the replaced installation could not delete (it was held
            // open) and left to the next restart is that installation's, not
            // someone else's: it is taken over.
            takeOver = pendingDeletes.Names(filePath);
            if (!takeOver)
                ReportStepFailure(StepKind::ExistingFile, filePath, WString());
            isNew = false; // overwritten: not ours to delete on rollback
        }
        AppendUninstallParam(L"delFile", filePath);
        StepLine(L"Installing " + filePath);
    }
    if (fileMask == AllFiles && (isNew || takeOver))
        InstallJournal::Record(takeOver ? UndoKind::TakenOverFile : UndoKind::File, filePath);
    // A marked file is extracted to be run: never over a file that was there.
    HANDLE h = CreateFileW(filePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           fileMask == AllFiles ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (!isNew && (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION))
            StopForFileInUse(filePath);
        throw InstallError(L"Error creating target installation file '" + filePath +
                           L"' - CreateFile() failed with the following error: " + WWLib::WindowsErrorText(err));
    }
    file.reset(h);
    // Recorded once it exists, so a rollback never reports a file that was never made.
    if (isNew)
        createdFiles.push_back(filePath);
    if (takeOver)
        takenOverFiles.push_back(filePath);
    if (fileMask == AllFiles && pendingDeletes.Names(filePath)) {
        // Only an existing file has the short form that the pending list is
        // compared in; an earlier uninstallation's deletion must not remove
        // the new file at the next restart.
        CancelPendingDelete(filePath);
        if (IsPendingDelete(filePath))
            throw InstallError(L"Target file '" + filePath +
                               L"' is to be deleted at the next restart, and that deletion could not be cancelled");
    }
}

void WriteFilesFromLzmaStream::RemoveCreatedFiles() noexcept
{
    // A rollback goes on whatever it meets; what is left stays listed.
    while (createdFiles.size()) {
        UndoFile::RemoveWritten(createdFiles[createdFiles.size() - 1]);
        createdFiles.pop_back();
    }
    while (takenOverFiles.size()) {
        UndoFile::RemoveTakenOver(takenOverFiles[takenOverFiles.size() - 1]);
        takenOverFiles.pop_back();
    }
}

WriteFilesFromLzmaStream::~WriteFilesFromLzmaStream()
{
    file.reset();
    if (!committed && !TheInstallSettings().noRollback)
        RemoveCreatedFiles();
}
