#include "export/office/xls_column_widths.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFAu;
constexpr int kHeaderDifatEntries = 109;

constexpr std::uint16_t kRecordBof = 0x0809;
constexpr std::uint16_t kRecordEof = 0x000A;
constexpr std::uint16_t kRecordBoundSheet = 0x0085;
constexpr std::uint16_t kRecordColInfo = 0x007D;

std::uint16_t U16(const QByteArray& b, qsizetype at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) |
                                      static_cast<std::uint8_t>(b[at + 1]) << 8);
}
std::uint32_t U32(const QByteArray& b, qsizetype at) {
    return static_cast<std::uint32_t>(U16(b, at)) | static_cast<std::uint32_t>(U16(b, at + 2))
                                                        << 16;
}
void PutU16(QByteArray& b, qsizetype at, std::uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}

// The compound file around the workbook: where each sector of the "Workbook" stream lies.
class CompoundFile {
  public:
    explicit CompoundFile(const QByteArray& file) : m_file(file) {}

    // The file offsets of the workbook stream's bytes, sector by sector; false when the file
    // is not a compound file with such a stream in regular sectors.
    bool locateWorkbook(std::vector<qsizetype>* sectorOffsets, qsizetype* streamSize) {
        static const char kSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
        if (m_file.size() < 512 || std::memcmp(m_file.constData(), kSignature, 8) != 0)
            return false;
        const int shift = U16(m_file, 0x1E);
        if (shift != 9 && shift != 12) return false;
        m_sectorSize = qsizetype(1) << shift;
        if (!readFat()) return false;

        std::vector<std::uint32_t> directory;
        if (!chain(U32(m_file, 0x30), &directory)) return false;
        const std::uint32_t cutoff = U32(m_file, 0x38);
        for (std::uint32_t sector : directory) {
            for (qsizetype e = 0; e < m_sectorSize / 128; ++e) {
                const qsizetype at = offset(sector) + e * 128;
                const int nameBytes = U16(m_file, at + 0x40);
                if (static_cast<std::uint8_t>(m_file[at + 0x42]) != 2 || nameBytes < 2 ||
                    nameBytes > 64)
                    continue;
                QString name;
                for (int i = 0; i < nameBytes / 2 - 1; ++i) name += QChar(U16(m_file, at + 2 * i));
                if (name != QLatin1String("Workbook") && name != QLatin1String("Book")) continue;
                const std::uint32_t size = U32(m_file, at + 0x78);
                if (size < cutoff) return false;  // kept in the mini stream: not an office's
                std::vector<std::uint32_t> sectors;
                if (!chain(U32(m_file, at + 0x74), &sectors)) return false;
                if (static_cast<qsizetype>(sectors.size()) * m_sectorSize < size) return false;
                sectorOffsets->clear();
                for (std::uint32_t s : sectors) sectorOffsets->push_back(offset(s));
                *streamSize = size;
                return true;
            }
        }
        return false;
    }

    qsizetype sectorSize() const { return m_sectorSize; }

  private:
    qsizetype offset(std::uint32_t sector) const { return (qsizetype(sector) + 1) * m_sectorSize; }
    bool inFile(std::uint32_t sector) const {
        return sector <= kMaxRegularSector && offset(sector) + m_sectorSize <= m_file.size();
    }

    bool readFat() {
        std::vector<std::uint32_t> fatSectors;
        const std::uint32_t count = U32(m_file, 0x2C);
        for (int i = 0; i < kHeaderDifatEntries && fatSectors.size() < count; ++i)
            fatSectors.push_back(U32(m_file, 0x4C + 4 * i));
        std::uint32_t difat = U32(m_file, 0x44);
        std::set<std::uint32_t> seen;
        while (fatSectors.size() < count) {
            if (!inFile(difat) || !seen.insert(difat).second) return false;
            const qsizetype per = m_sectorSize / 4 - 1;
            for (qsizetype i = 0; i < per && fatSectors.size() < count; ++i)
                fatSectors.push_back(U32(m_file, offset(difat) + 4 * i));
            difat = U32(m_file, offset(difat) + 4 * per);
        }
        for (std::uint32_t s : fatSectors) {
            if (!inFile(s)) return false;
            for (qsizetype i = 0; i < m_sectorSize / 4; ++i)
                m_fat.push_back(U32(m_file, offset(s) + 4 * i));
        }
        return true;
    }

