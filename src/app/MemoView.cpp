// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoView.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

void TLineRing::Push(const std::string& Line) {
    FStarts.push_back(FBase + FBytes.size());
    FBytes.insert(FBytes.end(), Line.begin(), Line.end());
}

void TLineRing::PopFront(size_t Count) {
    Count = std::min(Count, FStarts.size());
    if (Count == 0) return;
    const size_t NewBase = Count < FStarts.size() ? FStarts[Count] : FBase + FBytes.size();
    FBytes.erase(FBytes.begin(), FBytes.begin() + static_cast<std::ptrdiff_t>(NewBase - FBase));
    FStarts.erase(FStarts.begin(), FStarts.begin() + static_cast<std::ptrdiff_t>(Count));
    FBase = NewBase;
    // A deque keeps its map after a burst; an empty ring gives it back.
    if (FStarts.empty()) Clear();
}

void TLineRing::Clear() {
    std::deque<char>().swap(FBytes);
    std::deque<size_t>().swap(FStarts);
    FBase = 0;
}

std::string TLineRing::Line(size_t Index) const {
    const auto First = FBytes.begin() + static_cast<std::ptrdiff_t>(FStarts[Index] - FBase);
    return std::string(First, First + static_cast<std::ptrdiff_t>(Length(Index)));
}

void TMemoLog::Append(const std::string& Line) {
    FRing.Push(Line);
    FBytes += Line.size();
    // A sensor that never sends CR fills the log with long pieces: the bound
    // on characters holds as well as the one on lines.
    while (LineCount() > 1 && (LineCount() > MaxLines || FBytes + LineCount() - 1 > MaxChars))
        DropOldest();
}

void TMemoLog::DropOldest() {
    FBytes -= FRing.Length(FDropped);
    if (FDropped < FShown) {
        // Shown until the next frame takes it off.
        ++FDropped;
        return;
    }
    // Every row shown is gone already and a line not shown yet goes too (a
    // burst within one frame): the rows go now and the line at once, so that
    // a burst never holds more than the bounds.
    PopFront(FShown + 1);
    FShown = 0;
    FDropped = 0;
}

void TMemoLog::PopFront(size_t Count) {
    FRing.PopFront(Count);
    FFirst += Count;
}

void TMemoLog::Clear() {
    FFirst += FRing.Count();
    FRing.Clear();
    FShown = 0;
    FDropped = 0;
    FBytes = 0;
}

void TMemoLog::Publish() {
    PopFront(FDropped);
    FDropped = 0;
    FShown = FRing.Count();
}

std::vector<std::string> TMemoLog::Lines() const {
    std::vector<std::string> Out;
    Out.reserve(LineCount());
    for (size_t i = FDropped; i < FRing.Count(); ++i)
        Out.push_back(FRing.Line(i));
    return Out;
}

namespace {

bool IsBidiControl(char16_t C) {
    return C == 0x061C || C == 0x200E || C == 0x200F || (C >= 0x202A && C <= 0x202E) ||
           (C >= 0x2066 && C <= 0x2069);
}

// A line as the log shows it. A bidirectional control character would
// reorder what follows it ("U+202E 1.05" reads as another number): it is
// shown as its bytes escaped, as the traffic window shows them.
QString Local(const std::string& S) {
    QString Text = QString::fromLocal8Bit(S.data(), static_cast<qsizetype>(S.size()));
    for (qsizetype i = 0; i < Text.size(); ++i) {
        if (!IsBidiControl(Text[i].unicode())) continue;
        QString Escaped;
        for (const char B : QString(Text[i]).toUtf8())
            Escaped += "\\x" + QString::number(uchar(B), 16).toUpper().rightJustified(2, '0');
        Text.replace(i, 1, Escaped);
        i += Escaped.size() - 1;
    }
    return Text;
}
constexpr int Margin = 3; // pixels left of the text
} // namespace

void TLogScrollBar::paintEvent(QPaintEvent* Event) {
    FPainted = Look();
    FHavePainted = true;
    QScrollBar::paintEvent(Event);
}

void TLogScrollBar::sliderChange(SliderChange Change) {
    if (Change == SliderOrientationChange || Transient()) return QScrollBar::sliderChange(Change);
    if (FHold > 0) {
        FChanged = true;
        return;
    }
    if (Shows()) QScrollBar::sliderChange(Change);
}

