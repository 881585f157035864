#include "monitor/testclass.h"

#include <QDate>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "link/link_threads.h"
#include "monitor/form_ids.h"
#include "monitor/form_link.h"
#include "monitor/table_cell.h"
#include "platform/date_text.h"
#include "platform/gui_gate.h"
#include "platform/song_font.h"

QPointer<Testclass> g_pTestView;

namespace {

// Dialog units of the form's template in pixels.
QRect du(int x, int y, int w, int h) {
    auto px = [](int v) { return static_cast<int>(v * 1.5); };
    return QRect(px(x), px(y), px(w), px(h));
}

struct FieldSpec {
    int id;
    const char* label;
    int x, y, w, h;
};

// The read-only fields with their labels, left to right; the specimen temperature stands in
// a frame of its own at the right.
constexpr FieldSpec kFields[] = {
    {FormId::StartTime, "开始时间", 36, 207, 71, 14},
    {FormId::RemainingMinutes, "剩余时间(Min)", 121, 207, 62, 14},
    {FormId::Voltage, "电压(V)", 197, 207, 50, 14},
    {FormId::RecordInterval, "保存间隔(Min)", 261, 207, 50, 14},
    {FormId::Diameter, "试件直径(mm)", 325, 207, 50, 14},
    {FormId::Tester, "测试人员", 389, 207, 50, 14},
    {FormId::TestDate, "测试日期", 453, 207, 50, 14},
    {FormId::CommStatus, "通信状态", 517, 207, 40, 14},
    {FormId::Temperature, "试件温度(℃)", 594, 206, 45, 14},
};

struct ButtonSpec {
    int id;
    const char* text;
    int x, y;
};

constexpr ButtonSpec kButtons[] = {
    {FormId::InitButton, "设备初试化", 585, 243},   {FormId::StartButton, "开始实验", 585, 276},
    {FormId::SaveText, "保存文本数据", 585, 309},   {FormId::SaveChart, "保存当前趋势图", 585, 342},
    {FormId::SaveExcel, "保存数据EXCEL", 585, 375}, {FormId::CloseTest, "关    闭", 585, 408},
};

QFrame* etchedFrame(QWidget* parent, const QRect& rect) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(rect);
    return frame;
}

}  // namespace

Testclass::Testclass(QWidget* parent) : QWidget(parent), m_link(std::make_shared<FormLink>(this)) {
    setFont(songFont(12));
    setMinimumSize(du(0, 0, 675, 447).size());
    buildControls();
}

Testclass::~Testclass() {
    // Teardown: whatever way the form goes, the link threads are told to stop and released
    // from any wait on the GUI thread; they reach the form only through m_link, which they
    // hold, and find it gone from now on.
    g_bLinkActive = 0;
    g_bWorkerRun = 0;
    m_link->m_hStopEvent.setAndClose();
    g_hRxStopEvent.setAndClose();
    m_link->detach();
    GuiGate& gate = GuiGate::instance();
    gate.close();
    // They are joined before the port closes, so none of them is still using it. When the
    // form goes away from inside a worker's call (a message box open for a worker), that
    // worker cannot end before the call below us on the stack returns: the threads that
    // are still running are then joined later (next test window or program end).
    if (gate.runningWorkerCall())
        LinkThreads::joinFinished();
    else
        LinkThreads::joinAll();
    ClosePortOnTeardown();
}

