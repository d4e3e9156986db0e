#pragma once

// Binding to the 7-Zip archive library: loading the module, its format handlers, and the
// extraction object with which the update unpacks the schedule package.

#include "archive/ComPtr.h"
#include "archive/InterfacedObject.h"
#include "archive/LibraryFile.h"
#include "archive/SevenZipAbi.h"
#include "archive/T7zStream.h"
#include "platform/Exception.h"
#include "platform/FileDescriptor.h"
#include "platform/ProgramPlaces.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>

// ---- Library resources on disk

// Writes the bytes of the executable's resource (name, type), both matched without regard to case,
// to fileName: into a new file beside it, renamed over fileName once whole, so whatever stood there
// (a link included) is replaced and never written through. A plain file of the user's that already
// holds exactly those bytes is left as it is. Raises "Resource %s not found", "Cannot create
// file "%s". %s" or "Cannot write file "%s". %s".
void ExtractResourceToFile(const QString& resourceName, const QString& resourceType, const QString& fileName);

// ---- Result codes

// Archive operations fail on any code other than 0, with the system's text for the code.
void CheckArchiveResult(int32_t code);

// ---- Values that the library allocates

// The library's own allocator: strings and variants that cross the boundary are made and freed by it.
struct TLibraryAllocator {
    SysAllocStringLenFunc AllocString = nullptr;
    SysFreeStringFunc FreeString = nullptr;
    SysStringByteLenFunc StringByteLength = nullptr;
    VariantClearFunc ClearVariant = nullptr;
};

// A variant filled in by the library, cleared by the library when it goes.
class TPropVariant final {
public:
    explicit TPropVariant(const TLibraryAllocator& allocator);
    ~TPropVariant() { Clear(); }
    TPropVariant(TPropVariant&& other) noexcept;
    TPropVariant(const TPropVariant&) = delete;
    TPropVariant& operator=(const TPropVariant&) = delete;
    TPropVariant& operator=(TPropVariant&&) = delete;

    // Address for an out-parameter: cleared, and empty.
    PROPVARIANT* Receive();
    void Clear();

    const PROPVARIANT& Value() const { return FValue; }
    VARTYPE Type() const { return FValue.vt; }
    // Strings give their text, numbers their decimal form, booleans "True" or "False"; no value "".
    QString ToString() const;
    bool ToBool() const;
    uint64_t ToUInt64() const;
    // The raw bytes of a string value, as class ids are handed out.
    QByteArray StringBytes() const;

private:
    TLibraryAllocator FAllocator;
    PROPVARIANT FValue;
};

// ---- Module and handler classes

// The handler property ids, in the library's published numbering.
enum class NArchive : PROPID {
    kName,
    kClassID,
    kExtension,
    kAddExtension,
    kUpdate,
    kKeepName,
    kStartSignature,
    kFinishSignature,
    kAssociate,
};

// The Zip format handler's class id.
inline constexpr GUID CLSID_CFormatZip{
    0x23170F69u, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x01, 0x00, 0x00}};

// Loads the library module and calls its CreateObject. The module is given back when the object goes.
class T7zPlugin : public TInterfacedObject, public IUnknown {
public:
    // Loads lib ("./" is put before a bare name, so the file in the working directory is the one
    // found). Only a file that nobody but the user or root can change is loaded. With expected, a
    // file that does not hold exactly that image is never loaded, and the module is loaded from a
    // sealed copy of the checked bytes, never from the file itself. Raises "Error loading library
    // %s" and "%s is not a 7z library".
    explicit T7zPlugin(const QString& lib, const TLibraryImage* expected = nullptr);

    HRESULT QueryInterface(const GUID& iid, void** object) override;
    uint32_t AddRef() override { return AddReference(); }
    uint32_t Release() override { return ReleaseReference(); }

    // Raises on a negative code, with the system's text for it.
    void CreateObject(const GUID& clsid, const GUID& iid, void** object);
    const TLibraryAllocator& Allocator() const { return FAllocator; }

protected:
    ~T7zPlugin() override;
    // Gives the module back now, for a constructor that is about to raise.
    void ReleaseModule();
    void* Entry(const char* name) const;
    const QString& LibraryName() const { return FLibraryName; }

private:
    void CheckInterfaceLayout();

    // What the module was loaded from; held while it is loaded, so that its name stays its own.
    FileDescriptor FModuleFile;
    void* FHandle = nullptr;
    CreateObjectFunc FCreateObject = nullptr;
    TLibraryAllocator FAllocator;
    QString FLibraryName;
};

// A module that describes format handlers, and the class id of the handler to create.
class T7zArchive : public T7zPlugin {
public:
    // As T7zPlugin, then raises "%s is not a Format library" without GetHandlerProperty.
    explicit T7zArchive(const QString& lib, const TLibraryImage* expected = nullptr);

    // Raises on a negative code, with the system's text for it.
    TPropVariant GetHandlerProperty(NArchive propID);
    QString GetLibStringProperty(NArchive index);
    GUID GetLibGUIDProperty(NArchive index);

    QString Name() { return GetLibStringProperty(NArchive::kName); }
    QString Extension() { return GetLibStringProperty(NArchive::kExtension); }
    GUID ClassID() const { return FClassId; }
    void SetClassID(const GUID& classId) { FClassId = classId; }

protected:
    ~T7zArchive() override = default;

    GetHandlerPropertyFunc FGetHandlerProperty = nullptr;
    GUID FClassId{};
};

// ---- The extraction object's interface

