#include "app/main_frame_messages.h"

void PostToMainFrame(int) {}
void PostToTestView(int) {}
void SetMainFrameReceiver(QObject*, MainFrameReceiver) {}
