#pragma once

#include <QString>
#include <string>

// The pages' HTML. Every text that comes from the data, the request or the configuration goes
// into a page through Html() (element content and quoted attribute values alike) and into a
// link's query through UrlPart(); nothing is put in a page any other way.
namespace lab {

// `text` with & < > " ' as character references.
QString Html(const QString& text);

// `text` percent-encoded for a query string's name or value (UTF-8, RFC 3986 unreserved kept).
QString UrlPart(const QString& text);

// Who sees the page: the navigation is shown to a signed-in user only.
struct PageFrame {
    QString title;     // the page's heading and <title> (escaped here)
    QString user;      // the signed-in user; empty for the public pages
    QString bodyHtml;  // the page's content, already HTML
};

// The whole document: Chinese, the viewport for phones, the style sheet of the program.
std::string PageHtml(const PageFrame& frame);

// A short page of one message, for errors ("页面不存在").
std::string MessagePage(const QString& title, const QString& message);

}  // namespace lab
