// SPDX-License-Identifier: GPL-3.0-or-later
// The installed package: this build goes through `cmake --install` into a temporary DESTDIR
// once, then the installed programs run from a folder of their own, and the desktop entry,
// metainfo and man pages go through the validators a distribution runs on them, and the
// Debian package through lintian.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

#include <dlfcn.h>

namespace {

const QString AppId = QStringLiteral(VORTA_APP_ID);

QStringList Programs() {
    return QStringLiteral(VORTA_PROGRAMS).split(QLatin1Char(','));
}

struct Outcome {
    int Status = -1;
    QString Out, Err;
};

Outcome RunProgram(const QString& Program, const QStringList& Args, const QString& Folder,
                   const QProcessEnvironment& Env = QProcessEnvironment::systemEnvironment(),
                   int TimeoutMs = 60000) {
    QProcess P;
    P.setWorkingDirectory(Folder);
    P.setProcessEnvironment(Env);
    P.start(Program, Args);
    Outcome R;
    if (!P.waitForFinished(TimeoutMs)) {
        P.kill();
        P.waitForFinished();
        R.Err = QStringLiteral("did not finish: ") + P.errorString();
        return R;
    }
    R.Status = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Out = QString::fromLocal8Bit(P.readAllStandardOutput());
    R.Err = QString::fromLocal8Bit(P.readAllStandardError());
    return R;
}

QString ReadText(const QString& Path) {
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? QString::fromUtf8(F.readAll()) : QString();
}

class Installed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Temp = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(Temp->isValid());
        DestDir = Temp->filePath(QStringLiteral("root"));
        // Installed the way a package build does: prefix /usr below DESTDIR.
        auto Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("DESTDIR"), DestDir);
        const Outcome R = RunProgram(QStringLiteral(VORTA_CMAKE),
                                     {QStringLiteral("--install"), QStringLiteral(VORTA_BUILD_DIR),
                                      QStringLiteral("--prefix"), QStringLiteral("/usr")},
                                     Temp->path(), Env);
        ASSERT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
        Prefix = DestDir + QStringLiteral("/usr");
    }
    static void TearDownTestSuite() { Temp.reset(); }

    void SetUp() override {
        if (Prefix.isEmpty()) GTEST_SKIP() << "the installation failed";
    }

    static QString Path(const QString& Relative) { return Prefix + QLatin1Char('/') + Relative; }

    // An empty folder to run from, with the user's folders inside the temporary tree so
    // that nothing lands in the real home, and no display.
    struct Elsewhere {
        QTemporaryDir Dir;
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        Elsewhere() {
            for (const char* Var : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
                const QString Folder = Dir.filePath(QStringLiteral(".user/") + QLatin1String(Var));
                QDir().mkpath(Folder);
                Env.insert(QLatin1String(Var), Folder);
            }
            Env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            QDir(Dir.path()).mkdir(QStringLiteral("work"));
        }
        QString Work() const { return Dir.filePath(QStringLiteral("work")); }
    };

    static std::unique_ptr<QTemporaryDir> Temp;
    static QString DestDir, Prefix;
};

std::unique_ptr<QTemporaryDir> Installed::Temp;
QString Installed::DestDir, Installed::Prefix;

