#pragma once

class QComboBox;

// Fills a port list with "COM1" ... "COM16"; each entry's tooltip names the device the
// name opens, and the list's own tooltip follows the current entry.
void FillPortList(QComboBox* list);
