#include "MemoView.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyleOptionViewItem>

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

int TMemoModel::rowCount(const QModelIndex& Parent) const {
    return Parent.isValid() ? 0 : static_cast<int>(FShown);
}

QVariant TMemoModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || static_cast<size_t>(Index.row()) >= FShown) return {};
    if (Role == Qt::DisplayRole) {
        const std::string L = FRing.Line(static_cast<size_t>(Index.row()));
        return QString::fromLocal8Bit(L.data(), static_cast<qsizetype>(L.size()));
    }
    if (Role == Qt::SizeHintRole && ItemSize.isValid()) return ItemSize;
    return {};
}

void TMemoModel::Append(const std::string& Line) {
    FRing.Push(Line);
    FBytes += Line.size();
    // A sensor that never sends CR fills the log with long pieces: the bound
    // on characters holds as well as the one on lines.
    while (LineCount() > 1 && (LineCount() > MaxLines || FBytes + LineCount() - 1 > MaxChars))
        DropOldest();
}

void TMemoModel::DropOldest() {
    FBytes -= FRing.Length(FDropped);
    if (FDropped < FShown) {
        // The view shows it until its next frame takes it off.
        ++FDropped;
        return;
    }
    // Every row the view has is gone already and a line not shown yet goes
    // too (a burst within one frame): the view lets go of its rows now, once,
    // and the unseen line is dropped at once.
    if (FShown > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(FShown) - 1);
        FRing.PopFront(FShown);
        FShown = 0;
        FDropped = 0;
        endRemoveRows();
    }
    FRing.PopFront(1);
}

void TMemoModel::Clear() {
    beginResetModel();
    FRing.Clear();
    FShown = 0;
    FDropped = 0;
    FBytes = 0;
    endResetModel();
}

int TMemoModel::Publish() {
    if (FDropped > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(FDropped) - 1);
        FRing.PopFront(FDropped);
        FShown -= FDropped;
        FDropped = 0;
        endRemoveRows();
    }
    if (FRing.Count() == FShown) return -1;
    const int First = static_cast<int>(FShown);
    beginInsertRows(QModelIndex(), First, static_cast<int>(FRing.Count()) - 1);
    FShown = FRing.Count();
    endInsertRows();
    return First;
}

std::vector<std::string> TMemoModel::Lines() const {
    std::vector<std::string> Out;
    Out.reserve(LineCount());
    for (size_t i = FDropped; i < FRing.Count(); ++i)
        Out.push_back(FRing.Line(i));
    return Out;
}

TMemoView::TMemoView(QWidget* Parent) : QListView(Parent), FModel(new TMemoModel(this)) {
    setModel(FModel);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Like a plain text memo without word wrap: a long line runs on to the
    // right (cut, not elided) and the horizontal scroll bar reaches it.
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* Copy = new QAction(tr("&Copy"), this);
    Copy->setShortcut(QKeySequence::Copy);
    Copy->setShortcutContext(Qt::WidgetShortcut);
    connect(Copy, &QAction::triggered, this, [this] { CopySelection(); });
    auto* All = new QAction(tr("Select &All"), this);
    All->setShortcut(QKeySequence::SelectAll);
    All->setShortcutContext(Qt::WidgetShortcut);
    connect(All, &QAction::triggered, this, [this] { selectAll(); });
    addActions({Copy, All});
    setContextMenuPolicy(Qt::ActionsContextMenu);
    FFrame.setSingleShot(true);
    FFrame.setInterval(FrameMs);
    connect(&FFrame, &QTimer::timeout, this, [this] { ShowPending(); });
}

void TMemoView::Append(const std::string& Line) {
    FModel->Append(Line);
    // Idle means idle: the frame timer runs only while something waits.
    if (!FFrame.isActive()) FFrame.start();
}

void TMemoView::Clear() {
    FFrame.stop();
    FModel->Clear();
    FModel->ItemSize = QSize();
    FWidest = 0;
}

QString TMemoView::Text() const {
    QString Out;
    bool First = true;
    for (const std::string& L : FModel->Lines()) {
        if (!First) Out += '\n';
        First = false;
        Out += QString::fromLocal8Bit(L.data(), static_cast<qsizetype>(L.size()));
    }
    return Out;
}

void TMemoView::ShowPending() {
    FFrame.stop();
    if (!FModel->Pending()) return;
    const bool AtBottom = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    const int First = FModel->Publish();
    if (First >= 0) {
        // Rows share one size, as wide as the widest line, so that the
        // horizontal scroll bar reaches the end of every line.
        const QFontMetrics Metrics(font());
        int Widest = FModel->ItemSize.isValid() ? FWidest : -1;
        int WidestRow = -1;
        for (int Row = First; Row < FModel->rowCount(); ++Row) {
            const std::string L = FModel->Line(Row);
            const int W = Metrics.horizontalAdvance(
                QString::fromLocal8Bit(L.data(), static_cast<qsizetype>(L.size())));
            if (W > Widest) {
                Widest = W;
                WidestRow = Row;
            }
        }
        if (WidestRow >= 0) {
            FWidest = Widest;
            QStyleOptionViewItem Option;
            initViewItemOption(&Option);
            FModel->ItemSize = QSize();
            const QSize Hint = itemDelegate()->sizeHint(Option, FModel->index(WidestRow));
            FModel->ItemSize = QSize(std::max(Hint.width(), FWidest), Hint.height());
        }
    }
    if (AtBottom) scrollToBottom();
}

void TMemoView::CopySelection() const {
    QModelIndexList Selected = selectionModel()->selectedRows();
    if (Selected.isEmpty()) return;
    std::sort(Selected.begin(), Selected.end(),
              [](const QModelIndex& A, const QModelIndex& B) { return A.row() < B.row(); });
    QStringList Lines;
    for (const QModelIndex& I : Selected)
        Lines.append(I.data().toString());
    QGuiApplication::clipboard()->setText(Lines.join('\n'));
}

void TMemoView::keyPressEvent(QKeyEvent* Event) {
    // The item view's own copy takes the current line only.
    if (Event->matches(QKeySequence::Copy)) {
        CopySelection();
        Event->accept();
        return;
    }
    QListView::keyPressEvent(Event);
}
