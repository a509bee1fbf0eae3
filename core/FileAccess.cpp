#include "FileAccess.h"

#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <limits>
#include <mutex>
#include <unordered_map>

namespace {

constexpr uint32_t AccessMask = 0x000F;
constexpr uint32_t ShareMask = 0x00F0;

struct TOpenEntry {
    dev_t Device;
    ino_t Inode;
    bool Reads;
    bool Writes;
    bool SharesRead;
    bool SharesWrite;
};

std::mutex TableLock;
std::unordered_map<int, TOpenEntry>& Table() {
    static std::unordered_map<int, TOpenEntry> Entries;
    return Entries;
}

void ShareBits(uint32_t Mode, bool& SharesRead, bool& SharesWrite) {
    switch (Mode & ShareMask) {
    case fmShareDenyWrite:
        SharesRead = true;
        SharesWrite = false;
        break;
    case fmShareDenyRead:
        SharesRead = false;
        SharesWrite = true;
        break;
    case fmShareDenyNone:
        SharesRead = true;
        SharesWrite = true;
        break;
    default: // compat and exclusive
        SharesRead = false;
        SharesWrite = false;
    }
}

bool Conflicts(const TOpenEntry& Held, const TOpenEntry& Wanted) {
    return (Wanted.Reads && !Held.SharesRead) || (Wanted.Writes && !Held.SharesWrite) ||
           (Held.Reads && !Wanted.SharesRead) || (Held.Writes && !Wanted.SharesWrite);
}

// The marks one open leaves for other processes: one byte each for "reads",
// "writes", "denies reading" and "denies writing", far behind any real end of
// file. Every open holds a shared lock on the bytes that describe it, so a
// test for an exclusive lock on a byte tells whether any other open holds
// that mark.
enum TMark { ReadsMark, WritesMark, DeniesReadMark, DeniesWriteMark };
constexpr off_t MarksAt = std::numeric_limits<off_t>::max() - 16;

struct flock MarkLock(TMark Mark, short Type) {
    struct flock Lock {};
    Lock.l_type = Type;
    Lock.l_whence = SEEK_SET;
    Lock.l_start = MarksAt + Mark;
    Lock.l_len = 1;
    return Lock;
}

// False when the file system keeps no such locks; the table's check within
// this process is then all there is.
bool HoldMark(int Fd, TMark Mark) {
    struct flock Lock = MarkLock(Mark, F_RDLCK);
    return fcntl(Fd, F_OFD_SETLK, &Lock) == 0;
}

bool MarkHeldElsewhere(int Fd, TMark Mark) {
    struct flock Lock = MarkLock(Mark, F_WRLCK);
    return fcntl(Fd, F_OFD_GETLK, &Lock) == 0 && Lock.l_type != F_UNLCK;
}

// Marks first, then looks: two processes opening at the same moment each see
// the other's marks and both refuse, rather than both going ahead. A
// write-only handle can't hold shared locks, so it leaves no marks of its
// own, but it still looks.
bool ConflictsElsewhere(int Fd, const TOpenEntry& Entry, bool CanMark) {
    if (CanMark) {
        const bool Marks[] = {Entry.Reads, Entry.Writes, !Entry.SharesRead, !Entry.SharesWrite};
        for (int Mark = ReadsMark; Mark <= DeniesWriteMark; ++Mark)
            if (Marks[Mark] && !HoldMark(Fd, static_cast<TMark>(Mark)))
                return false;
    }
    return (Entry.Reads && MarkHeldElsewhere(Fd, DeniesReadMark)) ||
           (Entry.Writes && MarkHeldElsewhere(Fd, DeniesWriteMark)) ||
           (!Entry.SharesRead && MarkHeldElsewhere(Fd, ReadsMark)) ||
           (!Entry.SharesWrite && MarkHeldElsewhere(Fd, WritesMark));
}

int CloseWithError(int Fd, int Code) {
    close(Fd);
    errno = Code;
    return -1;
}

// Enters the open descriptor into the table unless it is no regular file or
// conflicts with an open here or in another process; otherwise the
// descriptor is closed and errno says why. Size, when given, gets the
// file's size.
int Register(int Fd, TOpenEntry Entry, int64_t* Size = nullptr) {
    struct stat St {};
    if (fstat(Fd, &St) != 0)
        return CloseWithError(Fd, errno);
    if (S_ISDIR(St.st_mode))
        return CloseWithError(Fd, EISDIR);
    if (!S_ISREG(St.st_mode))
        return CloseWithError(Fd, ERROR_NOT_A_FILE);
    // Opened without blocking so that a pipe could not hold the open up;
    // a regular file reads and writes the same either way.
    fcntl(Fd, F_SETFL, fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
    Entry.Device = St.st_dev;
    Entry.Inode = St.st_ino;
    for (const auto& [Other, Held] : Table())
        if (Held.Device == Entry.Device && Held.Inode == Entry.Inode && Conflicts(Held, Entry))
            return CloseWithError(Fd, ERROR_SHARING_VIOLATION);
    if (ConflictsElsewhere(Fd, Entry, Entry.Reads))
        return CloseWithError(Fd, ERROR_SHARING_VIOLATION);
    Table()[Fd] = Entry;
    if (Size != nullptr)
        *Size = St.st_size;
    return Fd;
}

// A write past the process's file-size limit must fail with EFBIG and take
// the path of any failed write, not end the program with SIGXFSZ and a torn
// file. A handler someone installed stays.
void IgnoreFileSizeSignal() {
    static std::once_flag Once;
    std::call_once(Once, [] {
        struct sigaction Current {};
        if (sigaction(SIGXFSZ, nullptr, &Current) == 0 && Current.sa_handler == SIG_DFL)
            signal(SIGXFSZ, SIG_IGN);
    });
}

TOpenEntry EntryFor(bool Reads, bool Writes, uint32_t Mode) {
    TOpenEntry Entry{};
    Entry.Reads = Reads;
    Entry.Writes = Writes;
    ShareBits(Mode, Entry.SharesRead, Entry.SharesWrite);
    return Entry;
}

} // namespace

int FileOpen(const std::string& FileName, uint32_t Mode) {
    int Flags;
    bool Reads = true, Writes = false;
    switch (Mode & AccessMask) {
    case fmOpenRead:
        Flags = O_RDONLY;
        break;
    case fmOpenWrite:
        Flags = O_WRONLY;
        Reads = false;
        Writes = true;
        break;
    case fmOpenReadWrite:
        Flags = O_RDWR;
        Writes = true;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    if (Writes)
        IgnoreFileSizeSignal();
    std::lock_guard Guard(TableLock);
    int Fd = open(FileName.c_str(), Flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (Fd < 0)
        return -1;
    return Register(Fd, EntryFor(Reads, Writes, Mode));
}

int FileCreate(const std::string& FileName, uint32_t Mode) {
    IgnoreFileSizeSignal();
    std::lock_guard Guard(TableLock);
    // Opened without O_TRUNC: the sharing check must pass before the
    // existing content is given up.
    const int Exclusive = (Mode & fmCreateNew) != 0 ? O_EXCL : 0;
    int Fd = open(FileName.c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | Exclusive, 0666);
    if (Fd < 0)
        return -1;
    int64_t Size = 0;
    if (Register(Fd, EntryFor(true, true, Mode), &Size) < 0)
        return -1;
    // A file that is empty already is left alone: truncating it would only
    // make ext4 push its whole new content to the disk when it is closed,
    // as it does for every file truncated to nothing, and the job would wait
    // for that.
    if (Size != 0 && ftruncate(Fd, 0) != 0) {
        int Saved = errno;
        Table().erase(Fd);
        close(Fd);
        errno = Saved;
        return -1;
    }
    return Fd;
}

bool FileDelete(const std::string& FileName) {
    return unlink(FileName.c_str()) == 0;
}

bool IsNonRegularFile(const std::string& FileName) {
    struct stat St {};
    return stat(FileName.c_str(), &St) == 0 && !S_ISREG(St.st_mode);
}

bool SameFile(const std::string& A, const std::string& B) {
    const auto IdA = FileIdOf(A);
    return IdA && IdA == FileIdOf(B);
}

std::optional<TFileId> FileIdOf(const std::string& FileName) {
    struct stat St {};
    if (stat(FileName.c_str(), &St) != 0)
        return std::nullopt;
    return TFileId{St.st_dev, St.st_ino};
}

int64_t FileSeek(int Handle, int64_t Offset, TSeekOrigin Origin) {
    int Whence = Origin == TSeekOrigin::Begin     ? SEEK_SET
                 : Origin == TSeekOrigin::Current ? SEEK_CUR
                                                  : SEEK_END;
    return lseek(Handle, static_cast<off_t>(Offset), Whence);
}

int64_t FileNextData(int Handle, int64_t Offset, int64_t Size) {
    off_t Data = lseek(Handle, static_cast<off_t>(Offset), SEEK_DATA);
    if (Data >= 0)
        return Data;
    return errno == ENXIO ? Size : -1;
}

namespace {

// Reads until Count bytes came or the file ended, from the file position or,
// when At is not negative, from At.
int32_t ReadFully(int Handle, void* Buffer, uint32_t Count, int64_t At) {
    auto* Dest = static_cast<char*>(Buffer);
    uint32_t Done = 0;
    while (Done < Count) {
        ssize_t N = At < 0
                        ? read(Handle, Dest + Done, Count - Done)
                        : pread(Handle, Dest + Done, Count - Done, static_cast<off_t>(At + Done));
        if (N < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (N == 0)
            break;
        Done += static_cast<uint32_t>(N);
    }
    return static_cast<int32_t>(Done);
}

} // namespace

int32_t FileRead(int Handle, void* Buffer, uint32_t Count) {
    return ReadFully(Handle, Buffer, Count, -1);
}

int32_t FileReadAt(int Handle, void* Buffer, uint32_t Count, int64_t Position) {
    if (Position < 0) {
        errno = EINVAL;
        return -1;
    }
    return ReadFully(Handle, Buffer, Count, Position);
}

int32_t FileWrite(int Handle, const void* Buffer, uint32_t Count) {
    auto* Src = static_cast<const char*>(Buffer);
    uint32_t Done = 0;
    while (Done < Count) {
        ssize_t N = write(Handle, Src + Done, Count - Done);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            return Done == 0 ? -1 : static_cast<int32_t>(Done);
        }
        if (N == 0) {
            errno = ENOSPC;
            break;
        }
        Done += static_cast<uint32_t>(N);
    }
    return static_cast<int32_t>(Done);
}

int64_t FileSize(int Handle) {
    struct stat St {};
    if (fstat(Handle, &St) != 0)
        return -1;
    return St.st_size;
}

bool FileTruncate(int Handle, int64_t Size) {
    while (ftruncate(Handle, static_cast<off_t>(Size)) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void FileClose(int Handle) {
    if (Handle < 0)
        return;
    std::lock_guard Guard(TableLock);
    Table().erase(Handle);
    close(Handle);
}

int FileDuplicate(int Handle) {
    return fcntl(Handle, F_DUPFD_CLOEXEC, 0);
}

int OpenFileCount() {
    std::lock_guard Guard(TableLock);
    return static_cast<int>(Table().size());
}

std::string CreateFileError(const std::string& FileName, int Code) {
    const std::string Text = FormatMessage("Cannot create file %s", FileName);
    if (Code != ERROR_NOT_A_FILE)
        return WithCause(Text, Code);
    // The system's text for it speaks of a source; an output says what it is.
    struct stat St {};
    const bool Known = stat(FileName.c_str(), &St) == 0;
    const char* Kind = !Known                                       ? ""
                       : S_ISCHR(St.st_mode) || S_ISBLK(St.st_mode) ? " but a device"
                       : S_ISFIFO(St.st_mode)                       ? " but a pipe"
                       : S_ISSOCK(St.st_mode)                       ? " but a socket"
                                                                    : "";
    return Text + "\nIt is not a regular file" + Kind + ".";
}

TFileStream::TFileStream(const std::string& FileName, uint32_t Mode) : FFileName(FileName) {
    if ((Mode & fmCreate) == fmCreate) {
        FHandle = FileCreate(FileName, Mode & (ShareMask | fmCreateNew));
        if (FHandle < 0)
            throw Exception(CreateFileError(FileName, errno));
    } else {
        FHandle = FileOpen(FileName, Mode);
        if (FHandle < 0) {
            const int Code = errno;
            throw Exception(WithCause(FormatMessage("Cannot open file %s", FileName), Code));
        }
    }
}

TFileStream::~TFileStream() {
    FileClose(FHandle);
}

int32_t TFileStream::Read(void* Buffer, uint32_t Count) {
    return FileRead(FHandle, Buffer, Count);
}

int32_t TFileStream::Write(const void* Buffer, uint32_t Count) {
    return FileWrite(FHandle, Buffer, Count);
}

void TFileStream::WriteBuffer(const void* Buffer, uint32_t Count) {
    errno = 0;
    int32_t Written = FileWrite(FHandle, Buffer, Count);
    if (Written < 0 || static_cast<uint32_t>(Written) != Count) {
        const int Code = errno;
        // The part that went out moved the position past it: where the
        // write started is found from there, only when it failed.
        const int64_t Start = Written > 0 ? Position() - Written : -1;
        if (Start >= 0 && FileTruncate(FHandle, Start))
            FileSeek(FHandle, Start, TSeekOrigin::Begin);
        throw Exception(WriteErrorMessage(Code));
    }
}

std::string TFileStream::WriteErrorMessage(int Code) const {
    std::string Reason = Code != 0 ? SysErrorMessage(Code) : "the disk is full";
    return "Unable to write file " + FFileName + ": " + Reason;
}

void TFileStream::CheckNotLost() {
    struct stat St {};
    if (fstat(FHandle, &St) == 0 && St.st_nlink == 0)
        throw Exception(FFileName + " was lost: it was removed while it was written.");
}

void TFileStream::SetSize(int64_t Size) {
    if (!FileTruncate(FHandle, Size) || FileSeek(FHandle, Size, TSeekOrigin::Begin) < 0)
        throw Exception(WithCause("Unable to write file " + FFileName, errno));
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return FileSeek(FHandle, Offset, Origin);
}

int64_t TFileStream::Position() {
    return FileSeek(FHandle, 0, TSeekOrigin::Current);
}

int64_t TFileStream::Size() {
    return FileSize(FHandle);
}
