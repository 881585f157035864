#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every message box of the program goes through here, so tests can answer them.
// Callable from any thread: from a worker the box is shown on the GUI thread while the
// worker waits.
namespace MessageBox {

enum class Buttons { Ok, OkCancel, YesNo };  // YesNo: "是" and "否"
enum class Icon { None, Information, Question, Exclamation, Critical };
enum Result { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

struct Request {
    QString text;
    QString caption;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
};

inline const QString kAppCaption = QStringLiteral("Kivo");

// Shows a modal box owned by `owner` and returns the button chosen. When the box cannot be
// shown (the program is closing) the result is Cancel.
Result show(QWidget* owner, const QString& text, const QString& caption = kAppCaption,
            Buttons buttons = Buttons::Ok, Icon icon = Icon::None);

// Replaces the real boxes (tests); an empty responder restores them. The responder runs on
// the GUI thread.
using Responder = std::function<Result(QWidget* owner, const Request&)>;
void setResponder(Responder responder);

}  // namespace MessageBox
