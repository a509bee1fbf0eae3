#include "FileAccess.h"
#include "Errors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class FileSharing : public testing::Test {
protected:
    void SetUp() override {
        Source = Dir.File("source.mp3");
        WriteFileBytes(Source, Original);
        std::filesystem::create_directory(Dir.File("sub"));
    }

    TTempDir Dir;
    std::string Source;
    const std::vector<uint8_t> Original{1, 2, 3, 4, 5, 6, 7, 8};
};

} // namespace

TEST_F(FileSharing, HeldReaderKeepsCreateOutUnderEverySpellingOfThePath) {
    const int Baseline = OpenFileCount();
    int Reader = FileOpen(Source, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(Reader, 0);
    std::filesystem::create_symlink(Source, Dir.File("link.mp3"));

    for (const std::string& Spelling :
         {Source, Dir.File("link.mp3"), Dir.File("sub/../source.mp3"), Dir.File("./source.mp3")}) {
        SCOPED_TRACE(Spelling);
        errno = 0;
        EXPECT_EQ(FileCreate(Spelling), -1);
        EXPECT_EQ(errno, ERROR_SHARING_VIOLATION);
        EXPECT_THROW(TFileStream(Spelling, fmCreate), Exception);
        EXPECT_EQ(FileOpen(Spelling, fmOpenReadWrite | fmShareDenyNone), -1);
    }
    EXPECT_EQ(ReadFileBytes(Source), Original);
    EXPECT_EQ(OpenFileCount(), Baseline + 1);

    FileClose(Reader);
    EXPECT_EQ(OpenFileCount(), Baseline);
    int Writer = FileCreate(Dir.File("link.mp3"));
    EXPECT_GE(Writer, 0) << "closing the reader frees the file";
    FileClose(Writer);
    EXPECT_TRUE(ReadFileBytes(Source).empty());
}

TEST_F(FileSharing, ReadersThatShareReadingCoexist) {
    int First = FileOpen(Source, fmOpenRead | fmShareDenyWrite);
    int Second = FileOpen(Dir.File("sub/../source.mp3"), fmOpenRead | fmShareDenyWrite);
    int Third = FileOpen(Source, fmOpenRead | fmShareDenyNone);
    EXPECT_GE(First, 0);
    EXPECT_GE(Second, 0);
    EXPECT_GE(Third, 0);
    FileClose(First);
    FileClose(Second);
    FileClose(Third);
}

TEST_F(FileSharing, ExclusiveOpenKeepsReadersOutAndReaderKeepsExclusiveOut) {
    int Exclusive = FileOpen(Source, fmOpenReadWrite | fmShareExclusive);
    ASSERT_GE(Exclusive, 0);
    EXPECT_EQ(FileOpen(Source, fmOpenRead | fmShareDenyNone), -1);
    FileClose(Exclusive);

    // A reader that lets others read and write doesn't let in a writer that
    // denies readers: the writer's sharing must admit the reader too.
    int Reader = FileOpen(Source, fmOpenRead | fmShareDenyNone);
    ASSERT_GE(Reader, 0);
    EXPECT_EQ(FileOpen(Source, fmOpenReadWrite | fmShareExclusive), -1);
    int Writer = FileOpen(Source, fmOpenReadWrite | fmShareDenyNone);
    EXPECT_GE(Writer, 0);
    FileClose(Writer);
    FileClose(Reader);
}

TEST_F(FileSharing, DifferentFilesDoNotConflict) {
    int Reader = FileOpen(Source, fmOpenRead | fmShareDenyWrite);
    int Output = FileCreate(Dir.File("other.mp3"));
    EXPECT_GE(Output, 0);
    FileClose(Output);
    FileClose(Reader);
}

TEST(FileErrors, MissingFileGivesTheSystemErrorText) {
    TTempDir Dir;
    errno = 0;
    EXPECT_EQ(FileOpen(Dir.File("missing.mp3"), fmOpenRead), -1);
    EOSError Error(errno);
    EXPECT_EQ(Error.Code(), ENOENT);
    EXPECT_EQ(Error.Message(),
              "System error.  Code: " + std::to_string(ENOENT) + ".\nNo such file or directory");
    EXPECT_EQ(EOSError(0).Message(), "A system function failed");
    EXPECT_NE(SysErrorMessage(ERROR_SHARING_VIOLATION).find("in use"), std::string::npos);
}

TEST(FileErrors, StreamsNameTheFileTheyCouldNotOpenOrCreate) {
    TTempDir Dir;
    const std::string Missing = Dir.File("missing.mp3");
    try {
        TFileStream Stream(Missing, fmOpenRead | fmShareDenyWrite);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Cannot open file " + Missing + "\nNo such file or directory");
    }
    const std::string Nowhere = Dir.File("no-such-folder/out.mp3");
    try {
        TFileStream Stream(Nowhere, fmCreate);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Cannot create file " + Nowhere + "\nNo such file or directory");
    }
    EXPECT_EQ(FileOpen(Dir.Path(), fmOpenRead), -1) << "a folder is not a file";
}

TEST(FileStreams, CreateTruncatesAndReadsBackWhatWasWritten) {
    TTempDir Dir;
    const std::string Name = Dir.File("out.bin");
    WriteFileBytes(Name, std::vector<uint8_t>(100, 7));
    {
        TFileStream Out(Name, fmCreate);
        EXPECT_EQ(Out.Size(), 0);
        Out.WriteBuffer("abc", 3);
        EXPECT_EQ(Out.Position(), 3);
    }
    TFileStream In(Name, fmOpenRead | fmShareDenyWrite);
    char Back[8] = {};
    EXPECT_EQ(In.Read(Back, 8), 3);
    EXPECT_STREQ(Back, "abc");
}

namespace {

// Another process that opens Name through the file layer with Mode and
// holds it until destroyed; Opened tells whether its open succeeded.
class THolderProcess {
public:
    THolderProcess(const std::string& Name, uint32_t Mode) {
        int Ready[2], Release[2];
        if (pipe(Ready) != 0 || pipe(Release) != 0)
            throw std::runtime_error("pipe failed");
        FPid = fork();
        if (FPid == 0) {
            close(Ready[0]);
            close(Release[1]);
            const int Handle = (Mode & fmCreate) == fmCreate ? FileCreate(Name, Mode & 0xF0)
                                                             : FileOpen(Name, Mode);
            const char Answer = Handle >= 0 ? 'y' : 'n';
            (void)!write(Ready[1], &Answer, 1);
            char Byte;
            (void)!read(Release[0], &Byte, 1);
            _exit(0);
        }
        close(Ready[1]);
        close(Release[0]);
        char Answer = 'n';
        Opened = read(Ready[0], &Answer, 1) == 1 && Answer == 'y';
        close(Ready[0]);
        FRelease = Release[1];
    }
    ~THolderProcess() {
        close(FRelease);
        waitpid(FPid, nullptr, 0);
    }
    bool Opened = false;

private:
    pid_t FPid = -1;
    int FRelease = -1;
};

struct TShareCase {
    const char* What;
    uint32_t Held;   // the other process's open
    uint32_t Wanted; // ours
    bool Allowed;
};

} // namespace

TEST_F(FileSharing, TheRulesHoldBetweenProcesses) {
    const uint32_t Reader = fmOpenRead | fmShareDenyWrite;
    const uint32_t Output = fmCreate | fmShareExclusive;
    const uint32_t Tagger = fmOpenReadWrite | fmShareExclusive;
    const uint32_t Peek = fmOpenRead | fmShareDenyNone;
    for (const auto& Case : std::vector<TShareCase>{
             {"two readers of a source", Reader, Reader, true},
             {"an output over a source being read", Reader, Output, false},
             {"a tag written into a source being read", Reader, Tagger, false},
             {"a reader of an output being written", Output, Reader, false},
             {"a look that lets writers in, at an output", Output, Peek, false},
             {"a look beside a reader", Reader, Peek, true},
             {"a reader beside a look", Peek, Reader, true},
             {"a tag beside a look that shares everything", Peek, Tagger, false},
         }) {
        SCOPED_TRACE(Case.What);
        WriteFileBytes(Source, Original);
        THolderProcess Other(Source, Case.Held);
        ASSERT_TRUE(Other.Opened);
        errno = 0;
        const int Handle = (Case.Wanted & fmCreate) == fmCreate
                               ? FileCreate(Source, fmShareExclusive)
                               : FileOpen(Source, Case.Wanted);
        EXPECT_EQ(Handle >= 0, Case.Allowed);
        if (!Case.Allowed) {
            EXPECT_EQ(errno, ERROR_SHARING_VIOLATION);
        }
        FileClose(Handle);
        if ((Case.Held & fmCreate) != fmCreate) {
            EXPECT_EQ(ReadFileBytes(Source), Original) << "nothing was truncated";
        }
    }
    // Once the other process is gone, the file is free again.
    const int Free = FileCreate(Source, fmShareExclusive);
    EXPECT_GE(Free, 0);
    FileClose(Free);
}
