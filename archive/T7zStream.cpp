#include "archive/T7zStream.h"

#include "platform/Exception.h"
#include "platform/SystemMessage.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

// ---- TFileStream

TFileStream* TFileStream::OpenRead(const QString& fileName) {
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(QFileInfo(fileName).absoluteFilePath(), ErrnoMessageText(error)));
    }
    return new TFileStream(FileDescriptor(fd));
}

int TFileStream::Read(void* data, size_t size, size_t& done) {
    done = 0;
    for (;;) {
        const ssize_t count = ::read(FHandle.get(), data, size);
        if (count >= 0) {
            done = static_cast<size_t>(count);
            return 0;
        }
        if (errno != EINTR)
            return errno;
    }
}

int TFileStream::Write(const void* data, size_t size, size_t& done) {
    done = 0;
    while (done < size) {
        const ssize_t count = ::write(FHandle.get(), static_cast<const char*>(data) + done, size - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (count == 0)
            return ENOSPC;
        done += static_cast<size_t>(count);
    }
    return 0;
}

int TFileStream::Seek(int64_t offset, Origin origin, int64_t& position) {
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    const off_t result = ::lseek(FHandle.get(), offset, kWhence[origin]);
    if (result < 0)
        return errno;
    position = result;
    return 0;
}

int TFileStream::GetSize(int64_t& size) {
    struct stat status {};
    if (::fstat(FHandle.get(), &status) != 0)
        return errno;
    size = status.st_size;
    return 0;
}

int TFileStream::SetSize(int64_t size) {
    if (::ftruncate(FHandle.get(), size) != 0)
        return errno;
    return ::lseek(FHandle.get(), size, SEEK_SET) < 0 ? errno : 0;
}

// ---- TMemoryStream

int TMemoryStream::Read(void* data, size_t size, size_t& done) {
    const int64_t available = std::max<int64_t>(0, FBytes.size() - FPosition);
    done = static_cast<size_t>(std::min<int64_t>(available, static_cast<int64_t>(size)));
    if (done > 0)
        std::memcpy(data, FBytes.constData() + FPosition, done);
    FPosition += static_cast<int64_t>(done);
    return 0;
}

int TMemoryStream::Write(const void* data, size_t size, size_t& done) {
    done = 0;
    if (size == 0)
        return 0;
    constexpr int64_t kLargest = std::numeric_limits<qsizetype>::max() / 2;
    if (size > static_cast<size_t>(kLargest) || FPosition > kLargest - static_cast<int64_t>(size))
        return EFBIG;
    const int64_t end = FPosition + static_cast<int64_t>(size);
    if (end > FBytes.size())
        FBytes.resize(end, '\0');
    std::memcpy(FBytes.data() + FPosition, data, size);
    FPosition = end;
    done = size;
    return 0;
}

int TMemoryStream::Seek(int64_t offset, Origin origin, int64_t& position) {
    const int64_t base = origin == FromBeginning ? 0 : origin == FromCurrent ? FPosition : FBytes.size();
    if (offset < -base || offset > std::numeric_limits<int64_t>::max() - base)
        return EINVAL;
    FPosition = base + offset;
    position = FPosition;
    return 0;
}

int TMemoryStream::GetSize(int64_t& size) {
    size = FBytes.size();
    return 0;
}

int TMemoryStream::SetSize(int64_t size) {
    if (size < 0 || size > std::numeric_limits<qsizetype>::max() / 2)
        return EINVAL;
    FBytes.resize(size, '\0');
    FPosition = size;
    return 0;
}

// ---- T7zStream

T7zStream::~T7zStream() {
    if (FOwnership == soOwned)
        delete FStream;
}

HRESULT T7zStream::QueryInterface(const GUID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_ISequentialInStream || iid == IID_IInStream)
        *object = static_cast<IInStream*>(this);
    else if (iid == IID_IStreamGetSize)
        *object = static_cast<IStreamGetSize*>(this);
    else if (iid == IID_ISequentialOutStream || iid == IID_IOutStream)
        *object = static_cast<IOutStream*>(this);
    else if (iid == IID_IOutStreamFinish)
        *object = static_cast<IOutStreamFinish*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT T7zStream::Read(void* data, uint32_t size, uint32_t* processedSize) {
    size_t done = 0;
    const int error = FStream->Read(data, size, done);
    if (processedSize)
        *processedSize = static_cast<uint32_t>(done);
    return error ? HresultFromErrno(error) : S_OK;
}

HRESULT T7zStream::Write(const void* data, uint32_t size, uint32_t* processedSize) {
    size_t done = 0;
    const int error = FStream->Write(data, size, done);
    if (processedSize)
        *processedSize = static_cast<uint32_t>(done);
    return error ? HresultFromErrno(error) : S_OK;
}

HRESULT T7zStream::Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) {
    if (seekOrigin > TStream::FromEnd)
        return STG_E_INVALIDFUNCTION;
    const auto origin = static_cast<TStream::Origin>(seekOrigin);
    // A target before the start is refused with the code the library looks for.
    if (offset < 0 && origin != TStream::FromEnd) {
        int64_t current = 0;
        if (origin == TStream::FromCurrent) {
            if (const int error = FStream->Seek(0, TStream::FromCurrent, current))
                return HresultFromErrno(error);
        }
        if (offset < -current)
            return HRESULT_NEGATIVE_SEEK;
    } else if (offset < 0) {
        int64_t size = 0;
        if (const int error = FStream->GetSize(size))
            return HresultFromErrno(error);
        if (offset < -size)
            return HRESULT_NEGATIVE_SEEK;
    }
    int64_t position = 0;
    if (const int error = FStream->Seek(offset, origin, position))
        return HresultFromErrno(error);
    if (newPosition)
        *newPosition = static_cast<uint64_t>(position);
    return S_OK;
}

HRESULT T7zStream::SetSize(uint64_t newSize) {
    if (newSize > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return E_INVALIDARG;
    const int error = FStream->SetSize(static_cast<int64_t>(newSize));
    return error ? HresultFromErrno(error) : S_OK;
}

HRESULT T7zStream::GetSize(uint64_t* size) {
    if (!size)
        return S_OK;
    int64_t value = 0;
    if (const int error = FStream->GetSize(value))
        return HresultFromErrno(error);
    *size = static_cast<uint64_t>(value);
    return S_OK;
}
