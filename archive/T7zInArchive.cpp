#include "archive/T7zInArchive.h"

#include "archive/ItemPaths.h"
#include "platform/AbortRequest.h"
#include "platform/Exception.h"
#include "platform/SystemMessage.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kAllItems = 0xFFFFFFFFu;
constexpr uint32_t kUtf8CodePage = 65001;

// An item's temporary file; every write first passes the extraction's gate.
class TItemFileStream final : public TStream {
public:
    TItemFileStream(FileDescriptor file, std::function<int(size_t)> gate)
        : FFile(std::move(file)), FGate(std::move(gate)) {}

    int Read(void* data, size_t size, size_t& done) override { return FFile.Read(data, size, done); }
    int Write(const void* data, size_t size, size_t& done) override {
        done = 0;
        if (const int refused = FGate(size))
            return refused;
        return FFile.Write(data, size, done);
    }
    int Seek(int64_t offset, Origin origin, int64_t& position) override {
        return FFile.Seek(offset, origin, position);
    }
    int GetSize(int64_t& size) override { return FFile.GetSize(size); }
    int SetSize(int64_t size) override { return FFile.SetSize(size); }

private:
    TFileStream FFile;
    std::function<int(size_t)> FGate;
};

uint64_t StatvfsFreeSpace(int folderFd) {
    struct statvfs status {};
    if (::fstatvfs(folderFd, &status) != 0)
        return std::numeric_limits<uint64_t>::max(); // unknown: the other bounds still hold
    return uint64_t(status.f_bavail) * status.f_frsize;
}

PROPVARIANT UInt32Variant(uint32_t value) {
    PROPVARIANT variant{};
    variant.vt = VT_UI4;
    variant.ulVal = value;
    return variant;
}

} // namespace

T7zInArchive::~T7zInArchive() {
    CloseExtractRoot();
    // The handler goes before the module: T7zPlugin's destructor unloads it afterwards.
    FInArchive.Reset();
}

// ---- IUnknown

HRESULT T7zInArchive::QueryInterface(const GUID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_I7zInArchive)
        *object = static_cast<I7zInArchive*>(this);
    else if (iid == IID_IArchiveOpenCallback)
        *object = static_cast<IArchiveOpenCallback*>(this);
    else if (iid == IID_IArchiveExtractCallback || iid == IID_IProgress)
        *object = static_cast<IArchiveExtractCallback*>(this);
    else if (iid == IID_ICryptoGetTextPassword)
        *object = static_cast<ICryptoGetTextPassword*>(this);
    else if (iid == IID_IArchiveOpenVolumeCallback)
        *object = static_cast<IArchiveOpenVolumeCallback*>(this);
    else if (iid == IID_IArchiveOpenSetSubArchiveName)
        *object = static_cast<IArchiveOpenSetSubArchiveName*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

// ---- Handler

TComPtr<IInArchive> T7zInArchive::ReadInArchive() {
    if (!FInArchive) {
        TComPtr<IInArchive> handler;
        CreateObject(FClassId, IID_IInArchive, handler.ReceiveVoid());
        if (!handler)
            throw Exception(SystemMessageText(E_NOINTERFACE));
        // All settings in one call, as each call resets the earlier ones. UTF-8 with escaped bytes
        // lets us rebuild names that are not UTF-8 whatever the locale; one thread keeps every
        // library call on ours.
        FNamesAreEscaped = false;
        if (const auto settings = QueryTo<ISetProperties>(handler.Get(), IID_ISetProperties)) {
            const wchar_t* const names[] = {L"cp", L"mt"};
            const PROPVARIANT values[] = {UInt32Variant(kUtf8CodePage), UInt32Variant(1)};
            FNamesAreEscaped = settings->SetProperties(names, values, 2) == S_OK;
        }
        FInArchive = std::move(handler);
    }
    return FInArchive;
}

