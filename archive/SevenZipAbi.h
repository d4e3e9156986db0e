#pragma once

// The archive library's binary interface as the Linux x86_64 build (7-Zip 26.02) defines it: plain
// g++ virtual calls, no destructor slot in IUnknown, 32-bit HRESULT, 32-bit wchar_t.
// Only declarations live here. The library's exported functions are reached through pointers held
// by the loaded module; no global function may carry one of their names, or a library call could
// land in ours instead.

#include <cstdint>
#include <cstring>

using HRESULT = int32_t;
using PROPID = uint32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using BSTR = wchar_t*;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
};
static_assert(sizeof(GUID) == 16);

struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

// PROPVARIANT as the library lays it out: 16 bytes, the value at offset 8.
struct PROPVARIANT {
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union {
        int16_t iVal;
        VARIANT_BOOL boolVal;
        int32_t lVal;
        uint32_t ulVal;
        int64_t hVal;
        uint64_t uhVal;
        FILETIME filetime;
        BSTR bstrVal;
    };
};
static_assert(sizeof(PROPVARIANT) == 16);

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_FILETIME = 64,
};

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001u);
// What the library expects from a stream asked to seek before its start.
inline constexpr HRESULT HRESULT_NEGATIVE_SEEK = static_cast<HRESULT>(0x80070083u);

// A system error number as a result code, in the form the message texts understand.
inline HRESULT HresultFromErrno(int errorNumber) {
    return static_cast<HRESULT>(0x80070000u | (static_cast<uint32_t>(errorNumber) & 0xFFFFu));
}

// Item properties (IInArchive::GetProperty).
enum : PROPID {
    kpidPath = 3,
    kpidName = 4,
    kpidIsDir = 6,
    kpidSize = 7,
    kpidCharacts = 47,
    kpidErrorFlags = 71, // of the archive (GetArchiveProperty)
};

// Bits of kpidErrorFlags: how the library found the archive damaged. Data after the archive's end
// leaves the archive itself whole.
enum : uint32_t {
    kArchiveUnexpectedEnd = 0x20,
    kArchiveDataAfterEnd = 0x40,
};

// Ask modes and operation results of the extract callback.
enum : int32_t {
    kAskExtract = 0,
    kAskTest = 1,
    kAskSkip = 2,
    kOperationOK = 0,
};

// {23170F69-40C1-278A-0000-00yy00xx0000}: the library's interface ids.
constexpr GUID LibraryInterfaceId(uint8_t group, uint8_t number) {
    return GUID{0x23170F69u, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, number, 0x00, 0x00}};
}

