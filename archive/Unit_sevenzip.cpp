#include "archive/Unit_sevenzip.h"

#include "archive/ItemPaths.h"
#include "archive/T7zInArchive.h"
#include "platform/Exception.h"
#include "platform/FileDescriptor.h"
#include "platform/Logging.h"
#include "platform/SystemMessage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QResource>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Resources live at ":/rsrc/TYPE/NAME"; both parts are matched without regard to case.
QString FindResourcePath(const QString& name, const QString& type) {
    const QDir root(QStringLiteral(":/rsrc"));
    for (const QString& typeFolder : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (typeFolder.compare(type, Qt::CaseInsensitive) != 0)
            continue;
        const QDir folder(root.filePath(typeFolder));
        for (const QString& entry : folder.entryList(QDir::Files))
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                return folder.filePath(entry);
    }
    return {};
}

// Whether `name` in the folder is a plain file of this user's, with no other name and writable by
// nobody else, that holds exactly `bytes`: then there is nothing to write. Anything else (a link, a
// pipe, another owner, a mode open to others, other content) is replaced as before.
bool HoldsExactly(int folder, const QByteArray& name, const char* bytes, qint64 size) {
    const FileDescriptor file(
        ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size != size || status.st_nlink != 1 || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    std::vector<char> block(std::size_t{256} * 1024);
    for (qint64 offset = 0; offset < size;) {
        const ssize_t count =
            ::read(file.get(), block.data(),
                   static_cast<size_t>(std::min<qint64>(qint64(block.size()), size - offset)));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0 || std::memcmp(block.data(), bytes + offset, static_cast<size_t>(count)) != 0)
            return false;
        offset += count;
    }
    return true;
}

// The file to load the module from: the library file itself when nobody else can change it, or,
// for a copy that must hold exactly the embedded library, a sealed copy of its checked bytes.
FileDescriptor OpenModuleFile(const QString& path, const TLibraryImage* expected) {
    QString problem;
    FileDescriptor file = OpenTrustedLibraryFile(path, &problem);
    if (file.valid() && expected)
        file = SealedLibraryCopy(file.get(), *expected, QFileInfo(path).absoluteFilePath(), &problem);
    if (!file.valid())
        qCWarning(lcUpdate).noquote() << "archive library refused:" << problem;
    return file;
}

void CheckLibraryResult(HRESULT code) {
    if (code < 0)
        throw Exception(SystemMessageText(code));
}

} // namespace

// ---- ExtractResourceToFile

