#pragma once

#include <QString>

// The ways an update can end other than in success. Each gets one final status line, so that a
// failed update can be told from one that is still running.
enum class UpdateFailure {
    NoConnection,       // no connection to the server: resolution, refused, time-out, not "http"
    ErrorStatus,        // an error status, or a redirect chain that gives up
    IncompletePackage,  // an empty body, one cut short, or a package with items that did not unpack
    CannotSave,         // the package cannot be written into the data folder
    CannotUnpack,       // the saved package cannot be opened or unpacked
    BadCertificate,     // https: the server's certificate is not trusted, not valid now, or for another host
    NoSecureConnection, // https: the TLS handshake or protocol fails
    DataFolderBusy,     // another running copy of the program is writing into the data folder
};

inline constexpr char16_t kNoConnectionLine[] = u"更新失败：无法连接服务器";
inline constexpr char16_t kErrorStatusLine[] = u"更新失败：服务器返回错误 "; // followed by the status code
inline constexpr char16_t kIncompletePackageLine[] = u"更新失败：数据包不完整";
inline constexpr char16_t kCannotSaveLine[] = u"更新失败：无法保存数据包";
inline constexpr char16_t kCannotUnpackLine[] = u"更新失败：数据包无法解压";
inline constexpr char16_t kBadCertificateLine[] = u"更新失败：服务器证书无效";
inline constexpr char16_t kNoSecureConnectionLine[] = u"更新失败：无法建立安全连接";
inline constexpr char16_t kDataFolderBusyLine[] = u"更新失败：另一个程序正在写入数据文件夹";

// The final status line of a failed update; statusCode counts for ErrorStatus only.
QString UpdateFailureLine(UpdateFailure failure, int statusCode = 0);