inline constexpr GUID IID_IUnknown{0x00000000u, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IProgress = LibraryInterfaceId(0x00, 0x05);
inline constexpr GUID IID_ISequentialInStream = LibraryInterfaceId(0x03, 0x01);
inline constexpr GUID IID_ISequentialOutStream = LibraryInterfaceId(0x03, 0x02);
inline constexpr GUID IID_IInStream = LibraryInterfaceId(0x03, 0x03);
inline constexpr GUID IID_IOutStream = LibraryInterfaceId(0x03, 0x04);
inline constexpr GUID IID_IStreamGetSize = LibraryInterfaceId(0x03, 0x06);
inline constexpr GUID IID_IOutStreamFinish = LibraryInterfaceId(0x03, 0x07);
inline constexpr GUID IID_ICryptoGetTextPassword = LibraryInterfaceId(0x05, 0x10);
inline constexpr GUID IID_ISetProperties = LibraryInterfaceId(0x06, 0x03);
inline constexpr GUID IID_IArchiveOpenCallback = LibraryInterfaceId(0x06, 0x10);
inline constexpr GUID IID_IArchiveExtractCallback = LibraryInterfaceId(0x06, 0x20);
inline constexpr GUID IID_IArchiveOpenVolumeCallback = LibraryInterfaceId(0x06, 0x30);
inline constexpr GUID IID_IArchiveOpenSetSubArchiveName = LibraryInterfaceId(0x06, 0x50);
inline constexpr GUID IID_IInArchive = LibraryInterfaceId(0x06, 0x60);

// Interfaces: pure virtual methods only, in the library's slot order. The protected destructor
// adds no slot; it only keeps anyone from deleting an object through an interface pointer.
class IUnknown {
public:
    virtual HRESULT QueryInterface(const GUID& iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

class ISequentialInStream : public IUnknown {
public:
    virtual HRESULT Read(void* data, uint32_t size, uint32_t* processedSize) = 0;

protected:
    ~ISequentialInStream() = default;
};

class IInStream : public ISequentialInStream {
public:
    virtual HRESULT Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) = 0;

protected:
    ~IInStream() = default;
};

class ISequentialOutStream : public IUnknown {
public:
    virtual HRESULT Write(const void* data, uint32_t size, uint32_t* processedSize) = 0;

protected:
    ~ISequentialOutStream() = default;
};

class IOutStream : public ISequentialOutStream {
public:
    virtual HRESULT Seek(int64_t offset, uint32_t seekOrigin, uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(uint64_t newSize) = 0;

protected:
    ~IOutStream() = default;
};

class IStreamGetSize : public IUnknown {
public:
    virtual HRESULT GetSize(uint64_t* size) = 0;

protected:
    ~IStreamGetSize() = default;
};

// Same id and slot as the older IOutStreamFlush::Flush.
class IOutStreamFinish : public IUnknown {
public:
    virtual HRESULT OutStreamFinish() = 0;

protected:
    ~IOutStreamFinish() = default;
};

class IProgress : public IUnknown {
public:
    virtual HRESULT SetTotal(uint64_t total) = 0;
    virtual HRESULT SetCompleted(const uint64_t* completeValue) = 0;

protected:
    ~IProgress() = default;
};

class IArchiveOpenCallback : public IUnknown {
public:
    virtual HRESULT SetTotal(const uint64_t* files, const uint64_t* bytes) = 0;
    virtual HRESULT SetCompleted(const uint64_t* files, const uint64_t* bytes) = 0;

protected:
    ~IArchiveOpenCallback() = default;
};

class IArchiveExtractCallback : public IProgress {
public:
    virtual HRESULT GetStream(uint32_t index, ISequentialOutStream** outStream, int32_t askExtractMode) = 0;
    virtual HRESULT PrepareOperation(int32_t askExtractMode) = 0;
    virtual HRESULT SetOperationResult(int32_t operationResult) = 0;

protected:
    ~IArchiveExtractCallback() = default;
};

class ICryptoGetTextPassword : public IUnknown {
public:
    virtual HRESULT CryptoGetTextPassword(BSTR* password) = 0;

protected:
    ~ICryptoGetTextPassword() = default;
};

class IArchiveOpenVolumeCallback : public IUnknown {
public:
    virtual HRESULT GetProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetStream(const wchar_t* name, IInStream** inStream) = 0;

protected:
    ~IArchiveOpenVolumeCallback() = default;
};

class IArchiveOpenSetSubArchiveName : public IUnknown {
public:
    virtual HRESULT SetSubArchiveName(const wchar_t* name) = 0;

protected:
    ~IArchiveOpenSetSubArchiveName() = default;
};

class ISetProperties : public IUnknown {
public:
    virtual HRESULT SetProperties(const wchar_t* const* names, const PROPVARIANT* values, uint32_t count) = 0;

protected:
    ~ISetProperties() = default;
};

class IInArchive : public IUnknown {
public:
    virtual HRESULT Open(IInStream* stream, const uint64_t* maxCheckStartPosition,
                         IArchiveOpenCallback* openCallback) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT GetNumberOfItems(uint32_t* numItems) = 0;
    virtual HRESULT GetProperty(uint32_t index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT Extract(const uint32_t* indices, uint32_t numItems, int32_t testMode,
                            IArchiveExtractCallback* extractCallback) = 0;
    virtual HRESULT GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetNumberOfProperties(uint32_t* numProps) = 0;
    virtual HRESULT GetPropertyInfo(uint32_t index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;
    virtual HRESULT GetNumberOfArchiveProperties(uint32_t* numProps) = 0;
    virtual HRESULT GetArchivePropertyInfo(uint32_t index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;

protected:
    ~IInArchive() = default;
};

// Types of the exported functions, reached only through pointers.
using CreateObjectFunc = HRESULT (*)(const GUID* classId, const GUID* interfaceId, void** object);
using GetHandlerPropertyFunc = HRESULT (*)(PROPID propId, PROPVARIANT* value);
using GetModulePropFunc = HRESULT (*)(PROPID propId, PROPVARIANT* value);
using SysAllocStringLenFunc = BSTR (*)(const wchar_t* text, unsigned length);
using SysFreeStringFunc = void (*)(BSTR text);
using SysStringByteLenFunc = unsigned (*)(BSTR text);
using VariantClearFunc = HRESULT (*)(PROPVARIANT* value);
