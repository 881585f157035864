// Builds the report template "模板.xls" with the office's spreadsheet: the six channel
// sheets, the test information sheet and the report sheet with its labels, borders, print
// layout and the formulas that grade the charges the program writes.
//
//   kivo-make-template [--without-sheet NAME] <output.xls>
//
// --without-sheet leaves one sheet out: a broken template for the tests.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>
#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameContainer.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/BorderLineStyle.hpp>
#include <com/sun/star/table/CellHoriJustify.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/CellVertJustify2.hpp>
#include <com/sun/star/table/TableBorder2.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XMergeable.hpp>
#include <cstdio>

#include "export/office/office_session.h"

using namespace com::sun::star;

namespace {

const QString kReportSheet = QStringLiteral("混凝土氯离子电通量试验报告");
const QString kInfoSheet = QStringLiteral("试验信息");

uno::Reference<beans::XPropertySet> Props(const uno::Reference<uno::XInterface>& object) {
    return uno::Reference<beans::XPropertySet>(object, uno::UNO_QUERY_THROW);
}

class SheetWriter {
  public:
    explicit SheetWriter(uno::Reference<sheet::XSpreadsheet> sheet) : m_sheet(std::move(sheet)) {}

    uno::Reference<table::XCellRange> range(const char* address) const {
        return m_sheet->getCellRangeByName(rtl::OUString::createFromAscii(address));
    }
    void text(const char* address, const QString& value) const {
        uno::Reference<text::XTextRange>(range(address), uno::UNO_QUERY_THROW)
            ->setString(ToOUString(value));
    }
    void number(const char* address, double value) const {
        m_sheet->getCellByPosition(Column(address), Row(address))->setValue(value);
    }
    void formula(const char* address, const QString& value) const {
        m_sheet->getCellByPosition(Column(address), Row(address))->setFormula(ToOUString(value));
    }
    void merge(const char* address) const {
        uno::Reference<util::XMergeable>(range(address), uno::UNO_QUERY_THROW)->merge(true);
    }
    void bold(const char* address, float height = 11.0f) const {
        auto p = Props(range(address));
        p->setPropertyValue("CharWeight", uno::Any(float(awt::FontWeight::BOLD)));
        p->setPropertyValue("CharWeightAsian", uno::Any(float(awt::FontWeight::BOLD)));
        p->setPropertyValue("CharHeight", uno::Any(height));
        p->setPropertyValue("CharHeightAsian", uno::Any(height));
    }
    void centre(const char* address) const {
        auto p = Props(range(address));
        p->setPropertyValue("HoriJustify", uno::Any(table::CellHoriJustify_CENTER));
        p->setPropertyValue("VertJustify", uno::Any(table::CellVertJustify2::CENTER));
    }
    void shade(const char* address) const {
        Props(range(address))->setPropertyValue("CellBackColor", uno::Any(sal_Int32(0xE8E8E8)));
    }
    void wrap(const char* address) const {
        Props(range(address))->setPropertyValue("IsTextWrapped", uno::Any(true));
    }
    // Thin lines around and between all cells of the range.
    void grid(const char* address) const {
        table::BorderLine2 line;
        line.Color = 0x000000;
        line.LineStyle = table::BorderLineStyle::SOLID;
        line.LineWidth = 26;
        line.OuterLineWidth = 26;
        table::TableBorder2 border;
        border.TopLine = border.BottomLine = border.LeftLine = border.RightLine = line;
        border.HorizontalLine = border.VerticalLine = line;
        border.IsTopLineValid = border.IsBottomLineValid = true;
        border.IsLeftLineValid = border.IsRightLineValid = true;
        border.IsHorizontalLineValid = border.IsVerticalLineValid = true;
        Props(range(address))->setPropertyValue("TableBorder2", uno::Any(border));
    }
    // Widths in 1/100 mm, from column A on.
    void columnWidths(std::initializer_list<sal_Int32> widths) const {
        auto columns =
            uno::Reference<table::XColumnRowRange>(m_sheet, uno::UNO_QUERY_THROW)->getColumns();
        sal_Int32 i = 0;
        for (sal_Int32 w : widths) {
            Props(uno::Reference<uno::XInterface>(columns->getByIndex(i++), uno::UNO_QUERY))
                ->setPropertyValue("Width", uno::Any(w));
        }
    }
    void rowHeight(int row, sal_Int32 height) const {
        auto rows =
            uno::Reference<table::XColumnRowRange>(m_sheet, uno::UNO_QUERY_THROW)->getRows();
        Props(uno::Reference<uno::XInterface>(rows->getByIndex(row - 1), uno::UNO_QUERY))
            ->setPropertyValue("Height", uno::Any(height));
    }
    const uno::Reference<sheet::XSpreadsheet>& sheet() const { return m_sheet; }

