#pragma once

// The file layer: POSIX file calls that keep the sharing rules of the
// program's design. Every open names the access it wants and what it lets
// other opens of the same file do meanwhile; a process-wide table of open
// files (keyed by device and inode, so any spelling of a path meets the same
// entry) refuses an open that conflicts with one already held. Creating an
// output over a source that a reader holds therefore fails before a single
// byte of the source changes.
//
// The same rules hold between processes: every open also marks what it does
// and what it denies with open-file-description locks (F_OFD_SETLK) on a few
// bytes far beyond any real file's end, and looks for the marks of others.
// Those locks are advisory: they keep our own processes (the window and the
// command line) from each other, not programs that never look at them.
//
// Only regular files are opened: a pipe, a device or a socket is refused at
// once instead of blocking for ever or being read without end.

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

// Access, in the low nibble.
constexpr uint32_t fmOpenRead = 0x0000;
constexpr uint32_t fmOpenWrite = 0x0001;
constexpr uint32_t fmOpenReadWrite = 0x0002;
// Sharing, in the high nibble of the low byte. 0 shares nothing.
constexpr uint32_t fmShareCompat = 0x0000;
constexpr uint32_t fmShareExclusive = 0x0010;
constexpr uint32_t fmShareDenyWrite = 0x0020;
constexpr uint32_t fmShareDenyRead = 0x0030;
constexpr uint32_t fmShareDenyNone = 0x0040;
// Create, or truncate an existing file, for reading and writing.
constexpr uint32_t fmCreate = 0xFF00;
// With fmCreate: only a new file; an existing one fails with EEXIST, decided
// by the file system in the same step as the creation (O_EXCL).
constexpr uint32_t fmCreateNew = 0x10000;

// errno value that the layer reports for a sharing conflict.
constexpr int ERROR_SHARING_VIOLATION = EBUSY;
// errno value that the layer reports for a name that is not a regular file.
constexpr int ERROR_NOT_A_FILE = ENOSTR;

enum class TSeekOrigin { Begin, Current, End };

// Each returns a handle, or -1 with errno set (ERROR_SHARING_VIOLATION for
// a conflict with another open of the same file).
int FileOpen(const std::string& FileName, uint32_t Mode);
// Creates the file, or truncates it when it exists, open for reading and
// writing with the sharing given in Mode (fmShare* bits, and fmCreateNew).
// An existing file is truncated only after the sharing check has passed.
int FileCreate(const std::string& FileName, uint32_t Mode = fmShareExclusive);
// Removes the name; false with errno set when it can't.
bool FileDelete(const std::string& FileName);
// True when FileName exists and is something other than a regular file.
bool IsNonRegularFile(const std::string& FileName);
// True when both names lead to one existing file, whatever their spelling.
bool SameFile(const std::string& A, const std::string& B);
// What sets a file apart from every other: equal for any two names (hard or
// symbolic links) that lead to it.
struct TFileId {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    auto operator<=>(const TFileId&) const = default;
};
// The file the name leads to, links followed; nothing when there is none.
std::optional<TFileId> FileIdOf(const std::string& FileName);

// The new position, or -1 with errno set.
int64_t FileSeek(int Handle, int64_t Offset, TSeekOrigin Origin);
// The start of the first stretch at or after Offset that holds stored data
// (a sparse file's holes read as zeros); Size when only a hole follows, -1
// when the file system can't tell.
int64_t FileNextData(int Handle, int64_t Offset, int64_t Size);
// Reads until Count bytes came or the file ended; the number read, or -1 on
// a read error.
int32_t FileRead(int Handle, void* Buffer, uint32_t Count);
// As FileRead, at an absolute position, leaving the file position alone.
int32_t FileReadAt(int Handle, void* Buffer, uint32_t Count, int64_t Position);
// Writes until Count bytes went out or the system stopped taking them (a
// full disk); the number written, or -1 when an error came before any byte.
// errno tells why a count came back short.
int32_t FileWrite(int Handle, const void* Buffer, uint32_t Count);
// Size of the open file, or -1 with errno set.
int64_t FileSize(int Handle);
// Cuts the file to Size bytes (or extends it with zeros); false with errno
// set when it can't.
bool FileTruncate(int Handle, int64_t Size);
void FileClose(int Handle);
// A second handle on the open file Handle, or -1 with errno set. It shares
// the file's position and its locks, which closing it leaves in place; it
// is not entered in the table: the original's entry stands for both, so it
// is closed before the original.
int FileDuplicate(int Handle);

// Number of handles the sharing table holds; for tests.
int OpenFileCount();

// "Cannot create file X" and, on the next line, why: the system's text for
// Code, or for a name that leads to a device, a pipe or a socket, that it
// is no regular file.
std::string CreateFileError(const std::string& FileName, int Code);

// A file opened or created through the layer, closed by the destructor.
class TFileStream {
public:
    // Mode is fmCreate or an fmOpen* access, each combined with fmShare*
    // bits (and fmCreateNew). Raises "Cannot create file %s" or "Cannot open
    // file %s", with the system's reason on a second line.
    TFileStream(const std::string& FileName, uint32_t Mode);
    virtual ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int32_t Read(void* Buffer, uint32_t Count);
    int32_t Write(const void* Buffer, uint32_t Count);
    // Writes all Count bytes or none: when the disk takes only part of them,
    // that part is cut off again before the error, which names the file, is
    // raised. What went out before stays.
    void WriteBuffer(const void* Buffer, uint32_t Count);
    // Cuts the file to Size bytes and moves the position there.
    void SetSize(int64_t Size);
    int64_t Seek(int64_t Offset, TSeekOrigin Origin);
    int64_t Position();
    int64_t Size();

    // Raises "X was lost: ..." when the open file has no name left: it, or
    // its folder, was removed while it was written, and all it holds goes
    // with the handle. Called as a job closes an output.
    void CheckNotLost();

    int Handle() const { return FHandle; }
    // "Unable to write file X: reason" for errno value Code.
    std::string WriteErrorMessage(int Code) const;
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
};