void TLogScrollBar::Release() {
    if (--FHold > 0 || !FChanged) return;
    FChanged = false;
    if (Shows()) QScrollBar::sliderChange(SliderValueChange);
}

bool TLogScrollBar::TLook::operator==(const TLook& O) const {
    return Slider == O.Slider && Groove == O.Groove && SubLine == O.SubLine &&
           AddLine == O.AddLine && AtMinimum == O.AtMinimum && AtMaximum == O.AtMaximum;
}

TLogScrollBar::TLook TLogScrollBar::Look() const {
    QStyleOptionSlider O;
    initStyleOption(&O);
    const auto At = [&](QStyle::SubControl C) {
        return style()->subControlRect(QStyle::CC_ScrollBar, &O, C, this);
    };
    return {At(QStyle::SC_ScrollBarSlider),  At(QStyle::SC_ScrollBarGroove),
            At(QStyle::SC_ScrollBarSubLine), At(QStyle::SC_ScrollBarAddLine),
            O.sliderValue == O.minimum,      O.sliderValue == O.maximum};
}

bool TLogScrollBar::Shows() const {
    return !FHavePainted || !(Look() == FPainted);
}

// A bar that shows itself briefly on each change must still be told.
bool TLogScrollBar::Transient() const {
    return style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this);
}

TMemoView::TMemoView(QWidget* Parent) : QAbstractScrollArea(Parent) {
    FVertical = new TLogScrollBar(Qt::Vertical);
    FHorizontal = new TLogScrollBar(Qt::Horizontal);
    setVerticalScrollBar(FVertical);
    setHorizontalScrollBar(FHorizontal);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // On every range change the scroll area lays its bars out again (to show
    // or hide them) and restacks them, which repaints both bars and the window
    // beneath them whole; while streaming the range changes with every frame.
    // Both bars always show, so only a resize needs a new layout, and the
    // scroll area does that one on its own.
    for (QScrollBar* Bar : {verticalScrollBar(), horizontalScrollBar()})
        disconnect(Bar, SIGNAL(rangeChanged(int, int)), this, SLOT(_q_showOrHideScrollBars()));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setCursor(Qt::IBeamCursor);
    auto* Copy = new QAction(tr("&Copy"), this);
    Copy->setShortcut(QKeySequence::Copy);
    connect(Copy, &QAction::triggered, this, [this] { CopySelection(); });
    auto* All = new QAction(tr("Select &All"), this);
    All->setShortcut(QKeySequence::SelectAll);
    connect(All, &QAction::triggered, this, [this] { SelectAll(); });
    // Shown in the context menu; the keys themselves come to keyPressEvent.
    for (QAction* A : {Copy, All})
        A->setShortcutContext(Qt::WidgetShortcut);
    addActions({Copy, All});
    setContextMenuPolicy(Qt::ActionsContextMenu);
    FFrame.setSingleShot(true);
    FFrame.setInterval(FrameMs);
    connect(&FFrame, &QTimer::timeout, this, [this] { ShowPending(); });
}

void TMemoView::Append(const std::string& Line) {
    FLog.Append(Line);
    if (FFrameRequest) return FFrameRequest();
    // Idle means idle: the frame timer runs only while something waits.
    if (!FFrame.isActive()) FFrame.start();
}

void TMemoView::Clear() {
    FFrame.stop();
    FLog.Clear();
    FLayouts.clear();
    FTextLayouts.clear();
    FWidest = 0;
    FSelected = false;
    UpdateScrollBars();
    viewport()->update();
}

QString TMemoView::Text() const {
    QString Out;
    bool First = true;
    for (const std::string& L : FLog.Lines()) {
        if (!First) Out += '\n';
        First = false;
        Out += Local(L);
    }
    return Out;
}

QString TMemoView::RowText(int Row) const {
    return Local(FLog.Row(static_cast<size_t>(Row)));
}

int TMemoView::TopRow() const {
    return verticalScrollBar()->value();
}

int TMemoView::LineHeight() const {
    return fontMetrics().height();
}

