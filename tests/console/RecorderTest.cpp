// SPDX-License-Identifier: GPL-3.0-or-later
#include "Recorder.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadAll(const std::string& Path) {
    std::ifstream F(Path, std::ios::binary);
    std::stringstream S;
    S << F.rdbuf();
    return S.str();
}

} // namespace

TEST(Recorder, QuotingRowNumberAndTimeFollowTheFormat) {
    const struct {
        const char* Field;
        const char* Quoted;
    } Cases[] = {
        {"", ""},
        {"#INFO", "#INFO"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"lf\n", "\"lf\n\""},
        {" blank ", " blank "},
        {"\xC3\xA9", "\xC3\xA9"}, // UTF-8 passes as it is
    };
    for (const auto& C : Cases)
        EXPECT_EQ(TRecorder::Quote(C.Field), C.Quoted) << C.Field;

    EXPECT_EQ(TRecorder::Row("2024-01-31T09:05:07.123+01:00", 1.5,
                             {"answer", "", "V:4100,I:B1", "pts/3", "0", "1"}),
              "2024-01-31T09:05:07.123+01:00,1.500,answer,,\"V:4100,I:B1\",pts/3,0,1");
    EXPECT_EQ(TRecorder::Row("t", 0.0004, {"reading", "-12.5", "", "", "", ""}),
              "t,0.000,reading,-12.5,,,,");
    for (const auto& [V, Text] :
         std::initializer_list<std::pair<double, const char*>>{{12.5, "12.5"},
                                                               {-0.05, "-0.05"},
                                                               {55.0, "55"},
                                                               {1e-7, "1e-07"},
                                                               {123456.789, "123456.789"}})
        EXPECT_EQ(TRecorder::Number(V), Text);

    // The offset is the local one, written as +hh:mm.
    const char* OldTz = std::getenv("TZ");
    const std::string Saved = OldTz ? OldTz : "";
    setenv("TZ", "<+0530>-5:30", 1);
    tzset();
    EXPECT_EQ(TRecorder::LocalTime(
                  std::chrono::system_clock::time_point(std::chrono::milliseconds(1706691907123))),
              "2024-01-31T14:35:07.123+05:30");
    setenv("TZ", "<-03>3", 1);
    tzset();
    EXPECT_EQ(TRecorder::LocalTime(
                  std::chrono::system_clock::time_point(std::chrono::milliseconds(1706691907005))),
              "2024-01-31T06:05:07.005-03:00");
    if (OldTz)
        setenv("TZ", Saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(Recorder, AppendsWithOneHeaderAndStopsWhenTheFileIsRemoved) {
    char Dir[] = "/tmp/recorder-XXXXXX";
    ASSERT_NE(mkdtemp(Dir), nullptr);
    const std::string Path = std::string(Dir) + "/rec.csv";
    {
        TRecorder R;
        R.Open(Path);
        R.Write({"event", "", "recording started", "", "", ""});
        R.Write({"sent", "", "#READ", "pts/3", "", ""});
        EXPECT_EQ(R.Rows(), 2);
        R.Close();
        EXPECT_FALSE(R.Active());
        R.Open(Path); // the same file again: appended, no second header
        R.Write({"reading", "1.5", "1.50", "pts/3", "0", "1"});
    }
    std::string All = ReadAll(Path);
    EXPECT_EQ(All.rfind("time,elapsed_s,kind,value,text,port,mode,id\r\n", 0), 0u);
    EXPECT_EQ(All.find("time,", 1), std::string::npos);
    size_t Lines = 0;
    for (size_t P = 0; (P = All.find("\r\n", P)) != std::string::npos; P += 2)
        ++Lines;
    EXPECT_EQ(Lines, 4u);
    const std::string Last = ",reading,1.5,1.50,pts/3,0,1\r\n";
    EXPECT_EQ(All.substr(All.size() - Last.size()), Last);

    TRecorder R;
    R.Open(Path);
    ASSERT_EQ(std::remove(Path.c_str()), 0);
    EXPECT_THROW(R.Write({"event", "", "lost", "", "", ""}), EInOutError);
    EXPECT_FALSE(R.Active());
    EXPECT_NO_THROW(R.Close());
    // A FIFO in the file's place is refused at once.
    ASSERT_EQ(mkfifo(Path.c_str(), 0600), 0);
    EXPECT_THROW(R.Open(Path), EInOutError);
    std::remove(Path.c_str());
    rmdir(Dir);
}

TEST(Recorder, ARowWrittenInPartIsCutOffSoTheFileEndsWithAWholeRow) {
    char Dir[] = "/tmp/recorder-XXXXXX";
    ASSERT_NE(mkdtemp(Dir), nullptr);
    const std::string Path = std::string(Dir) + "/rec.csv";
    // A file size limit stands for a full disk: the write that crosses it is
    // short, the next one fails (EFBIG once SIGXFSZ is ignored).
    const TRecordRow Row{"reading", "1.5", std::string(100, 'x'), "pts/3", "0", "1"};
    const size_t RowSize = TRecorder::Row(std::string(29, '0'), 0, Row).size() + 2;
    const size_t Limit = std::string(TRecorder::Header).size() + 2 + 2 * RowSize + RowSize / 2;
    rlimit Old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Old), 0);
    const rlimit Small{Limit, Old.rlim_max};
    const auto OldSignal = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Small), 0);
    TRecorder R;
    std::string Error;
    try {
        R.Open(Path);
        for (int i = 0; i < 10; ++i)
            R.Write(Row);
    } catch (const EInOutError& E) {
        Error = E.what();
    }
    setrlimit(RLIMIT_FSIZE, &Old);
    std::signal(SIGXFSZ, OldSignal);

    EXPECT_EQ(Error, "Cannot write \"" + Path + "\": " + std::strerror(EFBIG));
    EXPECT_FALSE(R.Active());
    EXPECT_EQ(R.Rows(), 2);
    const std::string All = ReadAll(Path);
    const std::string Last = ",reading,1.5," + Row.Text + ",pts/3,0,1\r\n";
    ASSERT_EQ(All.size(), Limit - RowSize / 2); // the header and two whole rows
    EXPECT_EQ(All.substr(All.size() - Last.size()), Last);
    std::remove(Path.c_str());
    rmdir(Dir);
}
