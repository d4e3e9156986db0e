#include "archive/ComPtr.h"
#include "archive/T7zStream.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>

// The adapter answers the library's calls with what the platform stream did, failures included.
TEST(T7zStream, PassesPositionsSizesAndFailuresOnToTheLibrary) {
    auto* memory = new TMemoryStream(QByteArray("0123456789"));
    const TComPtr<IInStream> in(new T7zStream(memory, soOwned));
    const TComPtr<IOutStream> out = QueryTo<IOutStream>(in.Get(), IID_IOutStream);
    const TComPtr<IStreamGetSize> sized = QueryTo<IStreamGetSize>(in.Get(), IID_IStreamGetSize);

    uint64_t position = 99;
    EXPECT_EQ(in->Seek(-3, 2, &position), S_OK);
    EXPECT_EQ(position, 7u);
    char buffer[8] = {};
    uint32_t done = 0;
    EXPECT_EQ(in->Read(buffer, sizeof buffer, &done), S_OK);
    EXPECT_EQ(QByteArray(buffer, int(done)), "789");
    EXPECT_EQ(in->Read(buffer, sizeof buffer, &done), S_OK);
    EXPECT_EQ(done, 0u);

    const struct {
        int64_t offset;
        uint32_t origin;
        HRESULT code;
        uint64_t position; // after the call
    } seeks[] = {
        {2, 0, S_OK, 2},
        {-1, 1, S_OK, 1},
        {-2, 1, HRESULT_NEGATIVE_SEEK, 1},
        {-11, 2, HRESULT_NEGATIVE_SEEK, 1},
        {-1, 0, HRESULT_NEGATIVE_SEEK, 1},
        {0, 3, STG_E_INVALIDFUNCTION, 1},
        {20, 0, S_OK, 20},
    };
    for (const auto& s : seeks) {
        EXPECT_EQ(in->Seek(s.offset, s.origin, nullptr), s.code) << s.offset << " from " << s.origin;
        ASSERT_EQ(in->Seek(0, 1, &position), S_OK);
        EXPECT_EQ(position, s.position);
    }

    EXPECT_EQ(out->SetSize(4), S_OK);
    EXPECT_EQ(out->Write("ab", 2, nullptr), S_OK);
    uint64_t size = 0;
    EXPECT_EQ(sized->GetSize(&size), S_OK);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(memory->Bytes(), "0123ab");
}

TEST(T7zStream, ReportsAFailedWriteInsteadOfAShortCount) {
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const TComPtr<ISequentialOutStream> out(
        static_cast<IOutStream*>(new T7zStream(new TFileStream(FileDescriptor(fd)), soOwned)));
    uint32_t done = 7;
    EXPECT_EQ(out->Write("data", 4, &done), HresultFromErrno(ENOSPC));
    EXPECT_EQ(done, 0u);
}

TEST(T7zStream, FreesTheWrappedStreamOnlyWhenItOwnsIt) {
    QTemporaryDir dir;
    {
        QFile file(dir.filePath("f"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    for (const TStreamOwnership ownership : {soReference, soOwned}) {
        TFileStream* file = TFileStream::OpenRead(dir.filePath("f"));
        const int fd = file->Handle();
        TComPtr<IInStream>(new T7zStream(file, ownership)).Reset();
        EXPECT_EQ(::fcntl(fd, F_GETFD) != -1, ownership == soReference);
        if (ownership == soReference)
            delete file;
    }
}
