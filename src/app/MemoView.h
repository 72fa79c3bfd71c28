// The answer log (Memo1): a list view over a ring of lines. An appended line
// is kept at once (so everything that reads the log sees it) and shown with
// the next display frame: all lines of a frame go into the view in one insert
// and one scroll, so a stream of answers costs the view one layout a frame,
// not one per line. All of it belongs to the user-interface thread.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QSize>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// Lines back to back in one ring of bytes, with one offset per line: no
// allocation per line, and dropping the oldest is cheap.
class TLineRing {
public:
    void Push(const std::string& Line);
    void PopFront(size_t Count);
    void Clear();
    size_t Count() const { return FStarts.size(); }
    size_t Length(size_t Index) const { return End(Index) - FStarts[Index]; }
    std::string Line(size_t Index) const; // 0 is the oldest kept

private:
    size_t End(size_t Index) const { return Index + 1 < FStarts.size() ? FStarts[Index + 1] : FBase + FBytes.size(); }
    std::deque<char> FBytes;
    std::deque<size_t> FStarts; // where each line begins, counted from the first byte ever pushed
    size_t FBase = 0;           // that count for FBytes' first byte
};

// The lines as rows. The rows the view knows lag the lines kept until the
// view's next frame (TMemoView::ShowPending).
class TMemoModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role) const override;

    // Keeps Line; then, while over a bound, the oldest line goes (the newest
    // always stays).
    void Append(const std::string& Line);
    void Clear();
    // Tells the view of the lines dropped and appended since the last call.
    // Returns the row of the first new line (-1: none).
    int Publish();
    std::vector<std::string> Lines() const; // every kept line, oldest first
    size_t LineCount() const { return FRing.Count() - FDropped; }
    bool Pending() const { return FDropped > 0 || FRing.Count() > FShown; }
    std::string Line(int Row) const { return FRing.Line(static_cast<size_t>(Row)); }

    size_t MaxLines = 100000;
    size_t MaxChars = 16 * 1024 * 1024; // bytes of text plus one per line break
    QSize ItemSize;                     // every row's size (uniform rows)

private:
    void DropOldest();
    TLineRing FRing;
    size_t FShown = 0;   // rows the view has: FRing's first FShown lines
    size_t FDropped = 0; // of those, the oldest ones gone from the log already
    size_t FBytes = 0;   // text bytes of the kept lines
};

class TMemoView : public QListView {
public:
    explicit TMemoView(QWidget* Parent = nullptr);

    // Line as received (local 8-bit); every line, empty ones too, is a line.
    void Append(const std::string& Line);
    void Clear();
    std::vector<std::string> Lines() const { return FModel->Lines(); }
    QString Text() const; // the lines joined by '\n', as a plain text memo gives them
    int LineCount() const { return static_cast<int>(FModel->LineCount()); }
    size_t MaxChars() const { return FModel->MaxChars; }
    void SetMaxChars(size_t Value) { FModel->MaxChars = Value; }
    // The selected lines, in their order, to the clipboard (Ctrl+C).
    void CopySelection() const;
    // Shows what was appended since the last frame at once.
    void ShowPending();

    static constexpr int FrameMs = 16;

protected:
    void keyPressEvent(QKeyEvent* Event) override;

private:
    TMemoModel* FModel;
    QTimer FFrame;
    int FWidest = 0; // pixels of the widest line shown since the last Clear
};
