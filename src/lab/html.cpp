#include "lab/html.h"

namespace lab {

QString Html(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
            case u'&':
                out += QStringLiteral("&amp;");
                break;
            case u'<':
                out += QStringLiteral("&lt;");
                break;
            case u'>':
                out += QStringLiteral("&gt;");
                break;
            case u'"':
                out += QStringLiteral("&quot;");
                break;
            case u'\'':
                out += QStringLiteral("&#39;");
                break;
            default:
                out += c;
        }
    }
    return out;
}

QString UrlPart(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

std::string PageHtml(const PageFrame& frame) {
    QString nav;
    if (!frame.user.isEmpty()) {
        // The live page (实验台) comes first once it is there.
        nav = QStringLiteral(
                  "<nav><a href=\"/live\">实验台</a><a href=\"/tests\">实验</a>"
                  "<a href=\"/verify\">报告核验</a><span class=\"user\">%1</span>"
                  "<form method=\"post\" action=\"/logout\"><button type=\"submit\">退出登录"
                  "</button></form></nav>")
                  .arg(Html(frame.user));
    }
    const QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<title>%1 - 混凝土氯离子电通量测定仪</title>"
            "<link rel=\"stylesheet\" href=\"/assets/kivo.css\"></head>\n"
            "<body>%2<main><h1>%1</h1>\n%3</main></body></html>\n")
            .arg(Html(frame.title), nav, frame.bodyHtml);
    return page.toStdString();
}

std::string MessagePage(const QString& title, const QString& message) {
    return PageHtml({title, {}, QStringLiteral("<p>%1</p>").arg(Html(message))});
}

}  // namespace lab