void Testclass::buildControls() {
    etchedFrame(this, du(20, 15, 343, 156));
    etchedFrame(this, du(374, 15, 280, 156));
    etchedFrame(this, du(20, 180, 548, 54));
    etchedFrame(this, du(580, 180, 74, 54));  // around the specimen temperature
    m_items[FormId::ChartFrame] = etchedFrame(this, du(20, 241, 548, 197));

    struct Heading {
        const char* text;
        int x, w;
    };
    for (const Heading& h :
         {Heading{"通道", 67, 17}, Heading{"试件编号", 108, 33}, Heading{"状态", 164, 17},
          Heading{"当前电流(mA)", 207, 49}, Heading{"电通量(C)", 286, 37}}) {
        auto* label = new QLabel(QString::fromUtf8(h.text), this);
        label->setGeometry(du(h.x, 32, h.w + 6, 9));
    }

    auto* caption = new QLabel(QStringLiteral("通  道  信  息"), this);
    caption->setAlignment(Qt::AlignCenter);
    caption->setGeometry(du(442, 29, 144, 17));
    m_items[FormId::ChannelCaption] = caption;

    buildChannelTable();
    buildHistoryLists();

    // Tab order follows the layout: the table, the history list, the fields left to
    // right, the buttons top to bottom (hidden controls are passed over).
    QWidget* previous = m_listChannels;
    for (QTableWidget* list : m_listHistory) {
        if (list == nullptr) continue;
        setTabOrder(previous, list);
        previous = list;
    }
    for (const FieldSpec& f : kFields) {
        auto* field = new QLineEdit(this);
        field->setReadOnly(true);
        field->setGeometry(du(f.x, f.y, f.w, f.h));
        if (f.id != FormId::CommStatus) field->setAlignment(Qt::AlignCenter);
        auto* label = new QLabel(QString::fromUtf8(f.label), this);
        label->setGeometry(du(f.x, 191, f.w + 14, 10));
        label->setBuddy(field);
        field->setAccessibleName(QString::fromUtf8(f.label));
        m_items[f.id] = field;
        setTabOrder(previous, field);
        previous = field;
    }
    for (const ButtonSpec& b : kButtons) {
        auto* button = new QPushButton(QString::fromUtf8(b.text), this);
        button->setGeometry(du(b.x, b.y, 67, 19));
        m_items[b.id] = button;
        setTabOrder(previous, button);
        previous = button;
    }
    m_btnStart = static_cast<QPushButton*>(m_items[FormId::StartButton]);
    connect(static_cast<QPushButton*>(m_items[FormId::InitButton]), &QPushButton::clicked, this,
            &Testclass::OnDeviceInit);
    connect(m_btnStart, &QPushButton::clicked, this, &Testclass::OnStartTest);
    connect(static_cast<QPushButton*>(m_items[FormId::SaveText]), &QPushButton::clicked, this,
            &Testclass::OnSaveText);
    connect(static_cast<QPushButton*>(m_items[FormId::SaveChart]), &QPushButton::clicked, this,
            &Testclass::OnSaveChart);
    connect(static_cast<QPushButton*>(m_items[FormId::SaveExcel]), &QPushButton::clicked, this,
            &Testclass::OnSaveExcel);
    connect(static_cast<QPushButton*>(m_items[FormId::CloseTest]), &QPushButton::clicked, this,
            &Testclass::OnCloseTest);
}

void Testclass::buildChannelTable() {
    m_fontTable = songFont(18);
    m_listChannels = new QTableWidget(CHANNELS_IN_USE, 6, this);
    m_listChannels->setGeometry(QRect(QPoint(85, 70), QPoint(495 - 1, 246 - 1)));
    m_listChannels->setFont(m_fontTable);
    m_listChannels->horizontalHeader()->hide();
    m_listChannels->verticalHeader()->hide();
    // Rows as high as a list control's for this font; the six rows fit the table.
    m_listChannels->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_fontTable).height() + 4);
    m_listChannels->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The columns fill the table to its border; the last pixels of column 5 may be cut off,
    // a scroll bar for them would hide a row.
    m_listChannels->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listChannels->setShowGrid(true);
    m_listChannels->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listChannels->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listChannels->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listChannels->setSortingEnabled(false);
    // Tab leaves the table for the next control, as in every other field of the form; the
    // arrow keys move between its rows.
    m_listChannels->setTabKeyNavigation(false);
    m_listChannels->setAccessibleName(QStringLiteral("通道列表"));
    const int widths[] = {0, 50, 90, 50, 110, 110};
    for (int c = 0; c < 6; ++c) m_listChannels->setColumnWidth(c, widths[c]);
    m_listChannels->setColumnHidden(0, true);
    for (int r = 0; r < CHANNELS_IN_USE; ++r) {
        m_listChannels->setItem(r, 0, CentredCell(QStringLiteral("123")));
        m_listChannels->setItem(r, 1, CentredCell(QString::number(r + 1)));
        for (int c = 2; c < 6; ++c) m_listChannels->setItem(r, c, CentredCell(QString()));
    }
    m_items[FormId::ChannelTable] = m_listChannels;
    connectChannelTable();
}

void Testclass::buildHistoryLists() {
    m_fontHistory = songFont(15);
    for (int slot = 0; slot < CHANNELS_IN_USE; ++slot) {
        auto* list = new QTableWidget(0, 4, this);
        list->setGeometry(QRect(QPoint(600, 70), QPoint(950 - 1, 230 - 1)));
        list->setFont(m_fontHistory);
        const QString n = QString::number(slot + 1);
        list->setHorizontalHeaderLabels({QString(), QStringLiteral("保存次数"),
                                         QStringLiteral("通道") + n + QStringLiteral("电流"),
                                         QStringLiteral("通道") + n + QStringLiteral("电量")});
        list->horizontalHeader()->setSectionsClickable(false);
        list->verticalHeader()->hide();
        list->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_fontHistory).height() + 4);
        list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        list->setShowGrid(true);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setSortingEnabled(false);
        list->setTabKeyNavigation(false);
        const int widths[] = {0, 100, 100, 100};
        for (int c = 0; c < 4; ++c) list->setColumnWidth(c, widths[c]);
        list->setColumnHidden(0, true);
        list->setAccessibleName(QStringLiteral("通道") + n + QStringLiteral("记录"));
        list->hide();
        m_listHistory[slot] = list;
    }
}

