// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic window against the simulated sensor: both directions with
// their port, the Angle Data bytes in hex, and the CSV save.
#include "ConsoleFixture.h"
#include "MemoView.h"
#include "Recorder.h"
#include "TrafficWindow.h"

#include <QAction>
#include <QCheckBox>

namespace {

// The view's rows without their time ("hh:mm:ss.zzz "), which is checked
// for its form.
std::vector<std::string> Rows(TTrafficWindow& T) {
    std::vector<std::string> Out;
    const QString Text = Control<TMemoView>(T, "mTraffic")->Text();
    if (Text.isEmpty()) return Out;
    for (const QString& L : Text.split('\n')) {
        const std::string S = L.toStdString();
        const bool Timed =
            S.size() > 13 && S[2] == ':' && S[5] == ':' && S[8] == '.' && S[12] == ' ';
        Out.push_back(Timed ? S.substr(13) : "untimed: " + S);
    }
    return Out;
}

} // namespace

TEST_F(ConsoleE2E, TrafficShowsEachWayWithItsPortBytesAndCsv) {
    Start({"--id", "1", "--value", "-3.25", "--mode", "2"});
    Control<QAction>(W(), "actTraffic")->trigger();
    auto* T = W().findChild<TTrafficWindow*>("Traffic");
    ASSERT_TRUE(T && T->isVisible());
    Connect();
    Control<QLineEdit>(W(), "eCount")->setText("1");
    Control<QLineEdit>(W(), "eInterval")->setText("200");
    Control<QLineEdit>(W(), "Edit1")->setText("1");
    Control<QPushButton>(W(), "btB105")->click();

    std::string P = Internals::Session(W()).Connection().Opened;
    const std::string Info = "V:4100,I:B1,MD:2,C:1,O:0,N:900,P:900,G:1000,F:12,"
                             "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*";
    const std::string Port = P + std::string(P.size() < 8 ? 8 - P.size() : 0, ' ') + ' ';
    const std::vector<std::string> Text = {
        "\u2022 " + Port + "connecting",  "\u2022 " + Port + "connected",
        "\u2192 " + Port + "#INFO",       "\u2190 " + Port + Info,
        "\u2192 " + Port + "B1 05 - HEX", "\u2190 " + Port + "-3.25"};
    ASSERT_TRUE(PumpUntilTrue([&] { return Rows(*T).size() >= Text.size(); }));
    EXPECT_EQ(Rows(*T), Text);

    Control<QCheckBox>(*T, "cbSent")->setChecked(false);
    Control<QCheckBox>(*T, "cbAnswers")->setChecked(false);
    Control<QCheckBox>(*T, "cbEvents")->setChecked(false);
    Control<QCheckBox>(*T, "cbHex")->setChecked(true);
    EXPECT_EQ(Rows(*T),
              std::vector<std::string>{"\u2190 " + Port + "02 2D 33 2E 32 35 42 31 17 24" +
                                       std::string(20, ' ') + ".-3.25B1.$"});
    Control<QCheckBox>(*T, "cbSent")->setChecked(true);
    Control<QLineEdit>(*T, "eFind")->setText("b1 05");
    EXPECT_EQ(Rows(*T),
              std::vector<std::string>{"\u2192 " + Port + "B1 05" + std::string(44, ' ') + ".."});

    // Paused, what arrives is kept and counted, and shown on resume.
    Control<QLineEdit>(*T, "eFind")->clear();
    T->SetPaused(true);
    Control<QPushButton>(W(), "btB105")->click();
    ASSERT_TRUE(PumpUntilTrue(
        [&] { return Control<QLabel>(*T, "lStatus")->text() == "paused: 2 new lines"; }));
    EXPECT_EQ(Rows(*T).size(), 3u);
    T->SetPaused(false);
    EXPECT_EQ(Rows(*T).size(), 5u);

    const std::string Csv = (Folder.path() + "/traffic.csv").toStdString();
    Control<QCheckBox>(*T, "cbAnswers")->setChecked(true);
    Control<QCheckBox>(*T, "cbEvents")->setChecked(true);
    T->SaveCsv(Csv);
    const auto Saved = CsvRows(ReadFile(Csv));
    ASSERT_EQ(Saved.size(), 9u);
    EXPECT_EQ(ReadFile(Csv).substr(0, 45), std::string(TRecorder::Header) + "\r\n");
    EXPECT_EQ(Saved[1][1], "0.000");
    const std::vector<std::vector<std::string>> Want = {
        {"event", "", "connecting", P, "", ""},   {"event", "", "connected", P, "", ""},
        {"sent", "", "#INFO", P, "", ""},         {"answer", "", Info, P, "", ""},
        {"sent", "", "B1 05 - HEX", P, "2", "1"}, {"reading", "-3.25", "-3.25", P, "2", "1"}};
    for (size_t i = 0; i < Want.size(); ++i)
        EXPECT_EQ(std::vector<std::string>(Saved[i + 1].begin() + 2, Saved[i + 1].end()), Want[i])
            << i;

    // Closed, it observes nothing.
    T->close();
    const uint64_t Kept = T->Log().End();
    Control<QPushButton>(W(), "btB105")->click();
    Settle();
    EXPECT_EQ(T->Log().End(), Kept);
}
