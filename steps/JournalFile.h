#pragma once
#include "../nocrtlib/NoCopy.h"
#include "../nocrtlib/NoCrtHandle.h"
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/datavect.h"
#include "../wwlib/CReg.h"

// The installation journal's storage: an append-only file of records, one a
// line ("<CRC-32 in 8 hex digits> <record>", UTF-8, CR LF), each flushed to
// the disk before Append returns, so that a record announcing a change is on
// the disk before the change, whatever stops the machine afterwards. Reading
// takes the records up to the first that does not check out: a power cut
// while appending leaves at most the last one torn.
class JournalFile : NoCopy {
public:
    using WStringList = WWLib::WStringList;

    enum class State {
        None,      // no journal
        Ended,     // a journal whose run ended; nothing to undo
        Unfinished // a journal of a run that did not end: undo its records
    };

    // The installer's own folder for what it keeps between runs (the
    // journals, the lock); it goes when the last of them goes. Throws
    // InstallError when the system names none.
    static WString Folder();
    // The journal of a site: <all users' application data>\Korvane Quendal Setup\<site>.journal.
    // The folder is the installer's own: made with Administrators as its
    // owner and a protected list that lets only administrators and the
    // system write (a journal planted there would make the installer undo
    // what it was told). One that exists but is not (a link, another owner,
    // a list that lets anyone else write) is moved aside, said in a line,
    // and made anew. Throws InstallError when there is no such folder.
    static WString PathFor(const WString& site);
    // The same path, for reading: the folder is not made. Throws
    // InstallError when the folder exists but is not the installer's own.
    static WString ExistingPathFor(const WString& site);

    // Starts a new, empty journal, replacing what was there. A link there
    // is not followed: InstallError. Throws SystemError.
    void Create(const WString& path);
    // Appends one record and flushes it. Throws SystemError.
    void Append(const WString& record);
    // Ends the journal: an end record reaches the disk first, so a journal
    // whose deletion the disk did not keep still reads as ended; then the
    // file goes, unless it is kept as the record of a completed run. Throws
    // SystemError when the end record cannot be written.
    void End(bool keepFile = false);
    // Closes the journal and leaves it as it is (for the next run).
    void Close() noexcept { file_.reset(); }
    bool IsOpen() const { return file_.valid(); }
    const WString& Path() const { return path_; }

    // Replaces the journal at `path` with these records, durably: written to
    // a new file and flushed, then moved over the old one, so that a cut
    // leaves either. No records: the journal goes. Throws SystemError.
    static void Replace(const WString& path, const WStringList& records);

    // Reads a journal. Records after the first damaged one are not trusted:
    // `damaged` says there was one before the last line (a torn last record
    // is the normal trace of a cut, and not reported). A link is not
    // followed: InstallError.
    static State Read(const WString& path, WStringList& records, bool& damaged);
    // Deletes a journal file that is no longer needed. Never throws.
    static void Remove(const WString& path) noexcept;

    // One record as a line, and a line back (false for a damaged one).
    static AString EncodeLine(const WString& record);
    static bool DecodeLine(const char* line, std::size_t len, WString& record);

private:
    NoCrtHandle file_;
    WString path_;
};