IInArchive& T7zInArchive::Handler() {
    if (!FInArchive)
        throw Exception(QStringLiteral("No archive is open"));
    return *FInArchive.Get();
}

// ---- Opening and closing

void T7zInArchive::OpenArchiveFile(const QString& fileName) {
    std::unique_ptr<TStream> file(TFileStream::OpenRead(fileName));
    // The allocation comes before the release (C++17), so a failed one leaves the file with its owner.
    TComPtr<IInStream> stream(static_cast<IInStream*>(new T7zStream(file.release(), soOwned)));
    OpenArchiveStream(stream.Get());
}

void T7zInArchive::OpenArchiveStream(IInStream* stream) {
    if (!stream)
        CheckArchiveResult(E_POINTER);
    const TComPtr<IArchiveOpenCallback> callback(static_cast<IArchiveOpenCallback*>(this));
    const TComPtr<IInArchive> handler = ReadInArchive();
    // The handler takes the stream's current position as the archive's start.
    CheckArchiveResult(stream->Seek(0, 0, nullptr));
    FPendingError = nullptr;
    const HRESULT code = handler->Open(stream, &kMaxCheckStartPosition, callback.Get());
    if (FPendingError)
        std::rethrow_exception(std::exchange(FPendingError, nullptr));
    CheckArchiveResult(code);
}

void T7zInArchive::CloseArchive() {
    FPasswordIsDefined = false;
    if (FInArchive) {
        FInArchive->Close();
        FInArchive.Reset();
    }
}

// ---- Items

uint32_t T7zInArchive::ItemCount() {
    uint32_t count = 0;
    CheckArchiveResult(Handler().GetNumberOfItems(&count));
    return count;
}

// The library does not check item indexes itself, so none beyond the last item may reach it.
bool T7zInArchive::HasItem(uint32_t index) {
    uint32_t count = 0;
    return Handler().GetNumberOfItems(&count) == S_OK && index < count;
}

TPropVariant T7zInArchive::ReadItemProperty(uint32_t index, PROPID propID) {
    TPropVariant value(Allocator());
    Handler().GetProperty(index, propID, value.Receive());
    return value;
}

// The path and the name are read the same way: as the library reports them, or, when the library
// escapes raw name bytes, decoded by the item's own UTF-8 flag.
QString T7zInArchive::ReadItemText(uint32_t index, PROPID propID) {
    if (!HasItem(index))
        return {};
    QString reported = ReadItemProperty(index, propID).ToString();
    if (!FNamesAreEscaped)
        return reported;
    return DecodeItemPath(reported, CharactsHaveUtf8Flag(ReadItemProperty(index, kpidCharacts).ToString()));
}

QString T7zInArchive::ItemPath(uint32_t index) {
    return ReadItemText(index, kpidPath);
}

QString T7zInArchive::ItemName(uint32_t index) {
    return ReadItemText(index, kpidName);
}

uint32_t T7zInArchive::ItemSize(uint32_t index) {
    if (!HasItem(index))
        return 0;
    return static_cast<uint32_t>(
        std::min<uint64_t>(ReadItemProperty(index, kpidSize).ToUInt64(), 0xFFFFFFFFu));
}

bool T7zInArchive::ItemIsFolder(uint32_t index) {
    return HasItem(index) && ReadItemProperty(index, kpidIsDir).ToBool();
}

uint32_t T7zInArchive::ArchiveErrors() {
    TPropVariant flags(Allocator());
    Handler().GetArchiveProperty(kpidErrorFlags, flags.Receive());
    return static_cast<uint32_t>(flags.ToUInt64()) & ~kArchiveDataAfterEnd;
}

// ---- Extraction

HRESULT T7zInArchive::CallExtract(const uint32_t* indices, uint32_t count, bool test) {
    // A counted reference: a callback that closes the archive must not free the handler under its
    // own running Extract.
    const TComPtr<IInArchive> handler(&Handler());
    FPendingError = nullptr;
    const HRESULT code =
        handler->Extract(indices, count, test ? 1 : 0, static_cast<IArchiveExtractCallback*>(this));
    if (FPendingError)
        std::rethrow_exception(std::exchange(FPendingError, nullptr));
    return code;
}

