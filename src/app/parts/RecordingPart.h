// SPDX-License-Identifier: GPL-3.0-or-later
// The recording of a session (see TRecorder): its file, its rows of the
// answers, readings, commands sent and the window's events, and the light
// that shows it. It observes the session for the rows.
//
// User-interface thread only. The light and the action are the window's.
#pragma once

#include "Recorder.h"
#include "SensorSession.h"

#include <functional>
#include <optional>
#include <string>

class QAction;
class QLabel;

class TRecordingPart : public TSessionObserver {
  public:
    // Light shows the recording and its row count; StopAction is enabled
    // while it runs. The owner adds the part to the session's observers
    // before whatever shows the readings, so a reading that cannot be drawn
    // is still on disk.
    TRecordingPart(TSensorSession& Session, QLabel* Light, QAction* StopAction);
    // Closes the file; a failure then is not reported (every row is written).
    ~TRecordingPart() override;
    TRecordingPart(const TRecordingPart&) = delete;
    TRecordingPart& operator=(const TRecordingPart&) = delete;

    // A row that cannot be written stops the recording; OnFailure is told
    // why ("Recording stopped. " and the reason).
    std::function<void(const std::string& Why)> OnFailure;
    // The part's state changed: the owner draws the lights anew (calling
    // UpdateLight), all of them at once. Without it the part draws its own.
    std::function<void()> OnLightChanged;

    // Start raises EInOutError when the file cannot be opened (the recording
    // before it stopped). Stop raises what closing the file raises.
    void Start(const std::string& Path);
    void Stop();
    // A row of the session's port, and the sensor's mode and ID (those of R
    // for a reading; of sensor Id when given, the mode only when Information
    // told that sensor's); nothing while not recording.
    void Row(const std::string& Kind, const std::string& Value, const std::string& Text,
             const TReading* R = nullptr, std::optional<int> Id = std::nullopt);
    void Event(const std::string& Text) { Row("event", "", Text); }
    const TRecorder& Recorder() const { return FRecorder; }
    // Why the recording last failed to start or stopped (set by the owner for
    // a start).
    std::string Failure;
    void UpdateLight(); // from the part's state

    void Answer(const std::string& Line, bool IsFrame) override;
    void Reading(const TReading& R) override;
    void Malformed(const std::string& Text) override;
    void Sent(const std::string& Shown) override;

  private:
    void LightChanged();
    TSensorSession& FSession;
    QLabel* FLight;
    QAction* FStopAction;
    TRecorder FRecorder;
};
