#include "FileAccess.h"

#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Enters the open descriptor into the table unless it conflicts; on a
// conflict the descriptor is closed and errno says why.
int Register(int Fd, TOpenEntry Entry) {
    struct stat St {};
    if (fstat(Fd, &St) != 0) {
        int Saved = errno;
        close(Fd);
        errno = Saved;
        return -1;
    }
    Entry.Device = St.st_dev;
    Entry.Inode = St.st_ino;
    for (const auto& [Other, Held] : Table()) {
        if (Held.Device == Entry.Device && Held.Inode == Entry.Inode && Conflicts(Held, Entry)) {
            close(Fd);
            errno = ERROR_SHARING_VIOLATION;
            return -1;
        }
    }
    Table()[Fd] = Entry;
    return Fd;
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
    std::lock_guard Guard(TableLock);
    int Fd = open(FileName.c_str(), Flags | O_CLOEXEC);
    if (Fd < 0)
        return -1;
    struct stat St {};
    if (fstat(Fd, &St) == 0 && S_ISDIR(St.st_mode)) {
        close(Fd);
        errno = EISDIR;
        return -1;
    }
    return Register(Fd, EntryFor(Reads, Writes, Mode));
}

int FileCreate(const std::string& FileName, uint32_t Mode) {
    std::lock_guard Guard(TableLock);
    // Opened without O_TRUNC: the sharing check must pass before the
    // existing content is given up.
    int Fd = open(FileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (Fd < 0)
        return -1;
    if (Register(Fd, EntryFor(true, true, Mode)) < 0)
        return -1;
    if (ftruncate(Fd, 0) != 0) {
        int Saved = errno;
        Table().erase(Fd);
        close(Fd);
        errno = Saved;
        return -1;
    }
    return Fd;
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

void FileClose(int Handle) {
    if (Handle < 0)
        return;
    std::lock_guard Guard(TableLock);
    Table().erase(Handle);
    close(Handle);
}

int OpenFileCount() {
    std::lock_guard Guard(TableLock);
    return static_cast<int>(Table().size());
}

TFileStream::TFileStream(const std::string& FileName, uint32_t Mode) : FFileName(FileName) {
    if ((Mode & fmCreate) == fmCreate) {
        FHandle = FileCreate(FileName, Mode & ShareMask);
        if (FHandle < 0)
            throw Exception(FormatMessage("Cannot create file %s", FileName));
    } else {
        FHandle = FileOpen(FileName, Mode);
        if (FHandle < 0)
            throw Exception(FormatMessage("Cannot open file %s", FileName));
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
    int32_t Written = FileWrite(FHandle, Buffer, Count);
    if (Written < 0 || static_cast<uint32_t>(Written) != Count) {
        int Code = errno;
        std::string Reason = Code != 0 ? SysErrorMessage(Code) : "the disk is full";
        throw Exception("Unable to write file " + FFileName + ": " + Reason);
    }
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
