#include "UVORTA_Display.h"

void TFKAVRO::CreateGauge() {}
void TFKAVRO::ShowReading(double) {}
void TFKAVRO::DrawNeedle(float) {}
void TFKAVRO::LoadDial(const std::string&) {}
