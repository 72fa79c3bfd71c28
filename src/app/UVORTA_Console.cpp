// Placeholder until the console handlers land.
#include "UVORTA_Display.h"

void TFKAVRO::ConnectConsoleSignals() {}
void TFKAVRO::ConsoleFormCreate() {}
void TFKAVRO::CloseSerialPort() {}
