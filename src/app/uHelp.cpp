#include "uHelp.h"

#include "AppPaths.h"
#include "Application.h"
#include "FileAccess.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

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
    mHelp->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
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
