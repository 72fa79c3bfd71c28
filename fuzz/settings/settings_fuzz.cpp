// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for the settings record. The first 61 bytes are a record as
// read from "UserSet.dat" (a shorter input is padded with zeros); the rest
// gives four texts to store and a whole port name as kept beside the record.
// Checked: reads stay within each field's capacity, storing what was read
// changes no byte, stored texts come back cut to capacity without touching
// the other fields, the record's bytes survive the window's texts, and the
// kept port name is used only where the record's field begins it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ProgramSettings.h"
#include "UserSettings.h"

namespace {

const TUserSettings::TField Fields[] = {TUserSettings::PortName,     TUserSettings::SendCount,
                                        TUserSettings::SendInterval, TUserSettings::SensorId,
                                        TUserSettings::Reserved1,    TUserSettings::Reserved2,
                                        TUserSettings::Reserved3};

void Check(bool Ok) {
    if (!Ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TUserSettings S;
    std::memcpy(S.Bytes.data(), Data, Size < TUserSettings::Size ? Size : TUserSettings::Size);
    const std::string Rest =
        Size > TUserSettings::Size
            ? std::string(reinterpret_cast<const char*>(Data) + TUserSettings::Size,
                          Size - TUserSettings::Size)
            : std::string();

    const TUserSettings Read = S;
    for (auto F : Fields) {
        const std::string Text = S.Get(F);
        Check(Text.size() <= F.Capacity);
        Check(RecordBytes(RecordText(Text)) == Text);
        S.Set(F, Text);
    }
    // Rewriting what was read changes only length bytes beyond capacity.
    for (auto F : Fields) {
        Check(S.Get(F) == Read.Get(F));
        Check(std::memcmp(&S.Bytes[F.Offset + 1], &Read.Bytes[F.Offset + 1], F.Capacity) == 0);
    }

    // Texts from the rest, split at zero bytes: four fields, then a port name.
    std::string Parts[5];
    size_t Part = 0;
    for (char C : Rest) {
        if (C == '\0' && Part < 4)
            ++Part;
        else
            Parts[Part] += C;
    }
    const TUserSettings Before = S;
    for (int i = 0; i < 4; ++i) {
        S.Set(Fields[i], Parts[i]);
        Check(S.Get(Fields[i]) == Parts[i].substr(0, Fields[i].Capacity));
    }
    for (int i = 4; i < 7; ++i)
        Check(S.Get(Fields[i]) == Before.Get(Fields[i]));

    const QString Kept = RecordText(Parts[4]);
    const QString Shown = WholePortName(S, Kept);
    const std::string Field = S.Get(TUserSettings::PortName);
    if (Parts[4].substr(0, TUserSettings::PortName.Capacity) == Field)
        Check(Shown == Kept);
    else
        Check(RecordBytes(Shown) == Field);
    return 0;
}
