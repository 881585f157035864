#pragma once

class QComboBox;

// Fills a port list with "COM1" ... "COM16" after a fresh look at the serial devices; each
// entry's tooltip names the device the name opens (for a USB adapter also its serial number
// and socket), and the list's own tooltip follows the current entry.
void FillPortList(QComboBox* list);
