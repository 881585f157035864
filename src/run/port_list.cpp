#include "run/port_list.h"

#include <QComboBox>

#include "link/serial_channel.h"
#include "platform/port_names.h"

namespace {

// The port name with the device behind it.
QString deviceTip(int index) {
    const QString name = g_strComNames[static_cast<size_t>(index)];
    return name + QStringLiteral(" → ") + PortNames::describe(name);
}

}  // namespace

void FillPortList(QComboBox* list) {
    PortNames::refresh();  // adapters plugged in since the last look are in the list
    list->clear();
    for (int i = 0; i < static_cast<int>(g_strComNames.size()); ++i) {
        list->addItem(g_strComNames[static_cast<size_t>(i)]);
        list->setItemData(i, deviceTip(i), Qt::ToolTipRole);
    }
    auto showTip = [list](int index) {
        list->setToolTip(index >= 0 ? deviceTip(index) : QString());
    };
    showTip(list->currentIndex());
    QObject::connect(list, &QComboBox::currentIndexChanged, list, showTip);
}
