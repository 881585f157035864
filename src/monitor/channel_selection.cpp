#include <QEvent>
#include <QItemSelectionModel>
#include <QMetaObject>
#include <QTableWidget>

#include "monitor/form_ids.h"
#include "monitor/testclass.h"

// Which channel the form shows: its row in the channel table, its history list and its
// trend chart always belong to one channel in use.

void Testclass::connectChannelTable() {
    connect(m_listChannels->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) onChannelTableItemChanged(current.row());
            });
    // Whatever else moves the selection (a refused row the view selects after telling us,
    // Ctrl+click, Ctrl+Space) is put back once the view is done with its event.
    connect(m_listChannels->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        bool onlyCurrentRow = false;
        for (const QModelIndex& index : m_listChannels->selectionModel()->selectedIndexes()) {
            onlyCurrentRow = index.row() == m_nCurRow;
            if (!onlyCurrentRow) break;
        }
        if (!onlyCurrentRow)
            QMetaObject::invokeMethod(this, &Testclass::reselectCurrentRow, Qt::QueuedConnection);
    });
    // A click anywhere in the table, also on its empty part, ends with the current row
    // selected again.
    m_listChannels->viewport()->installEventFilter(this);
}

bool Testclass::eventFilter(QObject* watched, QEvent* event) {
    if (m_listChannels != nullptr && watched == m_listChannels->viewport() &&
        event->type() == QEvent::MouseButtonRelease) {
        // After the table has handled the click itself.
        QMetaObject::invokeMethod(this, &Testclass::onChannelTableClicked, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void Testclass::reselectCurrentRow() {
    m_listChannels->setCurrentCell(m_nCurRow, ChannelColumn::Number,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void Testclass::SelectChannel() {
    if (m_nCurChannel < 1 || m_nCurChannel > CHANNELS_IN_USE) return;
    m_nCurRow = static_cast<uint8_t>(m_nCurChannel - 1);
    reselectCurrentRow();
    if (QTableWidget* shown = m_listHistory[m_nShownHistory]) shown->hide();
    m_nShownHistory = m_nCurRow;
    m_listHistory[m_nShownHistory]->show();
    update(chartFrameRect());
}

void Testclass::onChannelTableItemChanged(int row) {
    if (row == m_nCurRow) return;
    if (row < 0 || row >= CHANNELS_IN_USE || g_bChannelOff[row] != 0) {
        reselectCurrentRow();
        return;
    }
    m_nCurRow = static_cast<uint8_t>(row);
    m_nCurChannel = static_cast<uint8_t>(row + 1);
    SelectChannel();
    m_nChannel = m_nCurRow;
}

void Testclass::onChannelTableClicked() { reselectCurrentRow(); }
