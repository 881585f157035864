#include "export/office/office_launch_options.h"

namespace {

// The driver of a build made without the office: it cannot start, so every export ends with
// the operator told so, and the program goes on.
class NoOfficeDriver : public ExcelDriver {
  public:
    bool start() override { return fail(); }
    bool openTemplate(const QString&) override { return fail(); }
    bool selectSheet(const QString&) override { return fail(); }
    bool setCell(int, int, const QString&) override { return fail(); }
    bool setColumnWidth(int) override { return fail(); }
    bool saveAs(const QString&) override { return fail(); }
    bool end() override { return true; }
    QString lastError() const override {
        return QStringLiteral("此版本的 Kivo 编译时没有包含办公软件接口，不能生成 Excel 报表。");
    }

  private:
    static bool fail() { return false; }
};

}  // namespace

std::unique_ptr<ExcelDriver> CreateExcelDriver(const OfficeLaunchOptions&) {
    return std::make_unique<NoOfficeDriver>();
}

std::unique_ptr<ExcelDriver> CreateExcelDriver() {
    return CreateExcelDriver(OfficeLaunchOptions{});
}
