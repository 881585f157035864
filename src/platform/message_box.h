#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Every message box of the program goes through here, so tests can answer them.
// Callable from any thread: from a worker the box is shown on the GUI thread while the
// worker waits.
namespace MessageBox {

// YesNo: "是" and "否"; Choices: the request's own buttons (choose()).
enum class Buttons { Ok, OkCancel, YesNo, Choices };
enum class Icon { None, Information, Question, Exclamation, Critical };
// A box of choose() answers FirstChoice + the index of the button chosen.
enum Result : int { Ok = 1, Cancel = 2, Yes = 6, No = 7, FirstChoice = 100 };

struct Request {
    QString text;
    QString caption;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    QStringList choices;  // Buttons::Choices: the buttons' texts with their mnemonics
    int safeChoice = 0;   // the choice of Enter, Escape and the box's own close
};

inline const QString kAppCaption = QStringLiteral("Kivo");

// Shows a modal box owned by `owner` and returns the button chosen. When the box cannot be
// shown (the program is closing) the result is Cancel.
Result show(QWidget* owner, const QString& text, const QString& caption = kAppCaption,
            Buttons buttons = Buttons::Ok, Icon icon = Icon::None);

// A box with buttons of the caller's own: `choices` are their texts, left to right, each with
// its mnemonic ("恢复(&R)"). Enter, Escape and closing the box choose choices[safeChoice], and
// so does any answer of a responder other than FirstChoice + index. Returns the index of the
// button chosen; safeChoice when the box cannot be shown (the program is closing).
int choose(QWidget* owner, const QString& text, const QStringList& choices, int safeChoice,
           const QString& caption = kAppCaption, Icon icon = Icon::Question);

// Replaces the real boxes (tests); an empty responder restores them. The responder runs on
// the GUI thread.
using Responder = std::function<Result(QWidget* owner, const Request&)>;
void setResponder(Responder responder);

}  // namespace MessageBox
