// SPDX-License-Identifier: GPL-3.0-or-later
#include "uHelp.h"

#include "AppPaths.h"
#include "Application.h"
#include "FileAccess.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace {

// The help text lines its columns up with spaces, so it needs a font whose
// glyphs really are of one width. The system's fixed font is not always one:
// Noto Sans Mono, the fixed font where it is installed, is not marked
// monospaced by fontconfig and Qt then substitutes a proportional face.
QFont FixedPitchFont() {
    QFont F = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (QFontInfo(F).fixedPitch()) return F;
    const QStringList Installed = QFontDatabase::families();
    for (const char* Family : {"DejaVu Sans Mono", "Liberation Mono", "Noto Mono"}) {
        if (!Installed.contains(QString::fromLatin1(Family))) continue;
        QFont Candidate(QString::fromLatin1(Family), F.pointSize());
        if (QFontInfo(Candidate).fixedPitch()) return Candidate;
    }
    F.setStyleHint(QFont::TypeWriter);
    F.setFixedPitch(true);
    return F;
}

} // namespace

TfHelp::TfHelp(QWidget* Owner) : QWidget(Owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Help");
    QFont F("MS Sans Serif");
    F.setPixelSize(11);
    setFont(F);
    setFixedSize(710, 521);
    if (QScreen* S = QGuiApplication::primaryScreen())
        move(S->availableGeometry().center() - rect().center());
    mHelp = new QPlainTextEdit(this);
    mHelp->setGeometry(0, 0, 713, 521);
    mHelp->setFont(FixedPitchFont());
    mHelp->setLineWrapMode(QPlainTextEdit::NoWrap);
    mHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mHelp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A missing help text is reported like any other failure; the window
    // still opens, empty.
    RunHandler(this, [this] { FormCreate(); });
    show();
}

void TfHelp::FormCreate() {
    // A help text is small; the limit only keeps a runaway file from
    // filling the memory.
    const std::string Text = ReadRegularFile(DataFile("help.txt"), 16u << 20);
    // The text is 8-bit; lines may end in CR LF or LF.
    QString Lines = QString::fromLocal8Bit(Text.c_str(), static_cast<qsizetype>(Text.size()));
    Lines.replace("\r\n", "\n");
    mHelp->setPlainText(Lines);
}

void TfHelp::keyPressEvent(QKeyEvent* Event) {
    // The memo leaves Esc to its window.
    if (Event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(Event);
}