  private:
    static sal_Int32 Column(const char* address) { return address[0] - 'A'; }
    static sal_Int32 Row(const char* address) { return std::atoi(address + 1) - 1; }

    uno::Reference<sheet::XSpreadsheet> m_sheet;
};

void FillChannelSheet(const SheetWriter& s) {
    s.text("A1", QStringLiteral("保存次数"));
    s.text("B1", QStringLiteral("电流(mA)"));
    s.text("C1", QStringLiteral("电通量(C)"));
    s.bold("A1:C1");
    s.centre("A1:C1");
    s.shade("A1:C1");
    s.grid("A1:C1");
    s.columnWidths({2500, 3000, 3000});
}

void FillInfoSheet(const SheetWriter& s) {
    s.text("A1", QStringLiteral("项目"));
    s.text("B1", QStringLiteral("内容"));
    const char* labels[] = {"试验时间(min)", "保存间隔(min)", "试件直径(mm)",
                            "测试单位",      "测试人员",      "试验电压(V)"};
    int row = 2;
    for (const char* label : labels) {
        s.text(QStringLiteral("A%1").arg(row++).toLatin1().constData(), QString::fromUtf8(label));
    }
    for (int n = 1; n <= 9; ++n) {
        s.text(QStringLiteral("A%1").arg(row++).toLatin1().constData(),
               QStringLiteral("试件%1编号").arg(n));
    }
    s.bold("A1:B1");
    s.centre("A1:B1");
    s.shade("A1:B1");
    s.grid("A1:B16");
    s.columnWidths({3500, 6000});
}

// The charge in a cell the program writes ("1234.5(C)" or "1234.50"), adjusted to a 95 mm
// specimen by the diameter in D4 and rounded to whole coulombs (the class is that of the
// number shown); empty when either is not a number. Only functions of the
// .xls format's own set are used, so every spreadsheet program computes them.
QString AdjustedChargeFormula(int row) {
    const QString charge =
        QStringLiteral("VALUE(SUBSTITUTE(D%1;\"(C)\";\"\"))*(95/VALUE($D$4))^2").arg(row);
    return QStringLiteral("=IF(ISERROR(%1);\"\";ROUND(%1;0))").arg(charge);
}

// The mean of a group whose three specimens have no charge at all is no value, although the
// program writes "0.00" for it.
QString AdjustedMeanFormula(int row) {
    return QStringLiteral("=IF(COUNTBLANK(D%1:D%2)=3;\"\";%3)")
        .arg(row - 3)
        .arg(row - 1)
        .arg(AdjustedChargeFormula(row).mid(1));
}

// The chloride-ion penetrability of the adjusted charge in column E.
QString ClassFormula(int row) {
    return QStringLiteral(
               "=IF(E%1=\"\";\"\";IF(E%1>4000;\"高\";IF(E%1>=2000;\"中\";IF(E%1>=1000;\"低\";"
               "IF(E%1>=100;\"很低\";\"可忽略\")))))")
        .arg(row);
}

void FillReportSheet(const SheetWriter& s) {
    auto at = [](const char* column, int row) {
        return QStringLiteral("%1%2").arg(QLatin1String(column)).arg(row).toLatin1();
    };

    s.text("A1", kReportSheet);
    s.merge("A1:F1");
    s.bold("A1:F1", 16.0f);
    s.centre("A1:F1");
    s.rowHeight(1, 1200);

    s.text("A2", QStringLiteral("测试单位"));
    s.merge("B2:F2");
    s.text("A3", QStringLiteral("试验条件"));
    s.merge("A3:F3");
    s.bold("A3:F3");
    s.shade("A3:F3");
    s.text("A4", QStringLiteral("试验电压(V)"));
    s.text("C4", QStringLiteral("试件直径(mm)"));
    s.text("E4", QStringLiteral("换算直径(mm)"));
    // The standard diameter beside the formulas: a number, as a figure of the report is.
    s.number("F4", 95);
    s.text("A5", QStringLiteral("试验时间(min)"));
    s.text("C5", QStringLiteral("测试人员"));
    s.text("E5", QStringLiteral("审核人"));

    const char* groups[] = {"第一组", "第二组", "第三组"};
    for (int g = 0; g < 3; ++g) {
        const int header = 6 + 5 * g;
        const int mean = header + 4;
        s.text(at("A", header).constData(), QString::fromUtf8(groups[g]));
        s.merge(QStringLiteral("A%1:D%1").arg(header).toLatin1().constData());
        s.text(at("E", header).constData(), QStringLiteral("换算电通量(C)"));
        s.text(at("F", header).constData(), QStringLiteral("渗透性等级"));
        s.bold(QStringLiteral("A%1:F%1").arg(header).toLatin1().constData());
        s.shade(QStringLiteral("A%1:F%1").arg(header).toLatin1().constData());
        for (int row = header + 1; row <= mean; ++row) {
            if (row < mean) {
                s.text(at("A", row).constData(), QStringLiteral("试件编号"));
                s.text(at("C", row).constData(), QStringLiteral("电通量(C)"));
            }
            s.formula(at("E", row).constData(),
                      row < mean ? AdjustedChargeFormula(row) : AdjustedMeanFormula(row));
            s.formula(at("F", row).constData(), ClassFormula(row));
        }
        s.text(at("A", mean).constData(), QStringLiteral("平均值(C)"));
        s.merge(QStringLiteral("A%1:C%1").arg(mean).toLatin1().constData());
        s.bold(QStringLiteral("A%1:F%1").arg(mean).toLatin1().constData());
    }
    s.centre("A2:F20");
    s.grid("A2:F20");

    s.text("A21",
           QStringLiteral("注：换算电通量 = 电通量 ×（95 / 试件直径）²，即直径95mm试件的电通量。"
                          "氯离子渗透性等级：大于4000C为高；2000～4000C为中；1000～2000C为低；"
                          "100～1000C为很低；小于100C为可忽略。"));
    s.merge("A21:F21");
    s.wrap("A21:F21");
    s.rowHeight(21, 1500);
    for (int row = 2; row <= 20; ++row) s.rowHeight(row, 700);
    s.columnWidths({2600, 3400, 2600, 3000, 3000, 2600});
}

// An A4 portrait page of its own for the report sheet, everything scaled onto one page.
void PrintReportOnOnePage(const uno::Reference<lang::XComponent>& document,
                          const SheetWriter& report, sal_Int16 sheetIndex) {
    const rtl::OUString styleName("KivoReport");
    uno::Reference<container::XNameContainer> pageStyles(
        uno::Reference<style::XStyleFamiliesSupplier>(document, uno::UNO_QUERY_THROW)
            ->getStyleFamilies()
            ->getByName("PageStyles"),
        uno::UNO_QUERY_THROW);
    uno::Reference<uno::XInterface> style =
        uno::Reference<lang::XMultiServiceFactory>(document, uno::UNO_QUERY_THROW)
            ->createInstance("com.sun.star.style.PageStyle");
    pageStyles->insertByName(styleName, uno::Any(style));
    auto p = Props(style);
    p->setPropertyValue("IsLandscape", uno::Any(false));
    p->setPropertyValue("Width", uno::Any(sal_Int32(21000)));
    p->setPropertyValue("Height", uno::Any(sal_Int32(29700)));
    p->setPropertyValue("LeftMargin", uno::Any(sal_Int32(1500)));
    p->setPropertyValue("RightMargin", uno::Any(sal_Int32(1500)));
    p->setPropertyValue("TopMargin", uno::Any(sal_Int32(2000)));
    p->setPropertyValue("BottomMargin", uno::Any(sal_Int32(2000)));
    p->setPropertyValue("CenterHorizontally", uno::Any(true));
    p->setPropertyValue("ScaleToPagesX", uno::Any(sal_Int16(1)));
    p->setPropertyValue("ScaleToPagesY", uno::Any(sal_Int16(1)));
    Props(report.sheet())->setPropertyValue("PageStyle", uno::Any(styleName));

    table::CellRangeAddress area;
    area.Sheet = sheetIndex;
    area.StartColumn = 0;
    area.StartRow = 0;
    area.EndColumn = 5;
    area.EndRow = 20;
    uno::Reference<sheet::XPrintAreas>(report.sheet(), uno::UNO_QUERY_THROW)
        ->setPrintAreas(uno::Sequence<table::CellRangeAddress>(&area, 1));
}

// The default cell style in the Song face the program's screens use.
void UseSongFace(const uno::Reference<lang::XComponent>& document) {
    uno::Reference<container::XNameAccess> cellStyles(
        uno::Reference<style::XStyleFamiliesSupplier>(document, uno::UNO_QUERY_THROW)
            ->getStyleFamilies()
            ->getByName("CellStyles"),
        uno::UNO_QUERY_THROW);
    auto p =
        Props(uno::Reference<uno::XInterface>(cellStyles->getByName("Default"), uno::UNO_QUERY));
    p->setPropertyValue("CharFontName", uno::Any(ToOUString(QStringLiteral("宋体"))));
    p->setPropertyValue("CharFontNameAsian", uno::Any(ToOUString(QStringLiteral("宋体"))));
    p->setPropertyValue("CharHeight", uno::Any(11.0f));
    p->setPropertyValue("CharHeightAsian", uno::Any(11.0f));
}

void BuildTemplate(const uno::Reference<lang::XComponent>& document, const QString& without) {
    uno::Reference<sheet::XSpreadsheets> sheets =
        uno::Reference<sheet::XSpreadsheetDocument>(document, uno::UNO_QUERY_THROW)->getSheets();
    const uno::Sequence<rtl::OUString> initial = sheets->getElementNames();

    QStringList names = {kReportSheet, kInfoSheet};
    for (int k = 1; k <= 6; ++k) names << QStringLiteral("通道%1").arg(k);
    for (int i = 0; i < names.size(); ++i) {
        sheets->insertNewByName(ToOUString(names[i]), static_cast<sal_Int16>(i));
    }
    for (const rtl::OUString& name : initial) sheets->removeByName(name);

    auto writer = [&](const QString& name) {
        return SheetWriter(uno::Reference<sheet::XSpreadsheet>(sheets->getByName(ToOUString(name)),
                                                               uno::UNO_QUERY_THROW));
    };
    UseSongFace(document);
    const SheetWriter report = writer(kReportSheet);
    FillReportSheet(report);
    PrintReportOnOnePage(document, report, 0);
    FillInfoSheet(writer(kInfoSheet));
    for (int k = 1; k <= 6; ++k) FillChannelSheet(writer(QStringLiteral("通道%1").arg(k)));
    // Filled as usual, then dropped: the rest of the workbook is what it always is.
    if (!without.isEmpty()) sheets->removeByName(ToOUString(without));
}

beans::PropertyValue Property(const char* name, const uno::Any& value) {
    beans::PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

bool Make(const QString& output, const QString& without, QString* error) {
    OfficeSession office{OfficeLaunchOptions{}};
    if (!office.start(error)) return false;
    uno::Reference<lang::XComponent> document;
    bool ok = false;
    try {
        uno::Sequence<beans::PropertyValue> load(1);
        load.getArray()[0] = Property("Hidden", uno::Any(true));
        document = uno::Reference<frame::XComponentLoader>(office.desktop(), uno::UNO_QUERY_THROW)
                       ->loadComponentFromURL("private:factory/scalc", "_blank", 0, load);
        BuildTemplate(document, without);
        uno::Reference<sheet::XCalculatable>(document, uno::UNO_QUERY_THROW)->calculateAll();

        // Written beside the output and renamed over it once complete.
        const QFileInfo target(output);
        QTemporaryFile temp(target.absolutePath() + "/.~template-XXXXXX.xls");
        if (!temp.open()) {
            *error = QStringLiteral("cannot write in %1").arg(target.absolutePath());
        } else {
            temp.close();
            uno::Sequence<beans::PropertyValue> store(2);
            store.getArray()[0] = Property("FilterName", uno::Any(rtl::OUString("MS Excel 97")));
            store.getArray()[1] = Property("Overwrite", uno::Any(true));
            uno::Reference<frame::XStorable>(document, uno::UNO_QUERY_THROW)
                ->storeToURL(
                    ToOUString(QUrl::fromLocalFile(temp.fileName()).toString(QUrl::FullyEncoded)),
                    store);
            QFile::setPermissions(temp.fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ReadGroup | QFile::ReadOther);
            ok = std::rename(QFile::encodeName(temp.fileName()).constData(),
                             QFile::encodeName(output).constData()) == 0;
            if (!ok) *error = QStringLiteral("cannot replace %1").arg(output);
        }
    } catch (const uno::Exception& e) {
        *error = UnoMessage(e.Message);
    }
    if (document.is()) {
        try {
            uno::Reference<util::XCloseable>(document, uno::UNO_QUERY_THROW)->close(true);
        } catch (const uno::Exception&) {
        }
        document.clear();
    }
    office.stop();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString without;
    if (args.size() == 3 && args[0] == QStringLiteral("--without-sheet")) {
        without = args[1];
        args = args.mid(2);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: kivo-make-template [--without-sheet NAME] <output.xls>\n");
        return 2;
    }
    QString error;
    if (!Make(args[0], without, &error)) {
        std::fprintf(stderr, "kivo-make-template: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
