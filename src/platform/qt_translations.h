#pragma once

class QCoreApplication;

// Turns Qt's own texts Chinese: the file dialog, the standard buttons of its questions and
// the context menus of the fields. Installs Qt's simplified-Chinese translation on `app`,
// which keeps it for its lifetime; call once, before the first window. False when the
// translation is not installed (Qt's texts then stay English).
bool InstallQtChineseTranslations(QCoreApplication& app);