// Callbacks get back the context pointer (sender) that was registered with them; they return a
// result code, 0 for success.
using T7zPasswordCallback = HRESULT (*)(void* sender, QString& password);
// Hands over one counted reference in *outStream, or leaves it empty to skip the item.
using T7zGetStreamCallBack = HRESULT (*)(void* sender, uint32_t index, ISequentialOutStream** outStream);
// total true: value is the total to come; false: the amount done so far.
using T7zProgressCallback = HRESULT (*)(void* sender, bool total, int64_t value);

// Called at the pump points of ExtractIntoFolder, to keep the window answering.
using T7zPumpCallback = void (*)(void* sender);

// What ExtractIntoFolder may write. A listing is a few kilobytes; these bounds stop a package that
// would fill the disk.
struct TExtractionLimits {
    static constexpr uint64_t MiB = uint64_t(1) << 20;
    // An item that would write more is skipped, and its partial file removed.
    uint64_t ItemBytes = 64 * MiB;
    // Reaching either of these ends the extraction with ExtractionBoundError.
    uint64_t TotalBytes = 1024 * MiB;
    uint64_t FreeSpaceReserve = 64 * MiB;
    // Longest time between two pumps while an item's data is written.
    std::chrono::milliseconds PumpInterval{50};
    // Bytes free for the user on the file system of the open folder; by default statvfs's answer.
    std::function<uint64_t(int folderFd)> FreeSpace;
};

// The extraction stopped at one of its bounds; what it wrote before stays.
class ExtractionBoundError final : public Exception {
public:
    using Exception::Exception;
};

// What the last ExtractIntoFolder did not do.
struct TExtractionOutcome {
    uint32_t FileItems = 0;    // the archive's file items
    uint32_t ItemsWritten = 0; // of them, written whole into place
    // The library's damage flags for the archive (kpidErrorFlags), data after its end left out.
    uint32_t ArchiveErrors = 0;
    bool Whole() const { return ItemsWritten == FileItems && ArchiveErrors == 0; }
};

// {022CF785-3ECE-46EF-9755-291FA84CC6C9}
inline constexpr GUID IID_I7zInArchive{
    0x022CF785u, 0x3ECE, 0x46EF, {0x97, 0x55, 0x29, 0x1F, 0xA8, 0x4C, 0xC6, 0xC9}};

// Opens an archive through a format handler and writes its items out. Operations raise Exception.
// Those that need the handler raise "No archive is open" before an open or after CloseArchive.
class I7zInArchive : public IUnknown {
public:
    virtual void OpenArchiveFile(const QString& fileName) = 0;
    virtual void OpenArchiveStream(IInStream* stream) = 0;
    virtual void CloseArchive() = 0;
    virtual uint32_t ItemCount() = 0;
    // Item reads give "", 0 or false for an index that the archive does not have.
    virtual QString ItemPath(uint32_t index) = 0;
    virtual QString ItemName(uint32_t index) = 0;
    virtual uint32_t ItemSize(uint32_t index) = 0;
    virtual bool ItemIsFolder(uint32_t index) = 0;
    // The library's damage flags for the open archive (kpidErrorFlags), data after its end left out:
    // the library opens a damaged or cut-short Zip all the same, with the items it can find.
    virtual uint32_t ArchiveErrors() = 0;
    virtual TComPtr<IInArchive> ReadInArchive() = 0;
    virtual void ExtractOneItem(uint32_t item, TStream* stream, bool test) = 0;
    virtual void ExtractListedItems(const uint32_t* items, uint32_t count, bool test, void* sender,
                                    T7zGetStreamCallBack callback) = 0;
    virtual void ExtractEveryItem(bool test, void* sender, T7zGetStreamCallBack callback) = 0;
    // Writes every file item below path. Each item goes into a temporary file beside its target and
    // replaces the target only when the library reports it whole, so a damaged, encrypted, cut-short
    // or oversized item leaves the old file as it was; the extraction then goes on with the next item.
    // LastExtraction tells afterwards whether every item came through.
    virtual void ExtractIntoFolder(const QString& path) = 0;
    virtual TExtractionOutcome LastExtraction() = 0;
    virtual void InstallPasswordProvider(void* sender, T7zPasswordCallback callback) = 0;
    virtual void UsePassword(const QString& password) = 0;
    virtual void InstallProgressSink(void* sender, T7zProgressCallback callback) = 0;
    // ExtractIntoFolder pumps at every item boundary and at most every PumpInterval while it writes;
    // at each pump point it gives up with AbortedError when an abort has been requested.
    virtual void InstallPump(void* sender, T7zPumpCallback callback) = 0;
    virtual void SetExtractionLimits(const TExtractionLimits& limits) = 0;
    virtual void WriteClassID(const GUID& classId) = 0;
    virtual GUID ReadClassID() = 0;

protected:
    ~I7zInArchive() = default;
};

using I7zInArchivePtr = TComPtr<I7zInArchive>;

// Name of the library file that start-up writes and the factory loads.
inline constexpr const char16_t* kArchiveLibraryName = kLibraryCopyName;

// An extraction object over the library file (by default "7z.dll" in the working directory) for the
// handler classId; the handler itself is created at the first open. A copy that start-up wrote
// (embeddedCopy) is loaded only when it holds exactly the embedded library, so a file planted in its
// place gives "Error loading library %s"; the system's own library is taken as it is. Raises the
// library's load errors.
I7zInArchivePtr MakeInArchive(const GUID& classId,
                              const QString& library = QString::fromUtf16(kArchiveLibraryName),
                              bool embeddedCopy = true);
