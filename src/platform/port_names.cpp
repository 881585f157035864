#include "platform/port_names.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

namespace PortNames {
namespace {

QString readAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

// A ttyS entry stands for a real port when a driver is bound to it and the port type is
// known. The 8250 driver registers ports that have no chip behind them ("unknown" type);
// the type attribute tells, or the port itself when the attribute is missing.
bool realUart(const QString& devPath, const QString& sysEntry) {
    if (!QFileInfo::exists(sysEntry + QStringLiteral("/device/driver"))) return false;
    const QString type = readAttribute(sysEntry + QStringLiteral("/type"));
    if (!type.isEmpty()) return type.toInt() != PORT_UNKNOWN;
    const int fd = ::open(QFile::encodeName(devPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    serial_struct info{};
    const bool known = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

bool kernelConsole(const QString& sysEntry) {
    return readAttribute(sysEntry + QStringLiteral("/console")) == QStringLiteral("Y");
}

QString envName(int n) { return QStringLiteral("KIVO_COM%1").arg(n); }

// What tells a USB adapter apart: maker and product, its serial number when it has one,
// and the USB socket it sits in (the USB device's name in sysfs, "1-1.2"). Empty for a
// tty without a USB device above it.
QString usbIdentity(const QString& sysEntry) {
    QString dir = QFileInfo(sysEntry + QStringLiteral("/device")).canonicalFilePath();
    for (int level = 0; level < 4 && !dir.isEmpty() && dir != QStringLiteral("/"); ++level) {
        const QString product = readAttribute(dir + QStringLiteral("/product"));
        if (!product.isEmpty()) {
            const QString maker = readAttribute(dir + QStringLiteral("/manufacturer"));
            QString text =
                maker.isEmpty() || product.startsWith(maker) ? product : maker + ' ' + product;
            const QString serial = readAttribute(dir + QStringLiteral("/serial"));
            if (!serial.isEmpty()) text += QStringLiteral("，序列号 ") + serial;
            return text + QStringLiteral("，USB 接口 ") + QFileInfo(dir).fileName();
        }
        dir = QFileInfo(dir).path();
    }
    return {};
}

// Device path (resolved) -> its stable name under `byIdDir`.
std::map<QString, QString> stableNames(const QString& byIdDir) {
    std::map<QString, QString> names;
    const QDir dir(byIdDir);
    for (const QString& entry :
         dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFileInfo(dir.filePath(entry)).canonicalFilePath();
        if (target.isEmpty()) continue;
        auto it = names.find(target);
        // Two names for one device: the smaller one, so the order does not depend on the
        // listing.
        if (it == names.end() || entry < it->second) names[target] = entry;
    }
    return names;
}

struct Folders {
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys/class/tty");
};

std::mutex g_mutex;
Folders g_folders;
QStringList g_devices;
bool g_looked = false;

}  // namespace

int portNumber(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^COM([1-9][0-9]?)$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch()) return 0;
    const int n = match.captured(1).toInt();
    return n <= kPortCount ? n : 0;
}

QStringList scanSerialDevices(const QString& devDir, const QString& sysTtyDir,
                              const QString& byIdDir) {
    static const QRegularExpression pattern(QStringLiteral("^tty(USB|ACM|S)([0-9]+)$"));
    const QStringList groups = {QStringLiteral("USB"), QStringLiteral("ACM"), QStringLiteral("S")};
    const std::map<QString, QString> stable =
        stableNames(byIdDir.isEmpty() ? devDir + QStringLiteral("/serial/by-id") : byIdDir);
    // Sorted by (has no stable name, stable name, group, number).
    std::vector<std::pair<std::tuple<bool, QString, int, int>, QString>> found;
    const QStringList entries =
        QDir(devDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QRegularExpressionMatch match = pattern.match(entry);
        if (!match.hasMatch()) continue;
        const int group = static_cast<int>(groups.indexOf(match.captured(1)));
        const QString devPath = devDir + '/' + entry;
        const QString sysEntry = sysTtyDir + '/' + entry;
        if (kernelConsole(sysEntry)) continue;
        if (match.captured(1) == QStringLiteral("S") && !realUart(devPath, sysEntry)) continue;
        const auto name = stable.find(QFileInfo(devPath).canonicalFilePath());
        const bool unnamed = name == stable.end();
        found.push_back(
            {{unnamed, unnamed ? QString() : name->second, group, match.captured(2).toInt()},
             devPath});
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList paths;
    for (const auto& f : found) paths << f.second;
    return paths;
}

void refresh() {
    Folders folders;
    {
        std::lock_guard lock(g_mutex);
        folders = g_folders;
    }
    const QStringList found = scanSerialDevices(folders.dev, folders.sys);
    std::lock_guard lock(g_mutex);
    g_devices = found;
    g_looked = true;
}

QStringList devices() {
    {
        std::lock_guard lock(g_mutex);
        if (g_looked) return g_devices;
    }
    refresh();
    std::lock_guard lock(g_mutex);
    return g_devices;
}

void setFoldersForTests(const QString& devDir, const QString& sysTtyDir) {
    {
        std::lock_guard lock(g_mutex);
        g_folders.dev = devDir.isEmpty() ? QStringLiteral("/dev") : devDir;
        g_folders.sys = sysTtyDir.isEmpty() ? QStringLiteral("/sys/class/tty") : sysTtyDir;
    }
    refresh();
}

QString devicePath(const QString& name) {
    const int n = portNumber(name);
    if (n == 0) return {};
    const QByteArray override = qgetenv(envName(n).toLatin1().constData());
    if (!override.isEmpty()) return QFile::decodeName(override);
    const QStringList found = devices();
    return n <= found.size() ? found[n - 1] : QString();
}

QString usbSerial(const QString& devicePath) {
    const QFileInfo info(devicePath);
    if (devicePath.isEmpty() || !info.exists()) return {};
    QString sysDir;
    {
        std::lock_guard lock(g_mutex);
        sysDir = g_folders.sys;
    }
    QString dir = QFileInfo(sysDir + '/' + QFileInfo(info.canonicalFilePath()).fileName() +
                            QStringLiteral("/device"))
                      .canonicalFilePath();
    for (int level = 0; level < 4 && !dir.isEmpty() && dir != QStringLiteral("/"); ++level) {
        if (QFileInfo::exists(dir + QStringLiteral("/product")))
            return readAttribute(dir + QStringLiteral("/serial"));
        dir = QFileInfo(dir).path();
    }
    return {};
}

QString describe(const QString& name) {
    const int n = portNumber(name);
    if (n == 0) return {};
    const QString path = devicePath(name);
    if (path.isEmpty()) return QStringLiteral("未找到对应的串口设备");
    QString text = path;
    if (!qgetenv(envName(n).toLatin1().constData()).isEmpty())
        text += QStringLiteral("（由环境变量 %1 指定）").arg(envName(n));
    const QFileInfo info(path);
    if (!info.exists()) return text + QStringLiteral("，设备不存在");
    QString sysDir;
    {
        std::lock_guard lock(g_mutex);
        sysDir = g_folders.sys;
    }
    const QString sysEntry = sysDir + '/' + QFileInfo(info.canonicalFilePath()).fileName();
    const QString identity = usbIdentity(sysEntry);
    if (!identity.isEmpty()) return text + QStringLiteral(" (") + identity + ')';
    if (info.fileName().startsWith(QStringLiteral("ttyS"))) {
        const QString port = readAttribute(sysEntry + QStringLiteral("/port"));
        return text + QStringLiteral(" (板载串口") +
               (port.isEmpty() ? QString() : QStringLiteral(" ") + port) + ')';
    }
    return text;
}

}  // namespace PortNames