QWidget* Testclass::item(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QString Testclass::itemTextOnGui(int id) const {
    QWidget* w = item(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    return {};
}

void Testclass::setItemTextOnGui(int id, const QString& text) {
    m_link->writtenOnGui(id);
    QWidget* w = item(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
    else if (auto* button = qobject_cast<QPushButton*>(w))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
}

void Testclass::setItemEnabledOnGui(int id, bool enabled) {
    if (QWidget* w = item(id)) w->setEnabled(enabled);
}

QString Testclass::channelCellOnGui(int row, int column) const {
    if (row < 0 || row >= m_listChannels->rowCount() || column < 0 || column >= 6) return {};
    QTableWidgetItem* cell = m_listChannels->item(row, column);
    return cell ? cell->text() : QString();
}

void Testclass::setChannelCellOnGui(int row, int column, const QString& text) {
    if (row < 0 || row >= m_listChannels->rowCount() || column < 0 || column >= 6) return;
    m_link->writtenOnGui(row, column);
    if (QTableWidgetItem* cell = m_listChannels->item(row, column)) cell->setText(text);
}

QString Testclass::historyCell(int slot, int row, int column) const {
    if (slot < 0 || slot >= MAX_CHANNELS || m_listHistory[slot] == nullptr) return {};
    QTableWidget* list = m_listHistory[slot];
    if (row < 0 || row >= list->rowCount()) return {};
    QTableWidgetItem* cell = list->item(row, column);
    return cell ? cell->text() : QString();
}

int Testclass::historyRowCount(int slot) const {
    if (slot < 0 || slot >= MAX_CHANNELS || m_listHistory[slot] == nullptr) return 0;
    return m_listHistory[slot]->rowCount();
}

void Testclass::appendHistoryRow(int slot, const QString& number, const QString& current,
                                 const QString& charge) {
    if (slot < 0 || slot >= MAX_CHANNELS || m_listHistory[slot] == nullptr) return;
    QTableWidget* list = m_listHistory[slot];
    const int row = list->rowCount();
    list->insertRow(row);
    list->setItem(row, HistoryColumn::Hidden, CentredCell(QString()));
    list->setItem(row, HistoryColumn::RecordNo, CentredCell(number));
    list->setItem(row, HistoryColumn::Current, CentredCell(current));
    list->setItem(row, HistoryColumn::Charge, CentredCell(charge));
    list->scrollToBottom();  // the new row is the last one
}

bool Testclass::started() const { return m_link->started(); }

QRect Testclass::chartFrameRect() const { return item(FormId::ChartFrame)->geometry(); }

void Testclass::OnInitialUpdate() {
    g_pTestView = this;
    LinkThreads::joinFinished();  // threads of an earlier test window that have ended
    GuiGate::instance().open();
    m_nGridShift = 0;
    m_link->m_bStarted = 0;
    g_nLastRecord = 0;
    g_bWorkerRun = 0;

    for (int slot = CHANNELS_IN_USE - 1; slot >= 0; --slot) {
        if (g_bChannelOff[slot] == 0) {
            m_nChannel = slot;
            setChannelCellOnGui(slot, ChannelColumn::SpecimenNo, g_strSpecimenNo[slot]);
            setChannelCellOnGui(slot, ChannelColumn::Status, QStringLiteral("停止"));
        } else {
            setChannelCellOnGui(slot, ChannelColumn::SpecimenNo, QStringLiteral("-"));
            setChannelCellOnGui(slot, ChannelColumn::Status, QStringLiteral("停用"));
            setChannelCellOnGui(slot, ChannelColumn::Current, QStringLiteral("-"));
            setChannelCellOnGui(slot, ChannelColumn::Charge, QStringLiteral("-"));
        }
    }
    g_bTesting = 0;
    if (m_nChannel < 0) m_nChannel = 0;  // no channel in use: channel 1 stays selected
    m_nCurChannel = static_cast<uint8_t>(m_nChannel + 1);
    m_listHistory[m_nChannel]->show();
    m_nShownHistory = m_nCurRow = static_cast<uint8_t>(m_nChannel);
    reselectCurrentRow();
    item(FormId::ChannelCaption)->setFont(m_fontHistory);

    setItemTextOnGui(FormId::TestDate, DateText(QDate::currentDate()));
    setItemTextOnGui(FormId::StartTime, QStringLiteral("00:00:00"));
    setItemTextOnGui(FormId::RecordInterval, QString::number(g_nRecordInterval));
    setItemTextOnGui(FormId::Diameter, QString::number(g_nDiameter));
    setItemTextOnGui(FormId::Tester, g_strTester);

    g_hRxStopEvent.clear();
    m_link->m_hStopEvent.clear();
    if (m_viewOnly) {
        // Nothing runs in a form that shows an archived test: no port, no instrument.
        setItemEnabledOnGui(FormId::InitButton, false);
        setItemEnabledOnGui(FormId::StartButton, false);
    } else {
        OpenLinkOnInitialUpdate();
    }
    g_nCurCommand = 0;
}
