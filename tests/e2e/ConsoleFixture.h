// SPDX-License-Identifier: GPL-3.0-or-later
// The window against the simulated sensor: the fixture and helpers the
// end-to-end tests share.
#pragma once

#include "Dialogs.h"
#include "GR32.h"
#include "GR32_Image.h"
#include "GR32_Layers.h"
#include "GaugeProbe.h"
#include "PumpWait.h"
#include "SensorProtocol.h"
#include "SimProcess.h"
#include "UVORTA_Display.h"
#include "VaPorts.h"
#include "WindowProbe.h"
#include "iSevenSegmentAnalog.h"
#include "pngimage.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMenuBar>
#include <QProcess>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

namespace e2e {

inline const std::string CRLF = "\r\n";

inline std::string ReadFile(const std::string& Path) {
    std::ifstream F(Path, std::ios::binary);
    std::stringstream S;
    S << F.rdbuf();
    return S.str();
}

// The rows of a recording, each split into its fields (RFC 4180 quoting).
inline std::vector<std::vector<std::string>> CsvRows(const std::string& Text) {
    std::vector<std::vector<std::string>> Rows(1, std::vector<std::string>(1));
    bool Quoted = false;
    for (size_t i = 0; i < Text.size(); ++i) {
        const char C = Text[i];
        if (Quoted) {
            if (C == '"' && i + 1 < Text.size() && Text[i + 1] == '"')
                Rows.back().back() += Text[++i];
            else if (C == '"')
                Quoted = false;
            else
                Rows.back().back() += C;
        } else if (C == '"') {
            Quoted = true;
        } else if (C == ',') {
            Rows.back().emplace_back();
        } else if (C == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') {
            ++i;
            Rows.emplace_back(1);
        } else {
            Rows.back().back() += C;
        }
    }
    if (Rows.back() == std::vector<std::string>(1)) Rows.pop_back();
    return Rows;
}

// "kind:text" of the rows other than readings.
inline std::vector<std::string> NonReadings(const std::vector<std::vector<std::string>>& Rows) {
    std::vector<std::string> Out;
    for (size_t i = 1; i < Rows.size(); ++i)
        if (Rows[i][2] != "reading") Out.push_back(Rows[i][2] + ":" + Rows[i][4]);
    return Out;
}

// A window in a fresh application folder, its message boxes scripted, its
// port box pointing at a simulated sensor.
class ConsoleE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        SetAppFolder(Folder.path().toStdString());
        OldSeam = SetDialogSeam({[this](const std::string& T) { Messages.push_back(T); },
                                 [this](const std::string& T) {
                                     Questions.push_back(T);
                                     return Answer;
                                 }});
    }
    void TearDown() override {
        Window.reset();
        SetDialogSeam(OldSeam);
    }

    void Start(const std::vector<std::string>& SimArgs = {}) {
        Sim = std::make_unique<TSimProcess>(SimArgs);
        Window = std::make_unique<TFKAVRO>();
        Control<QComboBox>(*Window, "ePortNo")->setEditText(QString::fromStdString(Sim->Path()));
    }
    void Connect() {
        Control<QPushButton>(W(), "Button3")->click();
        ASSERT_EQ(Internals::Connected(W()), 1) << Panel(0);
    }
    TFKAVRO& W() { return *Window; }
    std::string Panel(int i) {
        return Control<TStatusBar>(W(), "StatusBar1")->PanelText(i).toStdString();
    }
    std::vector<std::string> MemoLines() {
        const QString Text = Control<TMemoView>(W(), "Memo1")->Text();
        std::vector<std::string> Lines;
        for (const QString& L : Text.split('\n'))
            Lines.push_back(L.toStdString());
        return Lines;
    }
    std::vector<std::string> Commands() {
        std::vector<std::string> Out;
        for (const auto& C : Sim->Commands())
            Out.push_back(C.Text);
        return Out;
    }
    // Lets the serial threads and the sensor catch up after a command that
    // waits for nothing.
    void Settle(int Ms = 150) { PumpWait(Ms); }
    // Runs the event loop until Pred holds (at most 3 s).
    bool PumpUntilTrue(const std::function<bool()>& Pred) {
        for (int i = 0; i < 300 && !Pred(); ++i)
            PumpWait(10);
        return Pred();
    }
    // Waits until the sensor logged at least Count bytes (at most 3 s).
    void WaitForBytes(size_t Count) {
        for (int i = 0; i < 300 && Sim->Bytes().size() < Count; ++i)
            PumpWait(10);
    }

    QTemporaryDir Folder;
    TDialogSeam OldSeam;
    std::vector<std::string> Messages, Questions;
    bool Answer = true;
    std::unique_ptr<TSimProcess> Sim;
    std::unique_ptr<TFKAVRO> Window;
};

} // namespace e2e

using namespace e2e;
