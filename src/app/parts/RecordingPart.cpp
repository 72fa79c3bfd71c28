// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingPart.h"

#include "Lights.h"
#include "SensorProtocol.h"
#include "SessionState.h"
#include "SysUtils.h"

#include <QAction>
#include <QLabel>

namespace {

// The sensor's bytes are 8-bit text of the system's code page; the
// recording is UTF-8.
std::string Utf8(const std::string& Local) {
    return QString::fromLocal8Bit(Local.data(), static_cast<qsizetype>(Local.size()))
        .toUtf8()
        .toStdString();
}

} // namespace

TRecordingPart::TRecordingPart(TSensorSession& Session, QLabel* Light, QAction* StopAction)
    : FSession(Session), FLight(Light), FStopAction(StopAction) {
    UpdateLight();
}

TRecordingPart::~TRecordingPart() {
    try {
        FRecorder.Close();
    } catch (const std::exception&) {
        // Nothing is left to report it to; every row is already written.
    }
}

void TRecordingPart::UpdateLight() {
    FLight->setVisible(FRecorder.Active());
    if (FRecorder.Active())
        SetLight(FLight, QString::fromUtf8("● REC %1").arg(FRecorder.Rows()), "#c62828");
    FStopAction->setEnabled(FRecorder.Active());
}

void TRecordingPart::LightChanged() {
    if (OnLightChanged)
        OnLightChanged();
    else
        UpdateLight();
}

void TRecordingPart::Start(const std::string& Path) {
    Stop();
    FRecorder.Open(Path);
    Event("recording started");
    LightChanged();
}

void TRecordingPart::Stop() {
    if (!FRecorder.Active()) return;
    Event("recording stopped");
    try {
        FRecorder.Close();
    } catch (...) {
        LightChanged();
        throw;
    }
    LightChanged();
}

void TRecordingPart::Row(const std::string& Kind, const std::string& Value, const std::string& Text,
                         const TReading* R, std::optional<int> Id) {
    if (!FRecorder.Active()) return;
    const TSensorIdentity& I = FSession.Identity();
    auto Known = [](int V) { return V < 0 ? std::string() : std::to_string(V); };
    const int RowId = R ? R->Id : Id ? *Id : I.Id;
    const int RowMode = R ? R->Mode : Id && *Id != I.Id ? -1 : I.Mode;
    const TRecordRow Row{
        Kind,           Value,
        Text,           PortOpen(FSession) ? FSession.Connection().Opened : std::string(),
        Known(RowMode), Known(RowId)};
    try {
        FRecorder.Write(Row);
    } catch (const std::exception& E) {
        // The readings go on on screen; the recording ends with the reason.
        LightChanged();
        Failure = std::string("Recording stopped. ") + E.what();
        if (OnFailure) OnFailure(Failure);
        return;
    }
    LightChanged();
}

void TRecordingPart::Answer(const std::string& Line, bool IsFrame) {
    // A frame's text is recorded with its reading, or as an answer when it
    // holds no number (Malformed).
    if (!IsFrame && FRecorder.Active()) Row("answer", "", Utf8(Line));
}

void TRecordingPart::Reading(const TReading& R) {
    // The frame's whole line as the log shows it. Not recording, nothing of
    // it is formatted: readings stream a thousand a second.
    if (!FRecorder.Active()) return;
    Row("reading", TRecorder::Number(R.Value), Utf8(FSession.LastAnswer()), &R);
}

void TRecordingPart::Malformed(const std::string& Text) {
    if (!FRecorder.Active()) return;
    Row("answer", "", Utf8(Text));
}

void TRecordingPart::Sent(const std::string& Shown) {
    // Recorded without the command's line end, so each row stays a line.
    std::string T = Shown;
    if (T.size() >= 2 && T.compare(T.size() - 2, 2, SensorCommands::CRLF) == 0)
        T.resize(T.size() - 2);
    Row("sent", "", Utf8(T), nullptr, FSession.SentId());
}