void ExtractResourceToFile(const QString& resourceName, const QString& resourceType,
                           const QString& fileName) {
    const QString path = FindResourcePath(resourceName, resourceType);
    if (path.isEmpty())
        throw Exception(QStringLiteral("Resource %1 not found").arg(resourceName));
    const QResource resource(path);
    // An uncompressed resource is read where it lies; a compressed one has to be unpacked first.
    QByteArray unpacked;
    const char* bytes = reinterpret_cast<const char*>(resource.data());
    qint64 size = resource.size();
    if (resource.compressionAlgorithm() != QResource::NoCompression) {
        unpacked = resource.uncompressedData();
        bytes = unpacked.constData();
        size = unpacked.size();
    }

    const QString fullPath = QFileInfo(fileName).absoluteFilePath();
    const auto fail = [&](const char* what, int error) {
        throw Exception(QStringLiteral("Cannot %1 file \"%2\". %3")
                            .arg(QLatin1String(what), fullPath, ErrnoMessageText(error)));
    };
    // Written under a temporary name and renamed over the file only when whole: a link standing
    // there is replaced, never followed, and a failed write leaves no half library behind.
    const FileDescriptor folder(::open(QFile::encodeName(QFileInfo(fileName).path()).constData(),
                                       O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        fail("create", errno);
    // Every start writes the library; mostly the copy of the last start is still there, whole.
    if (HoldsExactly(folder.get(), QFile::encodeName(QFileInfo(fileName).fileName()), bytes, size))
        return;
    QByteArray temporaryName = QFile::encodeName(QFileInfo(fileName).fileName()) + '.';
    const FileDescriptor file(CreateTemporaryFileAt(folder.get(), temporaryName, ".part"));
    if (!file.valid())
        fail("create", errno);
    const auto failRemoving = [&](const char* what, int error) {
        ::unlinkat(folder.get(), temporaryName.constData(), 0);
        fail(what, error);
    };
    // Whatever the umask, only the user may change the library: the extraction loads no other.
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || ::fchmod(file.get(), status.st_mode & 0755) != 0)
        failRemoving("create", errno);
    qint64 written = 0;
    while (written < size) {
        const ssize_t count = ::write(file.get(), bytes + written, static_cast<size_t>(size - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            failRemoving("write", count < 0 ? errno : ENOSPC);
        written += count;
    }
    if (::renameat(folder.get(), temporaryName.constData(), folder.get(),
                   QFile::encodeName(QFileInfo(fileName).fileName()).constData()) != 0)
        failRemoving("create", errno);
}

// ---- CheckArchiveResult

void CheckArchiveResult(int32_t code) {
    if (code != S_OK)
        throw Exception(SystemMessageText(code));
}

// ---- TPropVariant

TPropVariant::TPropVariant(const TLibraryAllocator& allocator) : FAllocator(allocator) {
    std::memset(&FValue, 0, sizeof FValue);
}

TPropVariant::TPropVariant(TPropVariant&& other) noexcept
    : FAllocator(other.FAllocator), FValue(other.FValue) {
    std::memset(&other.FValue, 0, sizeof other.FValue);
}

PROPVARIANT* TPropVariant::Receive() {
    Clear();
    return &FValue;
}

void TPropVariant::Clear() {
    if (FValue.vt != VT_EMPTY && FAllocator.ClearVariant)
        FAllocator.ClearVariant(&FValue);
    std::memset(&FValue, 0, sizeof FValue);
}

QString TPropVariant::ToString() const {
    switch (FValue.vt) {
    case VT_BSTR:
        if (!FValue.bstrVal)
            return {};
        return WideToQString(FValue.bstrVal, FAllocator.StringByteLength(FValue.bstrVal) / sizeof(wchar_t));
    case VT_BOOL:
        return FValue.boolVal ? QStringLiteral("True") : QStringLiteral("False");
    case VT_I4:
        return QString::number(FValue.lVal);
    case VT_I8:
        return QString::number(FValue.hVal);
    case VT_UI1:
    case VT_UI4:
    case VT_UI8:
        return QString::number(ToUInt64());
    default:
        return {};
    }
}

bool TPropVariant::ToBool() const {
    return FValue.vt == VT_BOOL && FValue.boolVal != 0;
}

uint64_t TPropVariant::ToUInt64() const {
    switch (FValue.vt) {
    case VT_UI1:
        return static_cast<uint8_t>(FValue.ulVal);
    case VT_UI4:
        return FValue.ulVal;
    case VT_UI8:
        return FValue.uhVal;
    case VT_I4:
        return FValue.lVal < 0 ? 0 : static_cast<uint64_t>(FValue.lVal);
    case VT_I8:
        return FValue.hVal < 0 ? 0 : static_cast<uint64_t>(FValue.hVal);
    default:
        return 0;
    }
}

QByteArray TPropVariant::StringBytes() const {
    if (FValue.vt != VT_BSTR || !FValue.bstrVal)
        return {};
    return QByteArray(reinterpret_cast<const char*>(FValue.bstrVal),
                      static_cast<qsizetype>(FAllocator.StringByteLength(FValue.bstrVal)));
}

// ---- T7zPlugin

T7zPlugin::T7zPlugin(const QString& lib, const TLibraryImage* expected) : FLibraryName(lib) {
    // Linux does not look in the working directory for a bare name, so it is named there.
    const QString path = lib.contains(u'/') ? lib : QStringLiteral("./") + lib;
    FModuleFile = OpenModuleFile(path, expected);
    // Through the descriptor that was checked: a name that now leads elsewhere changes nothing.
    if (FModuleFile.valid())
        FHandle = ::dlopen(QStringLiteral("/proc/self/fd/%1").arg(FModuleFile.get()).toLatin1().constData(),
                           RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        if (FModuleFile.valid())
            qCWarning(lcUpdate).noquote() << "archive library not loaded:" << ::dlerror();
        FModuleFile.Reset();
        throw Exception(QStringLiteral("Error loading library %1").arg(lib));
    }
    FCreateObject = reinterpret_cast<CreateObjectFunc>(Entry("CreateObject"));
    FAllocator.AllocString = reinterpret_cast<SysAllocStringLenFunc>(Entry("SysAllocStringLen"));
    FAllocator.FreeString = reinterpret_cast<SysFreeStringFunc>(Entry("SysFreeString"));
    FAllocator.StringByteLength = reinterpret_cast<SysStringByteLenFunc>(Entry("SysStringByteLen"));
    FAllocator.ClearVariant = reinterpret_cast<VariantClearFunc>(Entry("VariantClear"));
    // Without its allocator, or built with another interface layout, the module is no use to us.
    if (!FCreateObject || !FAllocator.AllocString || !FAllocator.FreeString || !FAllocator.StringByteLength ||
        !FAllocator.ClearVariant)
        FCreateObject = nullptr;
    else
        CheckInterfaceLayout();
    if (!FCreateObject) {
        ReleaseModule();
        throw Exception(QStringLiteral("%1 is not a 7z library").arg(lib));
    }
}

T7zPlugin::~T7zPlugin() {
    ReleaseModule();
}

// Builds whose IUnknown has a virtual destructor put two more slots before every method; the
// module says which layout it has (0: none). One that does not say is an old build of that kind.
void T7zPlugin::CheckInterfaceLayout() {
    const auto getModuleProp = reinterpret_cast<GetModulePropFunc>(Entry("GetModuleProp"));
    TPropVariant layout(FAllocator);
    if (!getModuleProp || getModuleProp(0, layout.Receive()) != S_OK || layout.Type() != VT_UI4 ||
        layout.Value().ulVal != 0)
        FCreateObject = nullptr;
}

void T7zPlugin::ReleaseModule() {
    FCreateObject = nullptr;
    FAllocator = {};
    if (void* handle = std::exchange(FHandle, nullptr))
        ::dlclose(handle);
    FModuleFile.Reset();
}

void* T7zPlugin::Entry(const char* name) const {
    return FHandle ? ::dlsym(FHandle, name) : nullptr;
}

HRESULT T7zPlugin::QueryInterface(const GUID& iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown))
        return E_NOINTERFACE;
    *object = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
}

void T7zPlugin::CreateObject(const GUID& clsid, const GUID& iid, void** object) {
    CheckLibraryResult(FCreateObject(&clsid, &iid, object));
}

// ---- T7zArchive

T7zArchive::T7zArchive(const QString& lib, const TLibraryImage* expected) : T7zPlugin(lib, expected) {
    FGetHandlerProperty = reinterpret_cast<GetHandlerPropertyFunc>(Entry("GetHandlerProperty"));
    if (!FGetHandlerProperty) {
        ReleaseModule();
        throw Exception(QStringLiteral("%1 is not a Format library").arg(lib));
    }
    FClassId = GUID{};
}

TPropVariant T7zArchive::GetHandlerProperty(NArchive propID) {
    TPropVariant value(Allocator());
    CheckLibraryResult(FGetHandlerProperty(static_cast<PROPID>(propID), value.Receive()));
    return value;
}

QString T7zArchive::GetLibStringProperty(NArchive index) {
    return GetHandlerProperty(index).ToString();
}

GUID T7zArchive::GetLibGUIDProperty(NArchive index) {
    const QByteArray bytes = GetHandlerProperty(index).StringBytes();
    GUID result{};
    if (bytes.size() >= static_cast<qsizetype>(sizeof result))
        std::memcpy(&result, bytes.constData(), sizeof result);
    return result;
}

// ---- MakeInArchive

I7zInArchivePtr MakeInArchive(const GUID& classId, const QString& library, bool embeddedCopy) {
    const TLibraryImage embedded = EmbeddedLibraryImage();
    I7zInArchivePtr archive(new T7zInArchive(library, embeddedCopy ? &embedded : nullptr));
    archive->WriteClassID(classId);
    return archive;
}
