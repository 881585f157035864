#pragma once

#include <QString>

// The stable id of the bench that keeps the archive at `archivePath`: a uid in the file
// `<archive>.bench` beside it, made on first use. The lab server files a bench's tests under
// it (with the port), so a renamed computer, a swapped USB adapter or a new program version
// stays the same bench; host, device and adapter serial are its labels. Empty when the file
// can neither be read nor made (nothing can be sent then).
namespace server {

QString BenchUid(const QString& archivePath);

}  // namespace server
