#include "platform/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <mutex>

#include "platform/gui_gate.h"

namespace FileDialog {
namespace {

std::mutex g_responderMutex;
Responder g_responder;

QString askOnGui(QWidget* owner, const SaveRequest& request) {
    Responder responder;
    {
        std::lock_guard lock(g_responderMutex);
        responder = g_responder;
    }
    if (responder) return responder(owner, request);

    QFileDialog dialog(owner);
    dialog.setAcceptMode(request.openExisting ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.openExisting ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    dialog.setDirectory(QDir::currentPath());
    dialog.selectFile(request.proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

}  // namespace

QString withDefaultSuffix(const QString& path, const QString& suffix) {
    if (path.isEmpty() || suffix.isEmpty()) return path;
    const QString name = QFileInfo(path).fileName();
    if (name.contains(QLatin1Char('.'))) return path;
    return path + QLatin1Char('.') + suffix;
}

QString getSaveFileName(QWidget* owner, const SaveRequest& request) {
    QString chosen;
    QPointer<QWidget> guardedOwner(owner);
    if (GuiGate::onGuiThread()) {
        chosen = askOnGui(owner, request);
    } else {
        GuiGate::instance().run([&] { chosen = askOnGui(guardedOwner.data(), request); });
    }
    return withDefaultSuffix(chosen, request.defaultSuffix);
}

void setResponder(Responder responder) {
    std::lock_guard lock(g_responderMutex);
    g_responder = std::move(responder);
}

}  // namespace FileDialog