void T7zInArchive::RunExtract(const uint32_t* indices, uint32_t count, bool test) {
    CheckArchiveResult(CallExtract(indices, count, test));
}

void T7zInArchive::ExtractOneItem(uint32_t item, TStream* stream, bool test) {
    if (!HasItem(item))
        CheckArchiveResult(E_INVALIDARG);
    FStream = stream;
    const auto clear = qScopeGuard([this] { FStream = nullptr; });
    RunExtract(&item, 1, test);
}

void T7zInArchive::ExtractListedItems(const uint32_t* items, uint32_t count, bool test, void* sender,
                                      T7zGetStreamCallBack callback) {
    if (!items && count > 0)
        CheckArchiveResult(E_POINTER);
    // The library wants the list in ascending order and reads items by index without a check.
    std::vector<uint32_t> sorted(items, items + count);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (!sorted.empty() && !HasItem(sorted.back()))
        CheckArchiveResult(E_INVALIDARG);
    FExtractCallBack = callback;
    FExtractSender = sender;
    const auto clear = qScopeGuard([this] {
        FExtractCallBack = nullptr;
        FExtractSender = nullptr;
    });
    RunExtract(sorted.data(), static_cast<uint32_t>(sorted.size()), test);
}

void T7zInArchive::ExtractEveryItem(bool test, void* sender, T7zGetStreamCallBack callback) {
    FExtractCallBack = callback;
    FExtractSender = sender;
    const auto clear = qScopeGuard([this] {
        FExtractCallBack = nullptr;
        FExtractSender = nullptr;
    });
    RunExtract(nullptr, kAllItems, test);
}

void T7zInArchive::ExtractIntoFolder(const QString& path) {
    // An empty name would otherwise turn into the file system's root.
    if (path.isEmpty())
        CheckArchiveResult(E_INVALIDARG);
    const uint32_t count = ItemCount();
    FOutcome = {};
    for (uint32_t index = 0; index < count; ++index)
        FOutcome.FileItems += ItemIsFolder(index) ? 0 : 1;
    FExtractPath = path.endsWith(u'/') ? path : path + u'/';
    FWrittenTotal = 0;
    FLastPump = std::chrono::steady_clock::now();
    const auto clear = qScopeGuard([this] {
        FItemTarget.Discard();
        FResumeAfter.reset();
        FExtractPath.clear();
        CloseExtractRoot();
    });
    // The library ends its run inside an item that it cannot finish for a reason of that item alone
    // (too large, no password); the items after it are then asked for in a run of their own.
    std::vector<uint32_t> indices(count);
    std::iota(indices.begin(), indices.end(), 0u);
    for (uint32_t next = 0; next < count;) {
        FResumeAfter.reset();
        const HRESULT code = CallExtract(indices.data() + next, count - next, false);
        FItemTarget.Discard();
        if (!FResumeAfter) {
            CheckArchiveResult(code);
            break;
        }
        next = *FResumeAfter + 1;
    }
    FOutcome.ArchiveErrors = ArchiveErrors();
}

// ---- Settings

void T7zInArchive::InstallPasswordProvider(void* sender, T7zPasswordCallback callback) {
    FPasswordSender = sender;
    FPasswordCallback = callback;
}

void T7zInArchive::UsePassword(const QString& password) {
    FPassword = password;
    FPasswordIsDefined = !password.isEmpty();
}

void T7zInArchive::InstallProgressSink(void* sender, T7zProgressCallback callback) {
    FProgressSender = sender;
    FProgressCallback = callback;
}

void T7zInArchive::InstallPump(void* sender, T7zPumpCallback callback) {
    FPumpSender = sender;
    FPump = callback;
}

