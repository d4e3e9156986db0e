#pragma once

#include "archive/InterfacedObject.h"
#include "archive/SevenZipAbi.h"
#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// A seekable byte stream of the platform. Every operation returns 0 or a system error number, so
// that the adapter below can hand a real cause to the library instead of a silent short count.
class TStream {
public:
    enum Origin { FromBeginning = 0, FromCurrent = 1, FromEnd = 2 };

    virtual ~TStream() = default;
    virtual int Read(void* data, size_t size, size_t& done) = 0;
    virtual int Write(const void* data, size_t size, size_t& done) = 0;
    virtual int Seek(int64_t offset, Origin origin, int64_t& position) = 0;
    virtual int GetSize(int64_t& size) = 0;
    // Also leaves the position at the new size, as a file stream does.
    virtual int SetSize(int64_t size) = 0;
};

// A file stream over a descriptor that it owns.
class TFileStream final : public TStream {
public:
    explicit TFileStream(FileDescriptor file) : FHandle(std::move(file)) {}

    // Opens an existing file for reading; others may still read and write it meanwhile.
    // Raises "Cannot open file "%s". %s" with the full path and the system's text.
    static TFileStream* OpenRead(const QString& fileName);

    int Read(void* data, size_t size, size_t& done) override;
    int Write(const void* data, size_t size, size_t& done) override;
    int Seek(int64_t offset, Origin origin, int64_t& position) override;
    int GetSize(int64_t& size) override;
    int SetSize(int64_t size) override;

    int Handle() const { return FHandle.get(); }

private:
    FileDescriptor FHandle;
};

// A stream over bytes in memory, for callers that want an item without a file.
class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(QByteArray bytes) : FBytes(std::move(bytes)) {}

    int Read(void* data, size_t size, size_t& done) override;
    int Write(const void* data, size_t size, size_t& done) override;
    int Seek(int64_t offset, Origin origin, int64_t& position) override;
    int GetSize(int64_t& size) override;
    int SetSize(int64_t size) override;

    const QByteArray& Bytes() const { return FBytes; }

private:
    QByteArray FBytes;
    int64_t FPosition = 0;
};

enum TStreamOwnership { soReference = 0, soOwned = 1 };

// Lets the library read and write a platform stream. Every call goes straight to the stream: no
// buffering and no copying of its own.
class T7zStream final : public TInterfacedObject,
                        public IInStream,
                        public IStreamGetSize,
                        public IOutStream,
                        public IOutStreamFinish {
public:
    // With soOwned the adapter frees the stream when it is destroyed itself.
    T7zStream(TStream* stream, TStreamOwnership ownership) : FStream(stream), FOwnership(ownership) {}

    HRESULT QueryInterface(const GUID& iid, void** object) override;
    uint32_t AddRef() override { return AddReference(); }
    uint32_t Release() override { return ReleaseReference(); }

    HRESULT Read(void* data, uint32_t size, uint32_t* processedSize) override;
    HRESULT Write(const void* data, uint32_t size, uint32_t* processedSize) override;
    HRESULT Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) override;
    HRESULT SetSize(uint64_t newSize) override;
    HRESULT GetSize(uint64_t* size) override;
    HRESULT OutStreamFinish() override { return S_OK; }

private:
    ~T7zStream() override;

    TStream* FStream;
    TStreamOwnership FOwnership;
};
