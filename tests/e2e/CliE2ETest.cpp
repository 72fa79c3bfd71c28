// SPDX-License-Identifier: GPL-3.0-or-later
// vorta-cli against the simulated sensor: the bytes each command puts on the
// wire, what it prints, and its exit status.
#include "CliRun.h"
#include "HostilePeer.h"
#include "PtyPair.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <fstream>

namespace {

QStringList On(const TSimProcess& Sim, QStringList Args) {
    return QStringList{"--port", QString::fromStdString(Sim.Path())} + Args;
}

std::vector<std::string> Texts(const TSimProcess& Sim) {
    std::vector<std::string> T;
    for (const auto& C : Sim.Commands())
        T.push_back(C.Text);
    return T;
}

} // namespace

TEST(CliE2E, EachCommandSendsTheConsolesBytesAndPrintsTheAnswer) {
    TSimProcess Sim({"--id", "5", "--value", "12.5"});
    TRun R = Cli(On(Sim, {"info", "--json"}));
    ASSERT_EQ(R.Status, 0) << R.Err;
    const QJsonObject I = QJsonDocument::fromJson(QByteArray::fromStdString(R.Out)).object();
    EXPECT_EQ(I["version"].toString(), "4100");
    EXPECT_EQ(I["id"], 5);
    EXPECT_EQ(I["plus_range"], 900);

    R = Cli(On(Sim, {"read", "--count", "2", "--interval", "200"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "12.5\n12.5\n");
    R = Cli(On(Sim, {"set-id", "7"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("id: 7\n"), std::string::npos) << R.Out;
    R = Cli(On(Sim, {"set-range", "900", "3600"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("plus_range: 3600\n"), std::string::npos) << R.Out;
    EXPECT_EQ(Cli(On(Sim, {"save"})).Status, 0);
    R = Cli(On(Sim, {"send", "#INFO"}));
    EXPECT_EQ(R.Out.compare(0, 7, "V:4100,"), 0) << R.Out;
    EXPECT_EQ(Texts(Sim),
              (std::vector<std::string>{"#INFO", "#DATA", "#DATA", "#ID7", "#INFO", "#CALI14900",
                                        "#CALI150", "#INFO", "#SAVE", "#INFO"}));

    R = Cli(On(Sim, {"read", "--id", "7", "--json"}));
    const QJsonObject J = QJsonDocument::fromJson(QByteArray::fromStdString(R.Out)).object();
    EXPECT_EQ(J["value"], 12.5);
    EXPECT_EQ(J["id"], 7);
    EXPECT_EQ(J["port"].toString().toStdString(), Sim.Path().substr(5));

    const size_t Before = Sim.Bytes().size();
    R = Cli(On(Sim, {"read", "--id", "7", "--csv"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Sim.Bytes().substr(Before), "\xB7\x05");
    const std::string Header = "time,elapsed_s,kind,value,text,port,mode,id\n";
    EXPECT_EQ(R.Out.compare(0, Header.size(), Header), 0) << R.Out;
    // The recording's row: the frame's text, the port, and the ID asked (its
    // mode is unknown: #INFO is answered by the line's first sensor only).
    const std::string PortName = Sim.Path().substr(5);
    EXPECT_NE(R.Out.find(",reading,12.5,12.50," + PortName + ",,7\n"), std::string::npos) << R.Out;
    R = Cli(On(Sim, {"read", "--csv"}));
    EXPECT_NE(R.Out.find(",reading,12.5,12.50," + PortName + ",0,7\n"), std::string::npos) << R.Out;
}

TEST(CliE2E, UsageMissingPortAndSilentSensorHaveTheirExitStatus) {
    TSimProcess Sim({"--silent"});
    TRun R = Cli(On(Sim, {"set-id", "78"}));
    EXPECT_EQ(R.Status, 2);
    R = Cli({"info"});
    EXPECT_EQ(R.Status, 2);
    R = Cli({"--port", "/tmp/vorta-no-such-port", "info"});
    EXPECT_EQ(R.Status, 3);
    EXPECT_NE(R.Err.find("Specified device not found (/tmp/vorta-no-such-port)."),
              std::string::npos)
        << R.Err;
    EXPECT_TRUE(Sim.Commands().empty());
    R = Cli(On(Sim, {"info"}));
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(Texts(Sim), std::vector<std::string>(6, "#INFO"));
}

TEST(CliE2E, AnInterruptedStreamLeavesTheSensorQuiet) {
    TSimProcess Sim({"--rate", "50"});
    QProcess P;
    P.start(QStringLiteral(VORTA_CLI_PATH), On(Sim, {"stream"}));
    int Lines = 0;
    while (Lines < 5 && P.waitForReadyRead(5000))
        while (P.canReadLine())
            P.readLine(), ++Lines;
    ASSERT_GE(Lines, 5);
    ::kill(static_cast<pid_t>(P.processId()), SIGINT);
    ASSERT_TRUE(P.waitForFinished(10000));
    EXPECT_EQ(P.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(P.exitCode(), 0);
    const auto T = Texts(Sim);
    ASSERT_GE(T.size(), 2u);
    EXPECT_EQ(T.front(), "#READ");
    EXPECT_EQ(T.back(), "#STOP");
}

TEST(CliE2E, ScanListsExactlyTheIdsOnTheLine) {
    TSimProcess Sim({"--bus", "1,5,12", "--value", "2.5"});
    TRun R = Cli(On(Sim, {"scan", "--wait", "60"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "1\t2.5\n5\t2.5\n12\t2.5\n");
    std::string Requests;
    for (int Id = 1; Id <= 77; ++Id)
        Requests += {static_cast<char>(176 + Id), 5};
    EXPECT_EQ(Sim.Bytes(), Requests);
    TSimProcess Silent({"--silent"});
    EXPECT_EQ(Cli(On(Silent, {"scan", "--wait", "10"})).Status, 1);
}

TEST(CliE2E, FramesWithoutANumberAreCountedNeverReadAndACutAnswerIsNoInformation) {
    TSimProcess Sim({"--garble", "--value", "12.5"});
    TRun R = Cli(On(Sim, {"read", "--count", "3"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "12.5\n12.5\n12.5\n");
    EXPECT_EQ(R.Err, "malformed frames: 3\n");
    R = Cli(On(Sim, {"info"}));
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Out, "");
    std::vector<std::string> Sent(6, "#DATA");
    Sent.resize(12, "#INFO");
    EXPECT_EQ(Texts(Sim), Sent);
}

TEST(CliE2E, AStreamingSensorGetsReadItsCountAndSendAndInfoTheirAnswer) {
    TSimProcess Sim({"--stream", "--value", "12.5"});
    TRun R = Cli(On(Sim, {"read", "--count", "3"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "12.5\n12.5\n12.5\n");
    R = Cli(On(Sim, {"send", "#INFO"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out.find('\n'), R.Out.size() - 1) << R.Out;
    EXPECT_EQ(R.Out.compare(0, 7, "V:4100,"), 0) << R.Out;
    R = Cli(On(Sim, {"info"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("\nid: 1\n"), std::string::npos) << R.Out;
}

TEST(CliE2E, AStreamWithTextBetweenItsFramesRunsItsDurationOnce) {
    TSimProcess Sim({"--chatter", "--value", "12.5", "--rate", "10"});
    TRun R = Cli(On(Sim, {"stream", "--duration", "2"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    const auto N = std::count(R.Out.begin(), R.Out.end(), '\n');
    EXPECT_GE(N, 1);
    EXPECT_LE(N, 21); // the readings of 2 s at 10 Hz
    EXPECT_EQ(R.Out.find_first_not_of("12.5\n"), std::string::npos) << R.Out;
    EXPECT_EQ(Texts(Sim), (std::vector<std::string>{"#READ", "#STOP"}));
}

TEST(CliE2E, ARefusalOrNoAnswerIsAFailure) {
    TSimProcess Sim;
    TRun R = Cli(On(Sim, {"set-range", "0", "0"}));
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Err, "vorta-cli: the sensor answered #CALI140 with 'ERR'\n");
    EXPECT_EQ(Cli(On(Sim, {"send", "#STOP"})).Status, 1);
    EXPECT_EQ(Cli(On(Sim, {"send", "#STOP", "--no-answer-ok"})).Status, 0);
    EXPECT_EQ(Texts(Sim), (std::vector<std::string>{"#CALI140", "#STOP", "#STOP"}));
    TSimProcess Silent({"--silent"});
    EXPECT_EQ(Cli(On(Silent, {"save"})).Status, 1);
    EXPECT_EQ(Texts(Silent), std::vector<std::string>{"#SAVE"});
}

// A sensor of our own on a pseudo-terminal, to answer what the simulated
// one never does.
TEST(CliE2E, SaveSucceedsOnlyOnTheSensorsOwnOk) {
    const std::pair<std::string, int> Cases[] = {
        {"OK\r\n", 0}, {" OK \r\n", 0}, {"NOK\r\n", 1}, {"not OK\r\n", 1}, {"OK!\r\n", 1}};
    for (const auto& [Answer, Status] : Cases) {
        TPtyPair Sensor;
        QProcess P;
        P.start(VORTA_CLI_PATH, {"--port", QString::fromStdString(Sensor.SlavePath), "save"});
        EXPECT_EQ(Sensor.Receive(7, 10000), "#SAVE\r\n");
        Sensor.Send(Answer);
        ASSERT_TRUE(P.waitForFinished(30000));
        EXPECT_EQ(P.exitCode(), Status) << Answer << P.readAllStandardError().toStdString();
    }
}

// A stream whose frames lack their ID characters, carry a substituted byte
// or name a sensor nobody asked for: only the port's sensor's whole frames
// are readings; the rest are counted.
TEST(CliE2E, AStreamPrintsOnlyWholeFramesOfItsOwnSensor) {
    using HostilePeer::Frame;
    HostilePeer::TPeer Sensor(HostilePeer::TKind::Pty);
    Sensor.On("#READ", [](HostilePeer::TPeer& P) {
        P.Send(Frame("1.50") + Frame("12.50", 0) + Frame("-0.75", 0) + Frame("7.25", 50) +
               Frame("12\x1A.50") + Frame("2.50"));
    });
    const TRun R =
        Cli({"--port", QString::fromStdString(Sensor.Port()), "stream", "--duration", "2"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "1.5\n2.5\n");
    EXPECT_EQ(R.Err, "malformed frames: 3\nframes of other sensors: 1\n");
    EXPECT_NE(Sensor.Lines().find("#STOP\n"), std::string::npos) << Sensor.Lines();
}

TEST(CliE2E, NegativeMinusRangeIsAValueAndOptionsWithoutUseAreRefused) {
    TSimProcess Sim;
    TRun R = Cli(On(Sim, {"set-range", "-5", "10"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("minus_range: 5\nplus_range: 10\n"), std::string::npos) << R.Out;
    EXPECT_EQ(R.Out.find(".png"), std::string::npos) << R.Out;
    const QStringList Refused[] = {
        {"read", "--count", "0"}, {"save", "--json"}, {"info", "--csv"}, {"send", "--json"}};
    for (const QStringList& A : Refused)
        EXPECT_EQ(Cli(On(Sim, A)).Status, 2) << A.join(' ').toStdString();
    EXPECT_EQ(Texts(Sim), (std::vector<std::string>{"#CALI145", "#CALI1510", "#INFO"}));
}

// Every reading is printed and marked; only then does the run end with 4.
TEST(CliE2E, ReadingsOutsideMinMaxAreMarkedCountedAndEndWithStatus4) {
    TSimProcess Sim({"--value", "12.5"});
    TRun R = Cli(On(Sim, {"read", "--count", "2", "--min", "13", "--interval", "0"}));
    EXPECT_EQ(R.Status, 4) << R.Err;
    EXPECT_EQ(R.Out, "12.5  below min\n12.5  below min\n");
    EXPECT_EQ(R.Err, "readings outside the limits: 2\n");
    R = Cli(On(Sim, {"read", "--max", "12", "--csv"}));
    EXPECT_EQ(R.Status, 4) << R.Err;
    EXPECT_NE(R.Out.find(",id,limit\n"), std::string::npos) << R.Out;
    EXPECT_EQ(R.Out.substr(R.Out.size() - 6), ",high\n") << R.Out;
    R = Cli(On(Sim, {"read", "--max", "12", "--format", "influx"}));
    EXPECT_NE(R.Out.find(",mode=0i,limit=\"high\" "), std::string::npos) << R.Out;
    R = Cli(On(Sim, {"stream", "--duration", "1", "--min", "-12.5", "--max", "12.5", "--csv"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out.substr(R.Out.size() - 6), ",0,1,\n") << "an empty limit column inside";

    const struct {
        QStringList Args;
        const char* Says;
    } Refused[] = {
        {{"read", "--min", "12,5"}, "--min: '12,5' is not a number (write 12.5, not 12,5)"},
        {{"read", "--min", "3", "--max", "2"}, "--min 3 is above --max 2"},
        {{"info", "--max", "2"}, "--max is for read, stream and poll, not info"},
    };
    const size_t Sent = Sim.Commands().size();
    for (const auto& C : Refused) {
        R = Cli(On(Sim, C.Args));
        EXPECT_EQ(R.Status, 2) << C.Says;
        EXPECT_NE(R.Err.find(C.Says), std::string::npos) << R.Err;
    }
    EXPECT_EQ(Sim.Commands().size(), Sent) << "refused before the port is touched";
}

// The profile comes from XDG_CONFIG_HOME; what the command line gives wins.
TEST(CliE2E, AProfileGivesPortIdAndLimitsAndAMissingOneIsAUsageError) {
    TSimProcess Sim({"--bus", "5,9", "--value", "12.5"});
    QTemporaryDir Config;
    const QByteArray Saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", Config.path().toUtf8());
    QDir().mkpath(Config.filePath("vorta-display/profiles"));
    std::ofstream(Config.filePath("vorta-display/profiles/bench.ini").toStdString())
        << "# bench 3\r\nPort = " << Sim.Path() << "\r\nId=9\r\nCount=2\r\nLow=13\r\n";
    const size_t Before = Sim.Bytes().size();
    TRun R = Cli({"--profile", "bench", "read", "--interval", "0"});
    EXPECT_EQ(R.Status, 4) << R.Err;
    EXPECT_EQ(R.Out, "12.5  below min\n12.5  below min\n");
    EXPECT_EQ(Sim.Bytes().substr(Before), "\xB9\x05\xB9\x05") << "Angle Data to ID 9, twice";
    R = Cli({"--profile", "bench", "read", "--count", "1", "--min", "12"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "12.5\n");
    R = Cli({"--profile", "nope", "info"});
    EXPECT_EQ(R.Status, 2);
    EXPECT_EQ(R.Err, "vorta-cli: no profile 'nope' in " +
                         Config.filePath("vorta-display/profiles").toStdString() +
                         " (see --help)\n");
    qputenv("XDG_CONFIG_HOME", Saved); // empty is the same as unset
}

// Sensor 9 is not on the line: reported once, asked less often, and the
// run fails; the others are read every round. Nothing but Angle Data goes
// on a shared line.
TEST(CliE2E, PollReadsEachSensorInTurnAndReportsOneThatNeverAnswers) {
    TSimProcess Sim({"--bus", "1,5,12", "--value", "2.5"});
    TRun R = Cli(
        On(Sim, {"poll", "--ids", "5,9,12", "--count", "4", "--interval", "0", "--wait", "400"}));
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Out, "5\t2.5\n12\t2.5\n5\t2.5\n12\t2.5\n5\t2.5\n12\t2.5\n5\t2.5\n12\t2.5\n");
    EXPECT_EQ(R.Err, "vorta-cli: sensor 9: no answer to 3 polls in a row; asked every 5 rounds "
                     "until it answers\nvorta-cli: sensor 9 never answered\n");
    EXPECT_TRUE(Texts(Sim).empty());
    EXPECT_EQ(Sim.Bytes(), std::string("\xB5\x05\xB9\x05\xBC\x05\xB5\x05\xB9\x05\xBC\x05"
                                       "\xB5\x05\xB9\x05\xBC\x05\xB5\x05\xBC\x05"));

    R = Cli(On(Sim, {"poll", "--ids", "12,1", "--count", "1", "--json", "--wait", "2000"}));
    EXPECT_EQ(R.Status, 0) << R.Err;
    const QList<QByteArray> Lines = QByteArray::fromStdString(R.Out).trimmed().split('\n');
    ASSERT_EQ(Lines.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject O = QJsonDocument::fromJson(Lines[i]).object();
        EXPECT_EQ(O["id"], i == 0 ? 12 : 1);
        EXPECT_EQ(O["value"], 2.5);
        EXPECT_TRUE(O["mode"].isNull());
        EXPECT_EQ(O["port"].toString().toStdString(), Sim.Path().substr(5));
    }

    const struct {
        QStringList Args;
        const char* Says;
    } Refused[] = {
        {{"poll"}, "poll needs the sensors' IDs: --ids 1,5,12"},
        {{"poll", "--ids", "1,78"}, "--ids: sensor ID 78 is not 1 to 77"},
        {{"poll", "--ids", "5,1,5"}, "--ids: sensor ID 5 is given twice"},
        {{"poll", "--ids", "1,,2"}, "--ids: '' is no sensor ID"},
        {{"poll", "--ids", "0x5"}, "--ids: '0x5' is no sensor ID"},
        {{"read", "--ids", "1"}, "--ids is for poll, not read"},
    };
    for (const auto& F : Refused) {
        R = Cli(On(Sim, F.Args));
        EXPECT_EQ(R.Status, 2) << F.Args.join(' ').toStdString();
        EXPECT_NE(R.Err.find(F.Says), std::string::npos) << R.Err;
    }
}
