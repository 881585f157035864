#include <QFileInfo>
#include <QUrl>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "export/office/office_launch_options.h"
#include "export/office/office_session.h"
#include "export/office/plain_number.h"
#include "export/office/xls_column_widths.h"
#include "export/report_plan.h"

using namespace com::sun::star;

namespace {

// The width the office shows a column of `characters` characters with while it fills the
// workbook: the widest digit of a 9-point Song face, 7 pixels at 96 dpi, with 5 pixels of cell
// padding. The saved file states the width in characters itself (SetXlsColumnWidths), as
// the office would convert a length with the digits of whatever face it substitutes.
sal_Int32 ColumnWidthHundredthsMm(int characters) {
    const double pixels = characters * 7.0 + 5.0;
    return static_cast<sal_Int32>(pixels * 2540.0 / 96.0 + 0.5);
}

// The largest sheet of the .xls format; the office's own is larger.
constexpr int kMaxRows = 65536;
constexpr int kMaxColumns = 256;
constexpr size_t kMaxPending = 8192;

beans::PropertyValue Property(const char* name, const uno::Any& value) {
    beans::PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

// The office resolves no relative paths: every path is made absolute first.
QString FileUrl(const QString& path) {
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

// The office's spreadsheet, driven over UNO: one private office per export.
class UnoExcelDriver : public ExcelDriver {
  public:
    explicit UnoExcelDriver(OfficeLaunchOptions options) : m_office(std::move(options)) {}
    ~UnoExcelDriver() override { end(); }

    bool start() override {
        end();
        QString error;
        if (!m_office.start(&error)) return fail(error);
        return succeed();
    }

    bool openTemplate(const QString& path) override {
        return guarded(QStringLiteral("打开模板"), [&] {
            if (!m_office.running()) return fail(QStringLiteral("办公软件没有启动。"));
            closeDocument();
            uno::Sequence<beans::PropertyValue> arguments(2);
            arguments.getArray()[0] = Property("Hidden", uno::Any(true));
            arguments.getArray()[1] = Property("AsTemplate", uno::Any(true));
            uno::Reference<frame::XComponentLoader> loader(m_office.desktop(),
                                                           uno::UNO_QUERY_THROW);
            m_document =
                loader->loadComponentFromURL(ToOUString(FileUrl(path)), "_blank", 0, arguments);
            uno::Reference<sheet::XSpreadsheetDocument> workbook(m_document, uno::UNO_QUERY);
            if (!workbook.is()) {
                closeDocument();
                return fail(QStringLiteral("办公软件无法把“%1”作为表格打开。").arg(path));
            }
            m_sheets.set(workbook->getSheets(), uno::UNO_QUERY_THROW);
            return succeed();
        });
    }

    bool selectSheet(const QString& name) override {
        if (!flush()) return false;
        return guarded(QStringLiteral("选择工作表"), [&] {
            if (!m_sheets.is()) return fail(QStringLiteral("没有打开的工作簿。"));
            const rtl::OUString sheetName = ToOUString(name);
            if (!m_sheets->hasByName(sheetName)) {
                m_sheet.clear();
                return fail(QStringLiteral("模板中没有名为“%1”的工作表。").arg(name));
            }
            m_sheet.set(m_sheets->getByName(sheetName), uno::UNO_QUERY_THROW);
            m_sheetName = name;
            return succeed();
        });
    }

    // Writes are collected and sent in blocks (one call of the office a block instead of
    // three a cell); they go out before any operation of another kind, which reports a
    // write the office refuses.
    bool setCell(int row, int column, const QString& text) override {
        if (!m_sheet.is()) return fail(QStringLiteral("没有选定工作表。"));
        if (row < 1 || column < 1 || row > kMaxRows || column > kMaxColumns) {
            return fail(QStringLiteral("单元格位置（%1, %2）无效。").arg(row).arg(column));
        }
        m_pending[{row, column}] = text;
        if (m_pending.size() >= kMaxPending) return flush();
        return succeed();
    }

    bool setColumnWidth(int width) override {
        if (!flush()) return false;
        return guarded(QStringLiteral("设置列宽"), [&] {
            if (!m_sheet.is()) return fail(QStringLiteral("没有选定工作表。"));
            uno::Reference<table::XColumnRowRange> range(m_sheet, uno::UNO_QUERY_THROW);
            uno::Reference<beans::XPropertySet> columns(range->getColumns(), uno::UNO_QUERY_THROW);
            columns->setPropertyValue("Width", uno::Any(ColumnWidthHundredthsMm(width)));
            m_columnWidths[m_sheetName] = width;
            return succeed();
        });
    }

    bool saveAs(const QString& path) override {
        if (!flush()) return false;
        return guarded(QStringLiteral("保存"), [&] {
            uno::Reference<frame::XStorable> storable(m_document, uno::UNO_QUERY);
            if (!storable.is()) return fail(QStringLiteral("没有打开的工作簿。"));
            uno::Sequence<beans::PropertyValue> arguments(2);
            arguments.getArray()[0] =
                Property("FilterName", uno::Any(rtl::OUString("MS Excel 97")));
            arguments.getArray()[1] = Property("Overwrite", uno::Any(true));
            refreshFormulas();
            storable->storeToURL(ToOUString(FileUrl(path)), arguments);
            QString error;
            if (!m_columnWidths.empty() && !SetXlsColumnWidths(path, m_columnWidths, &error))
                return fail(error);
            return succeed();
        });
    }

    bool end() override {
        closeDocument();
        m_office.stop();
        return succeed();
    }

    QString lastError() const override { return m_error; }

  private:
    bool succeed() {
        m_error.clear();
        return true;
    }
    bool fail(const QString& reason) {
        m_error = reason;
        return false;
    }

    // Runs one operation; whatever UNO throws becomes a failure with its reason.
    bool guarded(const QString& what, const std::function<bool()>& operation) {
        try {
            return operation();
        } catch (const uno::Exception& e) {
            const QString detail = UnoMessage(e.Message);
            return fail(detail.isEmpty()
                            ? QStringLiteral("办公软件拒绝了“%1”操作。").arg(what)
                            : QStringLiteral("办公软件拒绝了“%1”操作：%2").arg(what, detail));
        } catch (const std::exception& e) {
            return fail(QStringLiteral("“%1”操作失败：%2").arg(what, e.what()));
        }
    }

    // The .xls keeps each formula's last result, and the office stores the result of a
    // formula it read from an .xls as a number, even where the formula now gives a text (a
    // grade, or "" for no value), numbers in the cells it reads or not. Entered anew and
    // calculated, every formula is stored with the result it shows.
    void refreshFormulas() {
        uno::Reference<container::XIndexAccess> sheets(m_sheets, uno::UNO_QUERY_THROW);
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            uno::Reference<sheet::XCellRangesQuery> query(sheets->getByIndex(i),
                                                          uno::UNO_QUERY_THROW);
            uno::Reference<container::XIndexAccess> ranges(
                query->queryContentCells(sheet::CellFlags::FORMULA), uno::UNO_QUERY_THROW);
            for (sal_Int32 r = 0; r < ranges->getCount(); ++r) {
                uno::Reference<sheet::XCellRangeFormula> range(ranges->getByIndex(r),
                                                               uno::UNO_QUERY_THROW);
                range->setFormulaArray(range->getFormulaArray());
            }
        }
        uno::Reference<sheet::XCalculatable> calculation(m_document, uno::UNO_QUERY);
        if (calculation.is()) calculation->calculateAll();
    }

    // Sends the collected writes: each run of cells in a row, and each stack of rows with the
    // same run, as one block. A text that is a plain decimal number goes as that number, as
    // a spreadsheet stores such a text typed into a cell; every other text is kept as text,
    // as setString keeps it (a leading "=" makes no formula).
    bool flush() {
        if (m_pending.empty()) return true;
        std::map<std::pair<int, int>, QString> pending;
        pending.swap(m_pending);
        struct Block {
            int firstRow, lastRow, firstColumn, lastColumn;
        };
        std::vector<Block> blocks;
        for (auto it = pending.begin(); it != pending.end();) {
            const int row = it->first.first;
            const int first = it->first.second;
            int last = first;
            for (++it;
                 it != pending.end() && it->first.first == row && it->first.second == last + 1;
                 ++it) {
                ++last;
            }
            Block* previous = blocks.empty() ? nullptr : &blocks.back();
            if (previous && previous->lastRow + 1 == row && previous->firstColumn == first &&
                previous->lastColumn == last) {
                previous->lastRow = row;
            } else {
                blocks.push_back({row, row, first, last});
            }
        }
        for (const Block& b : blocks) {
            const bool ok = guarded(QStringLiteral("写入单元格"), [&] {
                uno::Sequence<uno::Sequence<uno::Any>> rows(b.lastRow - b.firstRow + 1);
                for (int r = b.firstRow; r <= b.lastRow; ++r) {
                    uno::Sequence<uno::Any> cells(b.lastColumn - b.firstColumn + 1);
                    for (int c = b.firstColumn; c <= b.lastColumn; ++c) {
                        const QString& text = pending[{r, c}];
                        if (const std::optional<double> number = PlainDecimalNumber(text)) {
                            cells.getArray()[c - b.firstColumn] <<= *number;
                        } else {
                            cells.getArray()[c - b.firstColumn] <<= ToOUString(text);
                        }
                    }
                    rows.getArray()[r - b.firstRow] = cells;
                }
                uno::Reference<sheet::XCellRangeData> range(
                    m_sheet->getCellRangeByPosition(b.firstColumn - 1, b.firstRow - 1,
                                                    b.lastColumn - 1, b.lastRow - 1),
                    uno::UNO_QUERY_THROW);
                range->setDataArray(rows);
                return true;
            });
            if (!ok) {
                return fail(QStringLiteral("写入工作表“%1”的单元格 %2:%3 失败。%4")
                                .arg(m_sheetName, CellName(b.firstRow, b.firstColumn),
                                     CellName(b.lastRow, b.lastColumn), m_error));
            }
        }
        return succeed();
    }

    void closeDocument() {
        m_pending.clear();
        m_columnWidths.clear();
        m_sheet.clear();
        m_sheets.clear();
        if (!m_document.is()) return;
        try {
            uno::Reference<util::XCloseable> closeable(m_document, uno::UNO_QUERY);
            if (closeable.is()) {
                closeable->close(true);
            } else {
                m_document->dispose();
            }
        } catch (const uno::Exception&) {
            // A vetoed or failed close: the office is ended right after anyway.
        } catch (const std::exception&) {
        }
        m_document.clear();
    }

    OfficeSession m_office;
    uno::Reference<lang::XComponent> m_document;
    uno::Reference<container::XNameAccess> m_sheets;
    uno::Reference<sheet::XSpreadsheet> m_sheet;
    QString m_sheetName;
    std::map<std::pair<int, int>, QString> m_pending;  // (row, column) -> text
    std::map<QString, int> m_columnWidths;             // sheet -> characters
    QString m_error;
};

}  // namespace

std::unique_ptr<ExcelDriver> CreateExcelDriver(const OfficeLaunchOptions& options) {
    return std::make_unique<UnoExcelDriver>(options);
}

std::unique_ptr<ExcelDriver> CreateExcelDriver() {
    return CreateExcelDriver(OfficeLaunchOptions{});
}