    // The sectors of a chain from `first`; false on a broken or looping chain.
    bool chain(std::uint32_t first, std::vector<std::uint32_t>* sectors) const {
        sectors->clear();
        for (std::uint32_t s = first; s != kEndOfChain; s = m_fat[s]) {
            if (!inFile(s) || s >= m_fat.size() || sectors->size() > m_fat.size()) return false;
            sectors->push_back(s);
        }
        return true;
    }

    const QByteArray& m_file;
    qsizetype m_sectorSize = 512;
    std::vector<std::uint32_t> m_fat;
};

// The sheet names of the workbook's globals with the stream offsets of their BOF records.
std::map<QString, qsizetype> SheetOffsets(const QByteArray& stream) {
    std::map<QString, qsizetype> sheets;
    for (qsizetype at = 0; at + 4 <= stream.size();) {
        const std::uint16_t type = U16(stream, at);
        const qsizetype length = U16(stream, at + 2);
        const qsizetype data = at + 4;
        if (data + length > stream.size()) break;
        if (type == kRecordEof) break;
        if (type == kRecordBoundSheet && length >= 8) {
            const int chars = static_cast<std::uint8_t>(stream[data + 6]);
            const bool wide = (static_cast<std::uint8_t>(stream[data + 7]) & 1) != 0;
            const qsizetype bytes = wide ? 2 * chars : chars;
            if (8 + bytes <= length) {
                QString name;
                for (int i = 0; i < chars; ++i) {
                    name += wide ? QChar(U16(stream, data + 8 + 2 * i))
                                 : QChar(static_cast<std::uint8_t>(stream[data + 8 + i]));
                }
                sheets[name] = U32(stream, data);
            }
        }
        at = data + length;
    }
    return sheets;
}

// Sets the width of every COLINFO record of the sheet whose substream starts at `start`
// (records of a chart embedded in it excepted); false when no sheet starts there.
bool PatchSheet(QByteArray& stream, qsizetype start, std::uint16_t width) {
    if (start + 4 > stream.size() || U16(stream, start) != kRecordBof) return false;
    int depth = 0;
    for (qsizetype at = start; at + 4 <= stream.size();) {
        const std::uint16_t type = U16(stream, at);
        const qsizetype length = U16(stream, at + 2);
        const qsizetype data = at + 4;
        if (data + length > stream.size()) return false;
        if (type == kRecordBof) ++depth;
        if (type == kRecordEof && --depth == 0) return true;
        if (type == kRecordColInfo && depth == 1 && length >= 6) PutU16(stream, data + 4, width);
        at = data + length;
    }
    return false;
}

}  // namespace

bool SetXlsColumnWidths(const QString& path, const std::map<QString, int>& charactersBySheet,
                        QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(QStringLiteral("无法读取保存的工作簿。"));
    QByteArray bytes = file.readAll();
    file.close();

    CompoundFile compound(bytes);
    std::vector<qsizetype> sectors;
    qsizetype size = 0;
    if (!compound.locateWorkbook(&sectors, &size))
        return fail(QStringLiteral("保存的文件不是可识别的 Excel 97 工作簿。"));
    const qsizetype sectorSize = compound.sectorSize();
    QByteArray stream;
    for (qsizetype at : sectors) stream += bytes.mid(at, sectorSize);
    stream.truncate(size);

    const std::map<QString, qsizetype> sheets = SheetOffsets(stream);
    for (const auto& [sheet, characters] : charactersBySheet) {
        const auto found = sheets.find(sheet);
        if (found == sheets.end())
            return fail(QStringLiteral("保存的工作簿中没有工作表“%1”。").arg(sheet));
        const int clamped = std::clamp(characters, 1, 255);
        if (!PatchSheet(stream, found->second, static_cast<std::uint16_t>(clamped * 256)))
            return fail(QStringLiteral("保存的工作簿中工作表“%1”不完整。").arg(sheet));
    }

    for (std::size_t i = 0; i < sectors.size(); ++i) {
        const qsizetype from = static_cast<qsizetype>(i) * sectorSize;
        const qsizetype length = std::min(sectorSize, size - from);
        if (length <= 0) break;
        std::memcpy(bytes.data() + sectors[i], stream.constData() + from, length);
    }
    // Written over the same bytes: the file keeps its blocks, so no disk space is needed.
    if (!file.open(QIODevice::ReadWrite) || file.write(bytes) != bytes.size() || !file.flush()) {
        return fail(QStringLiteral("无法写回保存的工作簿：%1").arg(file.errorString()));
    }
    file.close();
    return true;
}