TEST_F(Installed, LaysOutProgramsDataIconsAndManPagesUnderThePrefix) {
    for (const QString& P : Programs()) {
        EXPECT_TRUE(QFileInfo(Path("bin/" + P)).isExecutable()) << qPrintable(P);
        EXPECT_TRUE(QFileInfo(Path("share/man/man1/" + P + ".1.gz")).isFile()) << qPrintable(P);
    }
    EXPECT_TRUE(QFileInfo(Path("share/doc/vorta-display/copyright")).isFile());
    EXPECT_TRUE(QFileInfo(Path("share/doc/vorta-display/changelog.gz")).isFile());
    // The console's data folder, with the pictures at the sizes the gauge relies on.
    EXPECT_TRUE(QFileInfo(Path("share/vorta-display/help.txt")).isFile());
    EXPECT_EQ(QImage(Path("share/vorta-display/img/arrow2.PNG")).size(), QSize(25, 147));
    for (const char* Dial : {"Mode0.png", "Mode1.png", "Mode2.png", "Mode3.png"})
        EXPECT_EQ(QImage(Path("share/vorta-display/img/") + Dial).size(), QSize(403, 404)) << Dial;

    // The icon at each size of the theme, with a see-through corner and a solid middle.
    for (int Size : {16, 32, 48, 64, 128, 256}) {
        const QString Png =
            Path(QStringLiteral("share/icons/hicolor/%1x%1/apps/").arg(Size) + AppId + ".png");
        const QImage Icon(Png);
        ASSERT_EQ(Icon.size(), QSize(Size, Size)) << qPrintable(Png);
        EXPECT_EQ(qAlpha(Icon.pixel(0, 0)), 0) << Size;
        EXPECT_EQ(qAlpha(Icon.pixel(Size / 2, Size / 2)), 255) << Size;
    }
    const QString Svg = ReadText(Path("share/icons/hicolor/scalable/apps/" + AppId + ".svg"));
    EXPECT_TRUE(Svg.startsWith(QStringLiteral("<?xml"))) << qPrintable(Svg.left(80));
    EXPECT_TRUE(Svg.contains(QStringLiteral("<svg "))) << qPrintable(Svg.left(200));

    // The menu finds the console through its desktop entry, the entry its icon by name, and
    // software centres the entry through the metainfo.
    const QString Desktop = ReadText(Path("share/applications/" + AppId + ".desktop"));
    EXPECT_TRUE(Desktop.contains(QStringLiteral("\nExec=vorta-display\n"))) << qPrintable(Desktop);
    EXPECT_TRUE(Desktop.contains("\nIcon=" + AppId + "\n")) << qPrintable(Desktop);
    const QString Meta = ReadText(Path("share/metainfo/" + AppId + ".metainfo.xml"));
    EXPECT_TRUE(Meta.contains("<id>" + AppId + "</id>")) << qPrintable(Meta);
    EXPECT_TRUE(Meta.contains(">" + AppId + ".desktop</launchable>")) << qPrintable(Meta);
    for (const QString& P : Programs())
        EXPECT_TRUE(Meta.contains("<binary>" + P + "</binary>")) << qPrintable(P);

    // The plot window's module, where the installed console looks for it, loads with
    // everything it needs and has its entry.
    const QByteArray Module = Path("lib/vorta-display/vorta-plotwindow.so").toLocal8Bit();
    void* Handle = dlopen(Module.constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(Handle, nullptr) << dlerror();
    EXPECT_NE(dlsym(Handle, "VortaNewPlotWindow"), nullptr);
}

TEST_F(Installed, DesktopEntryMetainfoAndManPagesPassTheirValidators) {
    const QString Tmp = Temp->path();
    Outcome R = RunProgram(QStringLiteral("desktop-file-validate"),
                           {Path("share/applications/" + AppId + ".desktop")}, Tmp);
    EXPECT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
    EXPECT_EQ(R.Out + R.Err, QString()) << "warnings";
    R = RunProgram(QStringLiteral("appstreamcli"),
                   {QStringLiteral("validate"), QStringLiteral("--no-net"),
                    Path("share/metainfo/" + AppId + ".metainfo.xml")},
                   Tmp);
    EXPECT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
    // groff's own check of the man macros: -ww enables every warning, -z discards the page.
    // The footer names the project's version.
    for (const QString& P : Programs()) {
        R = RunProgram(QStringLiteral("gzip"),
                       {QStringLiteral("-dc"), Path("share/man/man1/" + P + ".1.gz")}, Tmp);
        ASSERT_EQ(R.Status, 0) << qPrintable(P + R.Err);
        EXPECT_TRUE(
            R.Out.section('\n', 0, 0).contains("\"vorta-display " VORTA_PROJECT_VERSION "\""))
            << qPrintable(R.Out.section('\n', 0, 0));
        QFile Page(Temp->filePath(P + ".1"));
        ASSERT_TRUE(Page.open(QIODevice::WriteOnly) && Page.write(R.Out.toUtf8()) > 0);
        Page.close();
        R = RunProgram(
            QStringLiteral("groff"),
            {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z"), Page.fileName()},
            Tmp);
        EXPECT_EQ(R.Status, 0) << qPrintable(P + R.Err);
        EXPECT_EQ(R.Err, QString()) << qPrintable(P);
    }
}

// The publishing service as systemd reads it, its commands pointed into the
// installed tree: known keys only, every command there and executable, and
// the man page it names found.
TEST_F(Installed, PublishingServicePassesSystemdVerify) {
    if (QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty())
        GTEST_SKIP() << "systemd-analyze is missing (Debian's systemd package has it)";
    QString Unit = ReadText(Path("lib/systemd/system/vorta-publish@.service"));
    ASSERT_TRUE(Unit.contains("\nExecStart=/usr/bin/vorta-cli stream ")) << qPrintable(Unit);
    Unit.replace(QStringLiteral("=/usr/"), "=" + Prefix + "/");
    const Elsewhere Away;
    QFile Copy(Away.Dir.filePath(QStringLiteral("vorta-publish@.service")));
    ASSERT_TRUE(Copy.open(QIODevice::WriteOnly) && Copy.write(Unit.toUtf8()) > 0);
    Copy.close();
    QProcessEnvironment Env = Away.Env;
    Env.insert(QStringLiteral("MANPATH"), Path("share/man"));
    const bool Man = !QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty();
    const Outcome R = RunProgram(QStringLiteral("systemd-analyze"),
                                 {QStringLiteral("verify"),
                                  Man ? QStringLiteral("--man=yes") : QStringLiteral("--man=no"),
                                  Copy.fileName()},
                                 Away.Work(), Env);
    EXPECT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
    EXPECT_EQ(R.Out + R.Err, QString());
}

// Every option a program's --help names has an entry of its own in the man page (a tag
// after .TP or .TQ), read when the test runs, so that an option added to a program
// without its entry fails here.
TEST_F(Installed, ManPagesHaveAnEntryForEveryOptionOfTheirProgramsHelp) {
    const Elsewhere Away;
    const QRegularExpression Option(QStringLiteral("--[a-z][a-z0-9-]*"));
    for (const QString& P : Programs()) {
        const Outcome R =
            RunProgram(Path("bin/" + P), {QStringLiteral("--help")}, Away.Work(), Away.Env);
        ASSERT_EQ(R.Status, 0) << qPrintable(P + R.Err);
        const QStringList Lines =
            ReadText(QStringLiteral(VORTA_SOURCE_DIR "/dist/man/") + P + ".1").split('\n');
        QString Tags;
        for (qsizetype i = 1; i < Lines.size(); ++i)
            if (Lines[i - 1] == ".TP" || Lines[i - 1] == ".TQ") Tags += Lines[i] + '\n';
        // The page's source writes a hyphen of an option as "\-".
        Tags.replace(QStringLiteral("\\-"), QStringLiteral("-"));
        ASSERT_FALSE(Tags.isEmpty()) << qPrintable(P);
        QStringList Missing;
        for (auto It = Option.globalMatch(R.Out); It.hasNext();) {
            const QString Name = It.next().captured();
            if (!Tags.contains(
                    QRegularExpression(QRegularExpression::escape(Name) + "(?![a-z0-9-])")) &&
                !Missing.contains(Name))
                Missing << Name;
        }
        EXPECT_EQ(Missing.join(' ').toStdString(), "") << qPrintable(P);
    }
}

TEST_F(Installed, ProgramsPrintTheirUsageWhenRunFromAnotherFolder) {
    const Elsewhere Away;
    for (const QString& P : Programs()) {
        const Outcome R =
            RunProgram(Path("bin/" + P), {QStringLiteral("--help")}, Away.Work(), Away.Env);
        EXPECT_EQ(R.Status, 0) << qPrintable(P + R.Err);
        EXPECT_TRUE(R.Out.contains(P)) << qPrintable(P + ": " + R.Out);
        EXPECT_TRUE(R.Out.contains(QStringLiteral("--help"))) << qPrintable(P + ": " + R.Out);
    }
}

TEST_F(Installed, ProgramsTellTheirVersionWhenRunFromAnotherFolder) {
    const Elsewhere Away;
    for (const QString& P : Programs()) {
        const Outcome R =
            RunProgram(Path("bin/" + P), {QStringLiteral("--version")}, Away.Work(), Away.Env);
        EXPECT_EQ(R.Status, 0) << qPrintable(P + R.Err);
        EXPECT_TRUE(R.Out.contains(QRegularExpression(QStringLiteral("[0-9]+\\.[0-9]+"))))
            << qPrintable(P + ": " + R.Out);
    }
}

// Outcome from an empty folder, the console takes its pictures from the installed data folder:
// the dial's plate and bezel are on the screenshot, and nothing is written into the folder
// it was started from.
TEST_F(Installed, ConsoleShowsTheDialWhenRunFromAnotherFolder) {
    const Elsewhere Away;
    const QString Shot = Away.Dir.filePath(QStringLiteral("shot.png"));
    const Outcome R = RunProgram(
        Path("bin/vorta-display"),
        {QStringLiteral("--screenshot"), Shot, QStringLiteral("--delay"), QStringLiteral("1000")},
        Away.Work(), Away.Env);
    ASSERT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
    const QImage Image = QImage(Shot).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(Image.isNull());
    EXPECT_EQ(QDir(Away.Work()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    // Installed, the settings go to the user's folder even though this
    // program folder, like /usr/bin for root, could be written.
    EXPECT_EQ(QDir(Path("bin"))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                  .join(' ')
                  .toStdString(),
              "vorta-cli vorta-display vorta-sim");
    EXPECT_TRUE(QFileInfo::exists(
        Away.Dir.filePath(QStringLiteral(".user/XDG_CONFIG_HOME/vorta-display/UserSet.dat"))));
    // The gauge view sits at (200, 272) of the window, the dial centre 202, 200 into it.
    // Without the pictures the view is plain dark grey; with them the needle stands red
    // above the centre over the white face.
    const QPoint Centre(200 + 202, 272 + 200);
    const QRgb Needle = Image.pixel(Centre - QPoint(0, 80));
    const QRgb Face = Image.pixel(Centre + QPoint(60, 0));
    EXPECT_TRUE(qRed(Needle) > 150 && qGreen(Needle) < 100) << std::hex << Needle;
    EXPECT_TRUE(qRed(Face) > 230 && qGreen(Face) > 230 && qBlue(Face) > 230) << std::hex << Face;
}

// The package as a user gets it: built by CPack from this build, then checked by the
// tool Debian checks its packages with. An override needs a reason in dist/lintian-overrides.
TEST(DebianPackage, LintianReportsNoErrorOrWarning) {
#ifdef VORTA_INSTRUMENTED
    GTEST_SKIP() << "packages are made from the normal build, not a sanitizer build";
#endif
    if (QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty())
        GTEST_SKIP() << "lintian is not installed (scripts/deps.sh installs it)";
    QTemporaryDir Out;
    ASSERT_TRUE(Out.isValid());
    Outcome R = RunProgram(QStringLiteral(VORTA_CPACK),
                           {QStringLiteral("--config"),
                            QStringLiteral(VORTA_BUILD_DIR "/CPackConfig.cmake"),
                            QStringLiteral("-B"), Out.path()},
                           Out.path(), QProcessEnvironment::systemEnvironment(), 300000);
    ASSERT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
    const QStringList Debs = QDir(Out.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    ASSERT_EQ(Debs.size(), 1) << qPrintable(Debs.join(' '));
    R = RunProgram(
        QStringLiteral("lintian"),
        {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), Out.filePath(Debs[0])},
        Out.path(), QProcessEnvironment::systemEnvironment(), 300000);
    EXPECT_EQ(R.Status, 0) << qPrintable(R.Out + R.Err);
    EXPECT_FALSE(R.Out.contains(
        QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption)))
        << qPrintable(R.Out);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