void TMemoView::ShowPending() {
    FFrame.stop();
    if (!FLog.Pending()) return;
    QScrollBar* V = verticalScrollBar();
    const bool AtBottom = V->value() >= V->maximum();
    // The range grows before the value follows it: the bars are repainted
    // once for both, and only if the change shows.
    const TLogScrollBar::THold HoldV(*FVertical), HoldH(*FHorizontal);
    const uint64_t TopLine = FLog.First() + static_cast<uint64_t>(V->value());
    const uint64_t OldEnd = FLog.First() + FLog.Rows();
    FLog.Publish();
    // The new lines only are measured: the rows share the widest one's width.
    const size_t From = OldEnd > FLog.First() ? size_t(OldEnd - FLog.First()) : 0;
    for (size_t Row = From; Row < FLog.Rows(); ++Row)
        FWidest = std::max(FWidest, Width(FLog.Row(Row)));
    UpdateScrollBars();
    // The same lines stay in sight unless the newest was: then the newest is.
    if (AtBottom)
        V->setValue(V->maximum());
    else
        V->setValue(TopLine > FLog.First() ? static_cast<int>(TopLine - FLog.First()) : 0);
    // All rows are painted again: moving the old ones on screen instead costs
    // the X server a copy of its own, more than painting their laid-out text.
    viewport()->update();
}

int TMemoView::Width(const std::string& Line) {
    // No line is wider than its characters each at the widest. Streaming,
    // the log holds a long answer and the new lines are short readings:
    // measuring them (shaping each) would find nothing wider. Printable ASCII
    // only, which the font draws itself, without a fallback font's glyphs.
    const bool Plain =
        std::all_of(Line.begin(), Line.end(), [](char C) { return C >= ' ' && C <= '~'; });
    const QFontMetrics Metrics(font());
    if (Plain && FWidest > 0) {
        if (FWidestChar == 0) {
            FWidestChar = Metrics.maxWidth();
            for (char16_t C = ' '; C <= '~'; ++C)
                FWidestChar = std::max(FWidestChar, Metrics.horizontalAdvance(QChar(C)));
        }
        if (FWidestChar > 0 && Line.size() <= size_t(FWidest / FWidestChar)) return 0;
    }
    return Metrics.horizontalAdvance(Local(Line));
}

namespace {
// A scroll bar repaints on every step setting, changed or not, and the log sets
// them each frame while streaming; only a change is passed on.
void SetScrollBar(QScrollBar* Bar, int Maximum, int Page, int Single) {
    if (Bar->minimum() != 0 || Bar->maximum() != Maximum) Bar->setRange(0, Maximum);
    if (Bar->pageStep() != Page) Bar->setPageStep(Page);
    if (Bar->singleStep() != Single) Bar->setSingleStep(Single);
}
} // namespace

void TMemoView::UpdateScrollBars() {
    const int Page = std::max(1, viewport()->height() / std::max(1, LineHeight()));
    SetScrollBar(verticalScrollBar(), std::max(0, RowCount() - Page), Page, 1);
    SetScrollBar(horizontalScrollBar(), std::max(0, FWidest + 2 * Margin - viewport()->width()),
                 viewport()->width(), fontMetrics().averageCharWidth());
}

void TMemoView::resizeEvent(QResizeEvent* Event) {
    QAbstractScrollArea::resizeEvent(Event);
    UpdateScrollBars();
}

void TMemoView::changeEvent(QEvent* Event) {
    QAbstractScrollArea::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) {
        FLayouts.clear();
        FTextLayouts.clear();
        FWidestChar = 0;
        const QFontMetrics Metrics(font());
        FWidest = 0;
        for (int Row = 0; Row < RowCount(); ++Row)
            FWidest = std::max(FWidest, Metrics.horizontalAdvance(RowText(Row)));
        UpdateScrollBars();
    }
}