// ---- Calls from the library. No exception may cross into it: one that arises is kept and raised
// once the library has returned.

HRESULT T7zInArchive::KeepPendingError() {
    if (!FPendingError)
        FPendingError = std::current_exception();
    return E_ABORT;
}

HRESULT T7zInArchive::SetTotal(const uint64_t*, const uint64_t*) {
    return S_OK;
}

HRESULT T7zInArchive::SetCompleted(const uint64_t*, const uint64_t*) {
    return S_OK;
}

HRESULT T7zInArchive::SetTotal(uint64_t total) {
    try {
        return FProgressCallback ? FProgressCallback(FProgressSender, true, static_cast<int64_t>(total))
                                 : S_OK;
    } catch (...) {
        return KeepPendingError();
    }
}

HRESULT T7zInArchive::SetCompleted(const uint64_t* completeValue) {
    try {
        if (FProgressCallback && completeValue)
            return FProgressCallback(FProgressSender, false, static_cast<int64_t>(*completeValue));
        return S_OK;
    } catch (...) {
        return KeepPendingError();
    }
}

HRESULT T7zInArchive::GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) {
    if (!outStream)
        return E_POINTER;
    *outStream = nullptr;
    try {
        if (askExtractMode != kAskExtract)
            return S_OK;
        if (FStream) {
            TComPtr<ISequentialOutStream> stream(
                static_cast<IOutStream*>(new T7zStream(FStream, soReference)));
            *outStream = stream.Detach();
            return S_OK;
        }
        if (FExtractCallBack)
            return FExtractCallBack(FExtractSender, index, outStream);
        if (!FExtractPath.isEmpty() && !ItemIsFolder(index)) {
            if (!PumpPoint())
                return E_ABORT;
            return SupplyItemFile(index, outStream);
        }
        return S_OK;
    } catch (...) {
        return KeepPendingError();
    }
}

HRESULT T7zInArchive::SupplyItemFile(uint32_t index, ISequentialOutStream** outStream) {
    FItemTarget.Discard();
    // A path that could lead outside the target folder gets no stream: the item is skipped.
    const QStringList components = ContainedPathComponents(ItemPath(index));
    if (components.isEmpty())
        return S_OK;
    if (const HRESULT code = OpenExtractRoot(); code != S_OK)
        return code;
    ItemFileResult file = CreateItemFileBelow(FExtractRoot.get(), components);
    switch (file.kind) {
    case ItemFileResult::Skipped:
        return S_OK;
    case ItemFileResult::Failed:
        return HresultFromErrno(file.error);
    case ItemFileResult::Created:
        break;
    }
    FItemIndex = index;
    FItemWritten = 0;
    FItemTarget = std::move(file.target);
    auto fileStream = std::make_unique<TItemFileStream>(std::move(file.file),
                                                        [this](size_t size) { return AdmitItemBytes(size); });
    TComPtr<ISequentialOutStream> stream(
        static_cast<IOutStream*>(new T7zStream(fileStream.release(), soOwned))); // as in OpenArchiveFile
    *outStream = stream.Detach();
    return S_OK;
}

bool T7zInArchive::PumpPoint() {
    FLastPump = std::chrono::steady_clock::now();
    try {
        if (FPump)
            FPump(FPumpSender);
        ThrowIfAbortRequested();
        return true;
    } catch (...) {
        KeepPendingError();
        return false;
    }
}

uint64_t T7zInArchive::FreeSpace() {
    return FLimits.FreeSpace ? FLimits.FreeSpace(FExtractRoot.get()) : StatvfsFreeSpace(FExtractRoot.get());
}

