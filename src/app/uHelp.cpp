#include "uHelp.h"

#include "Application.h"
#include "SysUtils.h"
#include "UVORTA_Display.h"

#include <QGuiApplication>
#include <QScreen>

#include <cerrno>
#include <cstring>
#include <fstream>

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
    mHelp->setLineWrapMode(QPlainTextEdit::NoWrap);
    mHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mHelp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A missing help text is reported like any other failure; the window
    // still opens, empty.
    RunHandler(this, [this] { FormCreate(); });
    show();
}

void TfHelp::FormCreate() {
    const std::string Path = AppFile("help.txt");
    std::ifstream In(Path, std::ios::binary);
    if (!In) throw EInOutError(std::string("Cannot open file \"") + Path + "\". " + std::strerror(errno));
    std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    // The text is 8-bit; lines may end in CR LF or LF.
    QString Lines = QString::fromLocal8Bit(Text.c_str(), static_cast<qsizetype>(Text.size()));
    Lines.replace("\r\n", "\n");
    mHelp->setPlainText(Lines);
}