void TMemoView::paintEvent(QPaintEvent*) {
    QPainter P(viewport());
    const int H = LineHeight();
    const int X = Margin - horizontalScrollBar()->value();
    const uint64_t Low = std::min(FAnchor, FCurrent), High = std::max(FAnchor, FCurrent);
    std::unordered_map<uint64_t, QStaticText> InSight;
    for (int Row = TopRow(), Y = 0; Row < RowCount() && Y < viewport()->height(); ++Row, Y += H) {
        const uint64_t Line = FLog.First() + static_cast<uint64_t>(Row);
        const bool Selected = FSelected && Line >= Low && Line <= High;
        if (Selected)
            P.fillRect(0, Y, viewport()->width(), H, palette().brush(QPalette::Highlight));
        P.setPen(palette().color(Selected ? QPalette::HighlightedText : QPalette::Text));
        const auto Known = FLayouts.find(Line);
        QStaticText& Text =
            InSight.emplace(Line, Known != FLayouts.end() ? std::move(Known->second) : LaidOut(Row))
                .first->second;
        // Placed by its top: the baseline lies the font's ascent below, as drawText's.
        P.drawStaticText(X, Y, Text);
    }
    FLayouts.swap(InSight);
}

QStaticText TMemoView::LaidOut(int Row) {
    const QString Text = RowText(Row);
    const auto Known = FTextLayouts.find(Text);
    if (Known != FTextLayouts.end()) return Known->second;
    QStaticText T(Text);
    T.setTextFormat(Qt::PlainText);
    T.prepare(QTransform(), font());
    if (FTextLayouts.size() >= MaxTextLayouts) FTextLayouts.clear();
    FTextLayouts.emplace(Text, T);
    return T;
}

int TMemoView::RowAt(int Y) const {
    const int Row = TopRow() + (Y < 0 ? -1 : Y / std::max(1, LineHeight()));
    return std::clamp(Row, 0, std::max(0, RowCount() - 1));
}

void TMemoView::SelectRows(int From, int To) {
    if (RowCount() == 0) return;
    FSelected = true;
    FAnchor = FLog.First() + static_cast<uint64_t>(std::clamp(From, 0, RowCount() - 1));
    FCurrent = FLog.First() + static_cast<uint64_t>(std::clamp(To, 0, RowCount() - 1));
    viewport()->update();
}

void TMemoView::SelectAll() {
    SelectRows(0, RowCount() - 1);
}

QString TMemoView::SelectedText() const {
    if (!FSelected) return {};
    QStringList Out;
    const uint64_t Low = std::min(FAnchor, FCurrent), High = std::max(FAnchor, FCurrent);
    for (uint64_t Line = std::max(Low, FLog.First());
         Line <= High && Line < FLog.First() + FLog.Rows(); ++Line)
        Out.append(RowText(static_cast<int>(Line - FLog.First())));
    return Out.join('\n');
}

void TMemoView::CopySelection() const {
    if (FSelected) QGuiApplication::clipboard()->setText(SelectedText());
}

void TMemoView::keyPressEvent(QKeyEvent* Event) {
    if (Event->matches(QKeySequence::Copy)) return CopySelection();
    if (Event->matches(QKeySequence::SelectAll)) return SelectAll();
    const int Step = Event->key() == Qt::Key_Up ? -1 : Event->key() == Qt::Key_Down ? 1 : 0;
    if (Step != 0 && (Event->modifiers() & Qt::ShiftModifier) && RowCount() > 0) {
        const int Anchor =
            FSelected && FAnchor >= FLog.First() ? int(FAnchor - FLog.First()) : TopRow();
        const int Current =
            FSelected && FCurrent >= FLog.First() ? int(FCurrent - FLog.First()) : Anchor;
        SelectRows(Anchor, Current + Step);
        return;
    }
    QAbstractScrollArea::keyPressEvent(Event);
}

void TMemoView::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton || RowCount() == 0)
        return QAbstractScrollArea::mousePressEvent(Event);
    const int Row = RowAt(Event->position().toPoint().y());
    const bool Extend =
        (Event->modifiers() & Qt::ShiftModifier) && FSelected && FAnchor >= FLog.First();
    SelectRows(Extend ? int(FAnchor - FLog.First()) : Row, Row);
}

void TMemoView::mouseMoveEvent(QMouseEvent* Event) {
    if (!(Event->buttons() & Qt::LeftButton) || !FSelected || FAnchor < FLog.First()) return;
    const int Y = Event->position().toPoint().y();
    const int Row = RowAt(Y);
    // Dragging past an edge scrolls on.
    if (Y < 0 || Y >= viewport()->height()) verticalScrollBar()->setValue(Row);
    SelectRows(int(FAnchor - FLog.First()), Row);
}