int T7zInArchive::AdmitItemBytes(size_t size) {
    if (std::chrono::steady_clock::now() - FLastPump >= FLimits.PumpInterval && !PumpPoint())
        return ECANCELED;
    if (size > FLimits.ItemBytes - std::min(FItemWritten, FLimits.ItemBytes)) {
        FResumeAfter = FItemIndex;
        return EFBIG;
    }
    try {
        if (size > FLimits.TotalBytes - std::min(FWrittenTotal, FLimits.TotalBytes))
            throw ExtractionBoundError(
                QStringLiteral("The package would write more than %1 bytes").arg(FLimits.TotalBytes));
        const uint64_t free = FreeSpace();
        if (free < FLimits.FreeSpaceReserve || size > free - FLimits.FreeSpaceReserve)
            throw ExtractionBoundError(QStringLiteral("Fewer than %1 bytes would be left free in \"%2\"")
                                           .arg(FLimits.FreeSpaceReserve)
                                           .arg(FExtractPath));
    } catch (...) {
        KeepPendingError();
        return ENOSPC;
    }
    FItemWritten += size;
    FWrittenTotal += size;
    return 0;
}

HRESULT T7zInArchive::FinishItem(bool whole) {
    if (!FItemTarget.Pending())
        return S_OK;
    if (!whole) {
        FItemTarget.Discard();
        return S_OK;
    }
    const int error = FItemTarget.Commit();
    FOutcome.ItemsWritten += error == 0 ? 1 : 0;
    // A folder that took the name meanwhile skips the item like any name that cannot be made.
    return error == 0 || IsNameConflict(error) ? S_OK : HresultFromErrno(error);
}

// The target folder is made (with every missing parent) when the first file goes into it, and held
// open so that each item is placed relative to it.
HRESULT T7zInArchive::OpenExtractRoot() {
    if (FExtractRoot.valid())
        return S_OK;
    QDir().mkpath(FExtractPath);
    FExtractRoot.Reset(
        ::open(QFile::encodeName(FExtractPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return FExtractRoot.valid() ? S_OK : HresultFromErrno(errno);
}

void T7zInArchive::CloseExtractRoot() {
    FExtractRoot.Reset();
}

HRESULT T7zInArchive::PrepareOperation(int32_t) {
    return S_OK;
}

// Damaged items are not reported: the extraction goes on with the next one, and only a whole item
// replaces the file it is written to.
HRESULT T7zInArchive::SetOperationResult(int32_t operationResult) {
    if (FExtractPath.isEmpty())
        return S_OK;
    FResumeAfter.reset();
    if (const HRESULT code = FinishItem(operationResult == kOperationOK); code != S_OK)
        return code;
    return PumpPoint() ? S_OK : E_ABORT;
}

HRESULT T7zInArchive::CryptoGetTextPassword(BSTR* password) {
    if (!password)
        return E_POINTER;
    *password = nullptr;
    try {
        const auto answer = [&](const QString& text) {
            const std::wstring wide = text.toStdWString();
            *password = Allocator().AllocString(wide.data(), static_cast<unsigned>(wide.size()));
            return *password ? S_OK : E_OUTOFMEMORY;
        };
        if (FPasswordIsDefined)
            return answer(FPassword);
        if (FPasswordCallback) {
            QString given;
            const HRESULT code = FPasswordCallback(FPasswordSender, given);
            if (code != S_OK)
                return code;
            FPassword = given;
            FPasswordIsDefined = true;
            return answer(given);
        }
        // The library ends its run with this answer; the item alone is skipped.
        if (FItemTarget.Pending())
            FResumeAfter = FItemIndex;
        return S_FALSE;
    } catch (...) {
        return KeepPendingError();
    }
}

HRESULT T7zInArchive::GetProperty(PROPID, PROPVARIANT*) {
    return S_OK;
}

HRESULT T7zInArchive::GetStream(const wchar_t*, IInStream** inStream) {
    if (inStream)
        *inStream = nullptr;
    return S_OK;
}

// The library announces the name of an archive found inside the one opened; nothing here opens
// nested archives, so the name is not kept. The interface itself is offered because the library asks
// the open callback for it.
HRESULT T7zInArchive::SetSubArchiveName(const wchar_t*) {
    return S_OK;
}
