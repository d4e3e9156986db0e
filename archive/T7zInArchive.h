#pragma once

#include "archive/ItemPaths.h"
#include "archive/Unit_sevenzip.h"
#include "platform/FileDescriptor.h"

#include <QString>

#include <chrono>
#include <exception>
#include <optional>

// The extraction object. Towards the library it plays every callback role of opening and
// extraction: open callback, extract callback with progress, password provider, volume callback
// and sub-archive-name sink.
class T7zInArchive final : public T7zArchive,
                           public I7zInArchive,
                           public IArchiveOpenCallback,
                           public IArchiveExtractCallback,
                           public ICryptoGetTextPassword,
                           public IArchiveOpenVolumeCallback,
                           public IArchiveOpenSetSubArchiveName {
public:
    explicit T7zInArchive(const QString& lib, const TLibraryImage* expected = nullptr)
        : T7zArchive(lib, expected) {}

    // IUnknown
    HRESULT QueryInterface(const GUID& iid, void** object) override;
    uint32_t AddRef() override { return AddReference(); }
    uint32_t Release() override { return ReleaseReference(); }

    // I7zInArchive
    void OpenArchiveFile(const QString& fileName) override;
    void OpenArchiveStream(IInStream* stream) override;
    void CloseArchive() override;
    uint32_t ItemCount() override;
    QString ItemPath(uint32_t index) override;
    QString ItemName(uint32_t index) override;
    uint32_t ItemSize(uint32_t index) override;
    bool ItemIsFolder(uint32_t index) override;
    uint32_t ArchiveErrors() override;
    TComPtr<IInArchive> ReadInArchive() override;
    void ExtractOneItem(uint32_t item, TStream* stream, bool test) override;
    void ExtractListedItems(const uint32_t* items, uint32_t count, bool test, void* sender,
                            T7zGetStreamCallBack callback) override;
    void ExtractEveryItem(bool test, void* sender, T7zGetStreamCallBack callback) override;
    void ExtractIntoFolder(const QString& path) override;
    TExtractionOutcome LastExtraction() override { return FOutcome; }
    void InstallPasswordProvider(void* sender, T7zPasswordCallback callback) override;
    void UsePassword(const QString& password) override;
    void InstallProgressSink(void* sender, T7zProgressCallback callback) override;
    void InstallPump(void* sender, T7zPumpCallback callback) override;
    void SetExtractionLimits(const TExtractionLimits& limits) override { FLimits = limits; }
    void WriteClassID(const GUID& classId) override { SetClassID(classId); }
    GUID ReadClassID() override { return ClassID(); }

    // IArchiveOpenCallback
    HRESULT SetTotal(const uint64_t* files, const uint64_t* bytes) override;
    HRESULT SetCompleted(const uint64_t* files, const uint64_t* bytes) override;
    // IProgress part of the extract callback
    HRESULT SetTotal(uint64_t total) override;
    HRESULT SetCompleted(const uint64_t* completeValue) override;
    // IArchiveExtractCallback
    HRESULT GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) override;
    HRESULT PrepareOperation(int32_t askExtractMode) override;
    HRESULT SetOperationResult(int32_t operationResult) override;
    // ICryptoGetTextPassword
    HRESULT CryptoGetTextPassword(BSTR* password) override;
    // IArchiveOpenVolumeCallback
    HRESULT GetProperty(PROPID propID, PROPVARIANT* value) override;
    HRESULT GetStream(const wchar_t* name, IInStream** inStream) override;
    // IArchiveOpenSetSubArchiveName
    HRESULT SetSubArchiveName(const wchar_t* name) override;

    // The largest start position at which the signature search looks for the archive.
    static constexpr uint64_t kMaxCheckStartPosition = 1 << 20;

private:
    ~T7zInArchive() override;

    IInArchive& Handler();
    bool HasItem(uint32_t index);
    TPropVariant ReadItemProperty(uint32_t index, PROPID propID);
    QString ReadItemText(uint32_t index, PROPID propID);
    void RunExtract(const uint32_t* indices, uint32_t count, bool test);
    // The library's answer; an error kept from a callback is raised instead.
    HRESULT CallExtract(const uint32_t* indices, uint32_t count, bool test);
    HRESULT SupplyItemFile(uint32_t index, ISequentialOutStream** outStream);
    HRESULT OpenExtractRoot();
    void CloseExtractRoot();
    // Under ExtractIntoFolder: a pump point (false: give up, the reason kept); the gate every
    // write of an item passes (0 or the system error number that refuses the bytes).
    bool PumpPoint();
    int AdmitItemBytes(size_t size);
    uint64_t FreeSpace();
    // The item being written ends: in place when whole, else its temporary file goes.
    HRESULT FinishItem(bool whole);
    // Keeps an exception met inside a library callback, to raise once the library has returned.
    HRESULT KeepPendingError();

    TComPtr<IInArchive> FInArchive;
    T7zPasswordCallback FPasswordCallback = nullptr;
    void* FPasswordSender = nullptr;
    T7zProgressCallback FProgressCallback = nullptr;
    void* FProgressSender = nullptr;
    TStream* FStream = nullptr;
    bool FPasswordIsDefined = false;
    QString FPassword;
    T7zGetStreamCallBack FExtractCallBack = nullptr;
    void* FExtractSender = nullptr;
    QString FExtractPath;

    // The handler accepted our name settings, so names come as escaped UTF-8.
    bool FNamesAreEscaped = false;
    FileDescriptor FExtractRoot;
    std::exception_ptr FPendingError;

    TExtractionLimits FLimits;
    T7zPumpCallback FPump = nullptr;
    void* FPumpSender = nullptr;
    std::chrono::steady_clock::time_point FLastPump;
    uint64_t FWrittenTotal = 0;
    // The item of ExtractIntoFolder whose data is being written.
    uint32_t FItemIndex = 0;
    uint64_t FItemWritten = 0;
    ItemFileTarget FItemTarget;
    // The library stopped inside this item for a reason of the item alone: go on after it.
    std::optional<uint32_t> FResumeAfter;
    TExtractionOutcome FOutcome;
};
