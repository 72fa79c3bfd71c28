// SPDX-License-Identifier: GPL-3.0-or-later
// Every control of the window where it always was, with its text, and the
// gauge drawn as it always was: both against references kept in data/.
// VORTA_WRITE_REFERENCES=1 writes the references anew from the window as it
// is (only ever from a build whose window is known to be right).
#include "Dialogs.h"
#include "UVORTA_Display.h"
#include "WindowProbe.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "GR32_Image.h"

namespace {

const QString DataDir = QStringLiteral(VORTA_SOURCE_DIR "/tests/app/data/");

bool Writing() {
    return qEnvironmentVariableIntValue("VORTA_WRITE_REFERENCES") == 1;
}

QString ShownText(const QWidget* W) {
    QString T;
    if (auto* L = qobject_cast<const QLabel*>(W))
        T = L->text();
    else if (auto* B = qobject_cast<const QAbstractButton*>(W))
        T = B->text();
    else if (auto* E = qobject_cast<const QLineEdit*>(W))
        T = E->text();
    else if (auto* G = qobject_cast<const QGroupBox*>(W))
        T = G->title();
    else if (auto* C = qobject_cast<const QComboBox*>(W))
        T = C->currentText();
    return T.replace('\n', "\\n");
}

// One line a widget: its name (an unnamed one by its parent's and its place
// among the parent's children), class, geometry in the client area, whether
// it shows, its text. What the window's font sizes is left out, so that the
// table holds on any machine: a label sized to its text gives its anchor
// only (its top left, or for an edit's caption, which sits on the edit, its
// left and bottom), and what lies outside the client area (the menu bar and
// its lights, sized by the font) no geometry.
QString LayoutTable(TFKAVRO& W) {
    QWidget* Client = Control<QWidget>(W, "ClientArea");
    std::set<const QLabel*> Captions;
    // TLabeledEdit has no meta-object of its own: findChildren would take
    // every line edit for one.
    for (QLineEdit* E : W.findChildren<QLineEdit*>())
        if (auto* L = dynamic_cast<TLabeledEdit*>(E)) Captions.insert(L->EditLabel);
    std::map<const QWidget*, QString> Names{{&W, "window"}};
    QString Table;
    std::function<void(QWidget*)> Walk = [&](QWidget* Parent) {
        int Index = 0;
        for (QObject* O : Parent->children()) {
            auto* C = qobject_cast<QWidget*>(O);
            if (!C || C->isWindow()) continue; // the plot, help, popups
            const QString Name = C->objectName().isEmpty()
                                     ? Names[Parent] + "/#" + QString::number(Index)
                                     : C->objectName();
            ++Index;
            Names[C] = Name;
            QString Geometry = "-";
            if (C == Client || Client->isAncestorOf(C)) {
                const QPoint P = C->mapTo(Client, QPoint(0, 0));
                auto* L = qobject_cast<QLabel*>(C);
                if (L && Captions.count(L))
                    Geometry = QString("x=%1 bottom=%2").arg(P.x()).arg(P.y() + C->height());
                else if (L && C->size() == C->sizeHint())
                    Geometry = QString("x=%1 y=%2").arg(P.x()).arg(P.y());
                else
                    Geometry = QString("%1,%2 %3x%4")
                                   .arg(P.x())
                                   .arg(P.y())
                                   .arg(C->width())
                                   .arg(C->height());
            }
            Table += QString("%1 %2 %3 %4 \"%5\"\n")
                         .arg(Name, C->metaObject()->className(), Geometry,
                              C->isVisibleTo(&W) ? "shown" : "hidden", ShownText(C));
            Walk(C);
        }
    };
    Walk(&W);
    return Table;
}

class LayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OldDir = QDir::currentPath();
        QDir::setCurrent(VORTA_SOURCE_DIR); // the dials under img/
        SetAppFolder(Dir.path().toStdString());
        OldSeam =
            SetDialogSeam({[](const std::string&) {}, [](const std::string&) { return false; }});
        Window = std::make_unique<TFKAVRO>();
        Window->show();
    }
    void TearDown() override {
        Window.reset();
        SetDialogSeam(OldSeam);
        SetAppFolder("");
        QDir::setCurrent(OldDir);
    }
    QString OldDir;
    QTemporaryDir Dir;
    TDialogSeam OldSeam;
    std::unique_ptr<TFKAVRO> Window;
};

} // namespace

TEST_F(LayoutTest, EveryControlKeepsItsPlaceAndText) {
    const QString Table = LayoutTable(*Window);
    QFile F(DataDir + "window-layout.txt");
    if (Writing()) {
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write(Table.toUtf8());
        return;
    }
    ASSERT_TRUE(F.open(QIODevice::ReadOnly)) << F.fileName().toStdString();
    const QStringList Want = QString::fromUtf8(F.readAll()).split('\n');
    const QStringList Got = Table.split('\n');
    for (qsizetype i = 0; i < std::max(Want.size(), Got.size()); ++i)
        ASSERT_EQ(Got.value(i).toStdString(), Want.value(i).toStdString()) << "line " << i + 1;
}

// The dial, the needle at 30 degrees and the readout at -12.3, around the
// dial's centre. The pictures and the needle are our own arithmetic; the
// readout's segments are polygons Qt's painter fills without antialiasing,
// which a renderer may place a shade apart at an edge: each channel may
// differ by Slack. The decimal point is the one of the C locale: a comma
// draws other segments.
TEST_F(LayoutTest, GaugeDrawsAsBefore) {
    const QLocale Was;
    QLocale::setDefault(QLocale::c());
    struct TRestore {
        QLocale L;
        ~TRestore() { QLocale::setDefault(L); }
    } Restore{Was};
    Window->ShowReading(-12.3);
    Window->DrawNeedle(30);
    Window->FlushFrame();
    const QImage Shot = Control<TImage32>(*Window, "Dst")
                            ->grab()
                            .toImage()
                            .copy(110, 120, 180, 140)
                            .convertToFormat(QImage::Format_RGB32);
    const QString Path = DataDir + "gauge.png";
    if (Writing()) {
        ASSERT_TRUE(Shot.save(Path));
        return;
    }
    const QImage Want = QImage(Path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(Shot.size(), Want.size()) << Path.toStdString();
    constexpr int Slack = 2;
    int Off = 0;
    for (int Y = 0; Y < Want.height(); ++Y)
        for (int X = 0; X < Want.width(); ++X) {
            const QRgb A = Shot.pixel(X, Y), B = Want.pixel(X, Y);
            Off += std::abs(qRed(A) - qRed(B)) > Slack || std::abs(qGreen(A) - qGreen(B)) > Slack ||
                   std::abs(qBlue(A) - qBlue(B)) > Slack;
        }
    EXPECT_EQ(Off, 0);
}
