#pragma once

// Control ids of the test form (dialog template 133), as the design names them.
namespace FormId {
inline constexpr int CommStatus = 1001;      // "通信状态"
inline constexpr int SaveText = 1024;        // "保存文本数据"
inline constexpr int SaveChart = 1025;       // "保存当前趋势图"
inline constexpr int SaveExcel = 1026;       // "保存数据EXCEL"
inline constexpr int SaveScreen = 1027;      // "保存当前屏幕" (never shown)
inline constexpr int CloseTest = 1028;       // "关    闭"
inline constexpr int StartTime = 1055;       // "开始时间"
inline constexpr int RemainingMinutes = 1056;  // "剩余时间(Min)"
inline constexpr int Voltage = 1057;         // "电压(V)"
inline constexpr int RecordInterval = 1058;  // "保存间隔(Min)"
inline constexpr int Diameter = 1059;        // "试件直径(mm)"
inline constexpr int Tester = 1060;          // "测试人员"
inline constexpr int TestDate = 1061;        // "测试日期"
inline constexpr int Temperature = 1062;     // "试件温度(℃)"
inline constexpr int ChartFrame = 1064;      // the trend chart's frame
inline constexpr int StartButton = 1085;     // "开始实验" / "暂停"
inline constexpr int ChannelCaption = 1086;  // "通  道  信  息"
inline constexpr int InitButton = 1087;      // "设备初试化"
inline constexpr int ChannelTable = 3000;    // m_listChannels
}  // namespace FormId

// Columns of the channel table.
namespace ChannelColumn {
inline constexpr int Hidden = 0;
inline constexpr int Number = 1;
inline constexpr int SpecimenNo = 2;
inline constexpr int Status = 3;
inline constexpr int Current = 4;
inline constexpr int Charge = 5;
}  // namespace ChannelColumn

// Columns of a history list.
namespace HistoryColumn {
inline constexpr int Hidden = 0;
inline constexpr int RecordNo = 1;
inline constexpr int Current = 2;
inline constexpr int Charge = 3;
}  // namespace HistoryColumn
