#pragma once

#include <QString>
#include <string>
#include <vector>

#include "lab/lab_reads.h"

// The pages of the web service as HTML documents, every text from the data escaped.
namespace lab {

// 登录: the form; `error` above it when a login failed; `next` the page to go to after it.
std::string LoginPage(const QString& error, const QString& next);

// 报告核验: the form (with what was typed), and the answer when there is one.
std::string VerifyPage(const QString& number, const QString& code, const ReportCheck* check,
                       const QString& user);

// 实验: the list of a query and its page.
std::string TestListPage(const LabListQuery& query, const LabTestList& list,
                         const std::vector<QString>& benches, const QString& user);

// One test: parameters, channels, groups, chart, events, downloads.
std::string TestPage(const LabTest& test, const QString& user);

// The query string of `query` (without `after`), for links that keep the filters.
QString ListQueryString(const LabListQuery& query);

}  // namespace lab
